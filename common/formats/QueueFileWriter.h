#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <utility>

namespace vts {

// The header values and text of one page as a client writes it.
struct PageRequest {
    QString method = QStringLiteral("TAP");
    QString computer;
    QString clientPath;
    QString sender;
    QString department;
    QString recipient;
    QDateTime sentTime;
    QString phoneNumber;
    QString pin;
    QString password;
    int blockSize = 0;
    QString serialSettings;
    QString modemInit;
    QString modemDial;
    QString email;
    QString smtpServer;
    bool reverseOrder = false;
    QString message;  // line breaks split it into body lines
};

// Writes queue message files the way a careful client does: the whole file
// under a temporary name that the server never collects, then one rename to
// a fresh "A*.PMF" name that is not used in the queue folder or any of its
// three subfolders. The server therefore never reads half a file. The
// temporary name is ".<program>-<pid>-<random>.tmp". vtspage and vtsgate both
// write through this class.
class QueueFileWriter {
public:
    explicit QueueFileWriter(QString queueFolder) : m_queue(std::move(queueFolder)) {}

    // The file's lines (22 header lines, then the text's lines).
    static QStringList lines(const PageRequest& page);
    // Checks the values a header line cannot carry (line breaks) and the
    // widths the server accepts. Returns an empty text when the page is fine.
    static QString validate(const PageRequest& page);

    // The file's bytes: each line in Windows-1252 (a character the code page
    // cannot hold becomes '?') followed by CR LF.
    static QByteArray encode(const PageRequest& page);

    // Writes the file; returns its final name, or an empty text and *error.
    // On every failure the temporary file is removed again.
    QString write(const PageRequest& page, QString* error = nullptr);

private:
    bool nameInUse(const QString& name) const;
    QString m_queue;
};

}  // namespace vts
