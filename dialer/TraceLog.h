#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QPair>
#include <QString>

// A readable trace of one dialer run: time-stamped lines for events, for
// bytes sent ("->") and bytes received ("<-"), control bytes shown by name.
// A trace that was not opened swallows everything. The file is bounded:
// a line that would take it past its limit first moves it to one older
// copy ("KRX1.log" to "KRX1.log.1", replacing the copy before), so the
// trace never holds more than twice the limit on disk.
namespace vts {

class TraceLog {
public:
    static constexpr qint64 kDefaultLimit = qint64{1024} * 1024;
    static constexpr qint64 kMinLimit = qint64{16} * 1024;

    // The older copy of the trace at `path`.
    static QString olderCopy(const QString& path) { return path + QStringLiteral(".1"); }

    void setLimit(qint64 bytes) { m_limit = bytes < kMinLimit ? kMinLimit : bytes; }
    bool open(const QString& path);  // appends
    bool isOpen() const { return m_file.isOpen(); }
    // Every later line shows `shown` as `masked`: how passwords, security
    // codes and PINs are kept out of the file, each in the form the line
    // carries it (e.g. AT+CPIN="1234" as AT+CPIN="***").
    void addMask(const QString& shown, const QString& masked);
    void note(const QString& text);
    void sent(const QByteArray& bytes);
    void received(const QByteArray& bytes);

private:
    void line(const QString& prefix, const QString& text);
    void makeRoom(qint64 bytes);
    QFile m_file;
    QList<QPair<QString, QString>> m_masks;
    qint64 m_limit = kDefaultLimit;
};

}  // namespace vts
