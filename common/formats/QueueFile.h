#pragma once

#include "PortRecord.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace vts {

// One queue message file, read by position: 22 header lines and the message
// text after them. Holds the lines as read (untrimmed) plus the values the
// log row and the pager control receive. A file that yields a QueueMessage
// has passed every check; the rest are format errors.
struct QueueMessage {
    static constexpr int kHeaderLines = 22;
    // Longest phone number and PIN the pager control carries without cutting.
    static constexpr int kMaxPhone = PortRecord::kPhoneWidth;
    static constexpr int kMaxPin = PortRecord::kPinWidth;

    QStringList header;  // L1..L22 as read
    QString message;     // lines 23.. joined without separators, trimmed

    const QString& line(int n) const { return header.at(n - 1); }  // n = 1..22

    QString method() const { return line(1); }
    QString computerName() const { return line(2); }
    QString clientPath() const { return line(3); }
    QString senderName() const { return line(4); }
    QString phoneNumber() const;     // trimmed L8
    QString pin() const;             // trimmed L9
    QDateTime sentTime;              // L7 converted
    std::int16_t maxCharacters = 0;  // numeric value of L11
    bool reverseOrder = false;       // numeric value of L17 != 0
};

namespace queuefile {

// Why a file was refused.
enum class FormatError { None, TooFewLines, BadSentTime, PhoneTooLong, PinTooLong, BadBlockSize };

// Parses the lines of a file (Windows-1252 already decoded, split by the
// CR/LF rule). Returns nullopt and sets *error for a format error.
std::optional<QueueMessage> parse(const QStringList& lines, FormatError* error = nullptr);

// A value cut to a field's width (descriptive fields are shortened, not refused).
QString fit(const QString& value, int width);

}  // namespace queuefile
}  // namespace vts
