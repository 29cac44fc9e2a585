#include "QueueFile.h"

#include "Conversions.h"

#include <cmath>

namespace vts {

QString QueueMessage::phoneNumber() const { return conv::trim(line(8)); }
QString QueueMessage::pin() const { return conv::trim(line(9)); }

namespace queuefile {

std::optional<QueueMessage> parse(const QStringList& lines, FormatError* error) {
    auto fail = [error](FormatError e) -> std::optional<QueueMessage> {
        if (error) {
            *error = e;
        }
        return std::nullopt;
    };
    if (error) {
        *error = FormatError::None;
    }
    if (lines.size() < QueueMessage::kHeaderLines) {
        return fail(FormatError::TooFewLines);
    }

    QueueMessage m;
    m.header = lines.mid(0, QueueMessage::kHeaderLines);
    QString body;
    for (qsizetype i = QueueMessage::kHeaderLines; i < lines.size(); ++i) {
        body += lines.at(i);
    }
    m.message = conv::trim(body);

    const auto sent = conv::parseDateTime(m.line(7));
    if (!sent) {
        return fail(FormatError::BadSentTime);
    }
    m.sentTime = *sent;

    // The pager control would cut a longer number or PIN and so page the
    // wrong party; such a file is refused instead.
    if (m.phoneNumber().size() > QueueMessage::kMaxPhone) {
        return fail(FormatError::PhoneTooLong);
    }
    if (m.pin().size() > QueueMessage::kMaxPin) {
        return fail(FormatError::PinTooLong);
    }

    const double block = conv::val(m.line(11));
    if (!std::isfinite(block)) {
        return fail(FormatError::BadBlockSize);
    }
    try {
        m.maxCharacters = conv::toInt16(block);
    } catch (const conv::OverflowError&) {
        return fail(FormatError::BadBlockSize);
    }

    m.reverseOrder = conv::val(m.line(17)) != 0.0;
    return m;
}

QString fit(const QString& value, int width) {
    return value.size() > width ? value.left(width) : value;
}

}  // namespace queuefile
}  // namespace vts
