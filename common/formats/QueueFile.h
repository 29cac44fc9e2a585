#pragma once

#include "PortRecord.h"
#include "Statuses.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace vts {

// One queue message file: 22 header lines, each meaning what its position
// says, then the message text. The one model of the file for both sides:
// the server parses what clients drop into the queue folder, and vtspage
// and the gateway write their pages from it. Text fields hold their lines
// as written, untrimmed; the server trims what it stores.
struct QueueMessage {
    static constexpr int kHeaderLines = 22;
    // Longest phone number and PIN the pager control carries without cutting.
    static constexpr int kMaxPhone = PortRecord::kPhoneWidth;
    static constexpr int kMaxPin = PortRecord::kPinWidth;

    QString method = QStringLiteral("TAP");  // 1: "TAP", "UCP", or a file holding the text
    QString computer;                        // 2: the client computer's name
    QString clientPath;                      // 3: where the client keeps its database
    QString sender;                          // 4
    QString department;                      // 5
    QString recipient;                       // 6
    QDateTime sentTime;                      // 7: written as now when not set
    QString tapPhoneNumber;                  // 8: the paging service's number
    QString tapPin;                          // 9: the pager's PIN
    QString password;                        // 10: the paging service's password
    int blockSize = 0;                       // 11: most characters per block
    QString serialSettings;                  // 12: COM port settings
    QString modemInit;                       // 13
    QString modemDial;                       // 14
    QString email;                           // 15
    QString smtpServer;                      // 16
    bool reverseOrder = false;               // 17
    // Lines 18 to 22 are reserved: written empty, ignored when read.
    // Read: lines 23 and on joined without separators, trimmed. Written:
    // its line breaks split it into lines.
    QString message;

    // Lines 8 and 9 trimmed: what the log row and the pager control get.
    QString phoneNumber() const;
    QString pin() const;
    // How the page's text travels: typed ("TAP") or from the file that
    // `method` names. ("UCP" pages are not sent at all.)
    PageKind kind() const;
};

namespace queuefile {

// Why a file was refused.
enum class FormatError { None, TooFewLines, BadSentTime, PhoneTooLong, PinTooLong, BadBlockSize };

// Parses the lines of a file (Windows-1252 already decoded, split by the
// CR/LF rule). Returns nullopt and sets *error for a format error.
std::optional<QueueMessage> parse(const QStringList& lines, FormatError* error = nullptr);

// The file's lines: the 22 header lines, then the text's lines.
QStringList lines(const QueueMessage& m);
// The file's bytes: each line in Windows-1252 (a character the code page
// cannot hold becomes '?') followed by CR LF.
QByteArray encode(const QueueMessage& m);
// What a writer refuses: a header value with a line break, and the widths
// and block size the server would refuse. An empty text when the page is fine.
QString validate(const QueueMessage& m);

// A value cut to a field's width (descriptive fields are shortened, not refused).
QString fit(const QString& value, int width);

// `text` as one line: each line break (CR LF, CR, LF, the Unicode line and
// paragraph separators) becomes one blank. A queue file's lines end at CR,
// so a break left in a message would be lost, joining the words around it.
QString oneLine(const QString& text);

}  // namespace queuefile
}  // namespace vts
