#include "SmtpSession.h"

#include "MailText.h"
#include "PageSubmitter.h"

#include <QRegularExpression>

namespace vts::gate {

namespace {

// The address inside "<...>" of "FROM:<a@b> SIZE=10", and the parameters.
bool parsePath(const QString& arg, const QString& keyword, QString* address, QString* params) {
    if (!arg.startsWith(keyword, Qt::CaseInsensitive)) {
        return false;
    }
    const QString rest = arg.mid(keyword.size()).trimmed();
    if (rest.startsWith(QLatin1Char('<'))) {
        const auto close = rest.indexOf(QLatin1Char('>'));
        if (close < 0) {
            return false;
        }
        *address = rest.mid(1, close - 1).trimmed();
        *params = rest.mid(close + 1).trimmed();
        return true;
    }
    *address = rest.section(QLatin1Char(' '), 0, 0);
    *params = rest.section(QLatin1Char(' '), 1);
    return !address->isEmpty();
}

}  // namespace

QString SmtpSession::domain() { return m_desk.settings().domain; }

void SmtpSession::start() {
    limitLines();
    reply(QStringLiteral("220 %1 Vantrel gateway ESMTP ready").arg(domain()));
}

void SmtpSession::refuse(const QString& why) {
    explained();  // the server logged the refusal
    replyAndClose(QStringLiteral("421 4.7.0 %1, closing").arg(why));
}

void SmtpSession::timedOut() {
    log(QStringLiteral("refused: nothing received for too long, disconnected"));
    replyAndClose(QStringLiteral("421 4.4.2 %1 Timeout, closing connection").arg(domain()));
}

void SmtpSession::resetTransaction() {
    m_haveFrom = false;
    m_from.clear();
    m_to.clear();
    m_mail.clear();
    m_mailTooBig = false;
    m_lineTooLong = false;
}

void SmtpSession::command(const LineReader::Line& line) {
    const Limits limits = m_desk.settings().limits;
    if (line.tooLong) {
        log(QStringLiteral("refused: command line longer than %1 bytes").arg(limits.maxLine));
        reply(QStringLiteral("500 5.5.2 Line too long"));
        return;
    }
    const QString text = QString::fromUtf8(line.text).trimmed();
    const QString verb = text.section(QLatin1Char(' '), 0, 0).toUpper();
    const QString arg = text.section(QLatin1Char(' '), 1).trimmed();
    if (verb == QLatin1String("EHLO")) {
        resetTransaction();
        reply(
            QStringLiteral("250-%1 greets %2").arg(domain(), PageSubmitter::headerValue(arg, 100)));
        reply(QStringLiteral("250-SIZE %1").arg(limits.maxMail));
        reply(QStringLiteral("250-8BITMIME"));
        reply(QStringLiteral("250 HELP"));
    } else if (verb == QLatin1String("HELO")) {
        resetTransaction();
        reply(QStringLiteral("250 %1").arg(domain()));
    } else if (verb == QLatin1String("MAIL")) {
        QString address;
        QString params;
        if (m_haveFrom) {
            reply(QStringLiteral("503 5.5.1 Sender already given"));
        } else if (!parsePath(arg, QStringLiteral("FROM:"), &address, &params)) {
            reply(QStringLiteral("501 5.5.4 Syntax: MAIL FROM:<address>"));
        } else {
            static const QRegularExpression size(QStringLiteral("(?:^|\\s)SIZE=(\\d+)"),
                                                 QRegularExpression::CaseInsensitiveOption);
            const auto m = size.match(params);
            if (m.hasMatch() && m.captured(1).toLongLong() > limits.maxMail) {
                log(QStringLiteral("refused: mail of %1 bytes is larger than %2")
                        .arg(m.captured(1))
                        .arg(limits.maxMail));
                reply(QStringLiteral("552 5.3.4 Message size exceeds fixed limit of %1 bytes")
                          .arg(limits.maxMail));
            } else {
                m_haveFrom = true;
                m_from = address;
                reply(QStringLiteral("250 2.1.0 OK"));
            }
        }
    } else if (verb == QLatin1String("RCPT")) {
        QString address;
        QString params;
        if (!m_haveFrom) {
            reply(QStringLiteral("503 5.5.1 Need MAIL before RCPT"));
        } else if (!parsePath(arg, QStringLiteral("TO:"), &address, &params)) {
            reply(QStringLiteral("501 5.5.4 Syntax: RCPT TO:<address>"));
        } else {
            const QString name = address.section(QLatin1Char('@'), 0, 0);
            const QString host = address.section(QLatin1Char('@'), 1).toLower();
            const QString shown = PageSubmitter::headerValue(address, 100);
            if (host != domain()) {
                log(QStringLiteral("refused: recipient %1 outside %2").arg(shown, domain()));
                reply(QStringLiteral("550 5.7.1 <%1>: relay not permitted, only @%2 is served")
                          .arg(shown, domain()));
            } else if (!m_desk.settings().find(name)) {
                log(QStringLiteral("refused: unknown recipient %1").arg(shown));
                reply(QStringLiteral("550 5.1.1 <%1>: no such pager recipient").arg(shown));
            } else if (m_to.size() >= limits.maxRecipients) {
                log(QStringLiteral("refused: more than %1 recipients").arg(limits.maxRecipients));
                reply(QStringLiteral("452 4.5.3 Too many recipients"));
            } else {
                m_to << name;
                reply(QStringLiteral("250 2.1.5 OK"));
            }
        }
    } else if (verb == QLatin1String("DATA")) {
        if (!m_haveFrom || m_to.isEmpty()) {
            reply(QStringLiteral("503 5.5.1 Need MAIL and RCPT before DATA"));
        } else {
            m_inData = true;
            m_mail.clear();
            m_maxMail = limits.maxMail;
            reply(QStringLiteral("354 End data with <CR><LF>.<CR><LF>"));
        }
    } else if (verb == QLatin1String("RSET")) {
        resetTransaction();
        reply(QStringLiteral("250 2.0.0 OK"));
    } else if (verb == QLatin1String("NOOP")) {
        reply(QStringLiteral("250 2.0.0 OK"));
    } else if (verb == QLatin1String("VRFY")) {
        reply(QStringLiteral("252 2.5.2 Cannot VRFY, send mail and see"));
    } else if (verb == QLatin1String("HELP")) {
        reply(QStringLiteral("214 2.0.0 Mail to NAME@%1 pages NAME").arg(domain()));
    } else if (verb == QLatin1String("QUIT")) {
        reply(QStringLiteral("221 2.0.0 Bye"));
        close();
    } else {
        reply(QStringLiteral("502 5.5.1 Command not implemented"));
    }
}

void SmtpSession::dataLine(const LineReader::Line& line) {
    if (!line.tooLong && line.text == ".") {
        m_inData = false;
        finishData();
        return;
    }
    if (line.tooLong) {
        m_lineTooLong = true;
        return;
    }
    if (m_mailTooBig) {
        return;
    }
    const QByteArray text = line.text.startsWith('.') ? line.text.mid(1) : line.text;
    if (m_mail.size() + text.size() + 2 > m_maxMail) {
        m_mailTooBig = true;
        m_mail.clear();
        return;
    }
    m_mail += text;
    m_mail += "\r\n";
}

void SmtpSession::finishData() {
    const Limits limits = m_desk.settings().limits;
    if (m_mailTooBig || m_lineTooLong) {
        const QString why =
            m_mailTooBig ? QStringLiteral("mail larger than %1 bytes").arg(limits.maxMail)
                         : QStringLiteral("mail line longer than %1 bytes").arg(limits.maxLine);
        log(QStringLiteral("refused: ") + why);
        reply(QStringLiteral("552 5.3.4 Message refused: %1").arg(why));
        resetTransaction();
        return;
    }
    const mail::MailContent content = mail::extract(m_mail);
    PageOrder order;
    order.protocol = protocol();
    order.peer = m_peer;
    order.sender = content.from.isEmpty() ? m_from : content.from;
    order.to = m_to;
    order.subject = content.subject;
    order.text = content.text;
    const SubmitResult r = m_desk.submit(order);
    explained();  // the desk logs every page it refuses
    resetTransaction();
    switch (r.status) {
        case SubmitResult::Status::Ok:
            reply(QStringLiteral("250 2.0.0 OK queued as %1").arg(r.files.join(QLatin1Char(' '))));
            break;
        case SubmitResult::Status::UnknownRecipient:
            reply(QStringLiteral("550 5.1.1 %1").arg(r.message));
            break;
        case SubmitResult::Status::BadText:
            reply(QStringLiteral("554 5.6.0 Cannot page this mail: %1").arg(r.message));
            break;
        case SubmitResult::Status::RateLimited:
            reply(QStringLiteral("451 4.7.1 Too many pages: %1").arg(r.message));
            break;
        case SubmitResult::Status::QueueUnavailable:
            reply(QStringLiteral("451 4.3.0 Page not queued, try again later"));
            break;
    }
}

}  // namespace vts::gate
