#include "QueueFile.h"

#include "Conversions.h"
#include "TextFile.h"

#include <cmath>
#include <utility>

namespace vts {

QString QueueMessage::phoneNumber() const { return conv::trim(tapPhoneNumber); }
QString QueueMessage::pin() const { return conv::trim(tapPin); }
PageKind QueueMessage::kind() const {
    return method == QLatin1String("TAP") ? PageKind::Alphanumeric : PageKind::TextFile;
}

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
    auto line = [&lines](int n) -> const QString& { return lines.at(n - 1); };

    QueueMessage m;
    m.method = line(1);
    m.computer = line(2);
    m.clientPath = line(3);
    m.sender = line(4);
    m.department = line(5);
    m.recipient = line(6);
    m.tapPhoneNumber = line(8);
    m.tapPin = line(9);
    m.password = line(10);
    m.serialSettings = line(12);
    m.modemInit = line(13);
    m.modemDial = line(14);
    m.email = line(15);
    m.smtpServer = line(16);
    QString body;
    for (qsizetype i = QueueMessage::kHeaderLines; i < lines.size(); ++i) {
        body += lines.at(i);
    }
    m.message = conv::trim(body);

    const auto sent = conv::parseDateTime(line(7));
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

    const double block = conv::val(line(11));
    if (!std::isfinite(block)) {
        return fail(FormatError::BadBlockSize);
    }
    try {
        m.blockSize = conv::toInt16(block);
    } catch (const conv::OverflowError&) {
        return fail(FormatError::BadBlockSize);
    }

    m.reverseOrder = conv::val(line(17)) != 0.0;
    return m;
}

QStringList lines(const QueueMessage& m) {
    const QDateTime sent = m.sentTime.isValid() ? m.sentTime : QDateTime::currentDateTime();
    QStringList out{m.method,
                    m.computer,
                    m.clientPath,
                    m.sender,
                    m.department,
                    m.recipient,
                    conv::formatDateTime(sent),
                    m.tapPhoneNumber,
                    m.tapPin,
                    m.password,
                    QString::number(m.blockSize),
                    m.serialSettings,
                    m.modemInit,
                    m.modemDial,
                    m.email,
                    m.smtpServer,
                    m.reverseOrder ? QStringLiteral("1") : QStringLiteral("0"),
                    QString(),
                    QString(),
                    QString(),
                    QString(),
                    QString()};
    QString text = m.message;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (!text.isEmpty()) {
        out << text.split(QLatin1Char('\n'));
    }
    return out;
}

QByteArray encode(const QueueMessage& m) {
    QByteArray out;
    for (const QString& l : lines(m)) {
        out += text::toWin1252(l);
        out += "\r\n";
    }
    return out;
}

QString validate(const QueueMessage& m) {
    const std::pair<const char*, const QString*> single[] = {{"method", &m.method},
                                                             {"computer", &m.computer},
                                                             {"client path", &m.clientPath},
                                                             {"sender", &m.sender},
                                                             {"department", &m.department},
                                                             {"recipient", &m.recipient},
                                                             {"phone number", &m.tapPhoneNumber},
                                                             {"PIN", &m.tapPin},
                                                             {"password", &m.password},
                                                             {"serial settings", &m.serialSettings},
                                                             {"modem init string", &m.modemInit},
                                                             {"modem dial string", &m.modemDial},
                                                             {"e-mail", &m.email},
                                                             {"SMTP server", &m.smtpServer}};
    for (const auto& [name, value] : single) {
        if (value->contains(QLatin1Char('\r')) || value->contains(QLatin1Char('\n'))) {
            return QStringLiteral("the %1 must be one line").arg(QString::fromLatin1(name));
        }
    }
    if (m.phoneNumber().size() > QueueMessage::kMaxPhone) {
        return QStringLiteral("the phone number is longer than 30 characters");
    }
    if (m.pin().size() > QueueMessage::kMaxPin) {
        return QStringLiteral("the PIN is longer than 20 characters");
    }
    if (m.blockSize < 0 || m.blockSize > 32767) {
        return QStringLiteral("the block size must be 0 to 32767");
    }
    return {};
}

QString fit(const QString& value, int width) {
    return value.size() > width ? value.left(width) : value;
}

QString oneLine(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n') continue;
        const bool lineBreak =
            c == u'\r' || c == u'\n' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
        out += lineBreak ? QChar(u' ') : c;
    }
    return out;
}

}  // namespace queuefile
}  // namespace vts
