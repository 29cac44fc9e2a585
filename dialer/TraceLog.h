#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// A readable trace of one dialer run: time-stamped lines for events, for
// bytes sent ("->") and bytes received ("<-"), control bytes shown by name.
// A trace that was not opened swallows everything.
namespace vts {

class TraceLog {
public:
    bool open(const QString& path);  // appends
    bool isOpen() const { return m_file.isOpen(); }
    void note(const QString& text);
    void sent(const QByteArray& bytes);
    void received(const QByteArray& bytes);

private:
    void line(const QString& prefix, const QString& text);
    QFile m_file;
};

}  // namespace vts
