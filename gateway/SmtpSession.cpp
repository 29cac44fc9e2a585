#include "SmtpSession.h"

#include "Accounts.h"
#include "MailText.h"
#include "PageSubmitter.h"

#include <QHostAddress>
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

// Checks the parameters of MAIL FROM: only those EHLO announces (SIZE and
// BODY) are known. Returns the refusal, or an empty text.
QString mailParameterProblem(const QString& params, qint64 maxMail) {
    for (const QString& p : params.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QString key = p.section(QLatin1Char('='), 0, 0).toUpper();
        const QString value = p.section(QLatin1Char('='), 1);
        if (key == QLatin1String("SIZE")) {
            static const QRegularExpression digits(QStringLiteral("^[0-9]{1,20}$"));
            if (!digits.match(value).hasMatch()) {
                return QStringLiteral("501 5.5.4 SIZE takes a number");
            }
            if (value.size() > 18 || value.toLongLong() > maxMail) {
                return QStringLiteral("552 5.3.4 Message size exceeds fixed limit of %1 bytes")
                    .arg(maxMail);
            }
        } else if (key == QLatin1String("BODY")) {
            if (value.compare(QLatin1String("7BIT"), Qt::CaseInsensitive) != 0 &&
                value.compare(QLatin1String("8BITMIME"), Qt::CaseInsensitive) != 0) {
                return QStringLiteral("501 5.5.4 BODY takes 7BIT or 8BITMIME");
            }
        } else {
            return QStringLiteral("555 5.5.4 MAIL parameter %1 not recognised")
                .arg(PageSubmitter::headerValue(key, 30));
        }
    }
    return {};
}

}  // namespace

bool SmtpSession::authAllowed() const {
    // Passwords only under TLS, or where they never leave the machine.
    return encrypted() || QHostAddress(m_peer).isLoopback();
}

void SmtpSession::auth(const QString& arg) {
    if (!m_user.isEmpty()) {
        reply(QStringLiteral("503 5.5.1 Already authenticated"));
        return;
    }
    if (!authAllowed()) {
        reply(QStringLiteral("538 5.7.11 Encryption required for authentication (STARTTLS)"));
        return;
    }
    const QString mechanism = arg.section(QLatin1Char(' '), 0, 0).toUpper();
    const QByteArray initial = arg.section(QLatin1Char(' '), 1).trimmed().toLatin1();
    if (mechanism == QLatin1String("PLAIN")) {
        m_authStep = AuthStep::Plain;
        if (initial.isEmpty()) {
            reply(QStringLiteral("334 "));
        } else {
            authResponse(initial);
        }
    } else if (mechanism == QLatin1String("LOGIN")) {
        m_authStep = AuthStep::LoginUser;
        if (initial.isEmpty()) {
            reply(QStringLiteral("334 VXNlcm5hbWU6"));  // "Username:"
        } else {
            authResponse(initial);
        }
    } else {
        reply(QStringLiteral("504 5.5.4 Unrecognized authentication type"));
    }
}

void SmtpSession::authResponse(const QByteArray& line) {
    if (line == "*") {
        m_authStep = AuthStep::None;
        reply(QStringLiteral("501 5.0.0 Authentication cancelled"));
        return;
    }
    const auto decoded =
        QByteArray::fromBase64Encoding(line, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) {
        m_authStep = AuthStep::None;
        reply(QStringLiteral("501 5.5.2 Cannot decode the response"));
        return;
    }
    QString name;
    QByteArray password;
    switch (m_authStep) {
        case AuthStep::LoginUser:
            m_authName = QString::fromUtf8(*decoded);
            m_authStep = AuthStep::LoginPassword;
            reply(QStringLiteral("334 UGFzc3dvcmQ6"));  // "Password:"
            return;
        case AuthStep::LoginPassword:
            name = m_authName;
            password = *decoded;
            break;
        case AuthStep::Plain: {
            // authorization id NUL authentication id NUL password
            const QList<QByteArray> parts = decoded.decoded.split('\0');
            if (parts.size() == 3) {
                name = QString::fromUtf8(parts[1]);
                password = parts[2];
            }
            break;
        }
        case AuthStep::None:
            return;
    }
    m_authStep = AuthStep::None;
    m_authName.clear();
    if (m_desk.overRate(m_peer)) {
        // No password is hashed for an address over its rate.
        log(QStringLiteral("refused: authentication from an address over its rate"));
        replyAndClose(QStringLiteral("421 4.7.0 Too many failed logins, closing"));
        return;
    }
    const QString hash = m_desk.settings().users.value(name.toUpper());
    if (name.isEmpty() || !Accounts::matches(hash, password)) {
        log(QStringLiteral("refused: authentication failed for %1")
                .arg(PageSubmitter::headerValue(name, 30)));
        if (!m_desk.failedLogin(m_peer)) {
            replyAndClose(QStringLiteral("421 4.7.0 Too many failed logins, closing"));
            return;
        }
        reply(QStringLiteral("535 5.7.8 Authentication credentials invalid"));
        return;
    }
    m_user = name;
    log(QStringLiteral("user %1 authenticated").arg(name));
    reply(QStringLiteral("235 2.7.0 Authentication successful"));
}

QString SmtpSession::domain() { return m_desk.settings().domain; }

void SmtpSession::start() {
    limitLines();
    reply(QStringLiteral("220 %1 Vantrel gateway ESMTP ready").arg(domain()));
}

void SmtpSession::refuse(Refusal /*kind*/, const QString& why) {
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
    m_bareLineEnd = false;
    m_postmaster = false;
}

void SmtpSession::command(const LineReader::Line& line) {
    const Limits limits = m_desk.settings().limits;
    if (line.tooLong) {
        log(QStringLiteral("refused: command line longer than %1 bytes").arg(limits.maxLine));
        reply(QStringLiteral("500 5.5.2 Line too long"));
        return;
    }
    if (m_authStep != AuthStep::None) {
        authResponse(line.text.trimmed());
        return;
    }
    const QString text = QString::fromUtf8(line.text).trimmed();
    const QString verb = text.section(QLatin1Char(' '), 0, 0).toUpper();
    const QString arg = text.section(QLatin1Char(' '), 1).trimmed();
    setCommand(PageSubmitter::headerValue(verb, 12));
    if (line.text.contains('\n') || line.text.contains('\r')) {
        // Only CR LF ends a line; a command holding a lone LF or CR is
        // refused rather than guessed at.
        reply(QStringLiteral("500 5.5.2 Bare LF or CR in a command; lines end with CR LF"));
        return;
    }
    if ((verb == QLatin1String("EHLO") || verb == QLatin1String("HELO")) && arg.isEmpty()) {
        reply(QStringLiteral("501 5.5.4 Syntax: %1 domain").arg(verb));
        return;
    }
    if (verb == QLatin1String("EHLO")) {
        resetTransaction();
        reply(
            QStringLiteral("250-%1 greets %2").arg(domain(), PageSubmitter::headerValue(arg, 100)));
        reply(QStringLiteral("250-SIZE %1").arg(limits.maxMail));
        if (m_desk.settings().starttls && !encrypted()) {
            reply(QStringLiteral("250-STARTTLS"));
        }
        if (m_desk.settings().smtpAuth && authAllowed()) {
            reply(QStringLiteral("250-AUTH PLAIN LOGIN"));
        }
        reply(QStringLiteral("250-8BITMIME"));
        reply(QStringLiteral("250 HELP"));
    } else if (verb == QLatin1String("HELO")) {
        resetTransaction();
        reply(QStringLiteral("250 %1").arg(domain()));
    } else if (verb == QLatin1String("MAIL")) {
        QString address;
        QString params;
        if (m_desk.settings().smtpAuth && m_user.isEmpty()) {
            reply(QStringLiteral("530 5.7.0 Authentication required"));
        } else if (m_haveFrom) {
            reply(QStringLiteral("503 5.5.1 Sender already given"));
        } else if (!parsePath(arg, QStringLiteral("FROM:"), &address, &params)) {
            reply(QStringLiteral("501 5.5.4 Syntax: MAIL FROM:<address>"));
        } else {
            const QString bad = mailParameterProblem(params, limits.maxMail);
            if (bad.startsWith(QLatin1String("552"))) {
                log(QStringLiteral("refused: mail larger than %1 bytes announced")
                        .arg(limits.maxMail));
                reply(bad);
            } else if (!bad.isEmpty()) {
                reply(bad);
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
            const bool postmaster =
                name.compare(QLatin1String("postmaster"), Qt::CaseInsensitive) == 0 &&
                (host.isEmpty() || host == domain());
            bool limited = false;
            QString r;
            if (!params.isEmpty()) {
                reply(QStringLiteral("555 5.5.4 RCPT parameters not recognised"));
            } else if (postmaster) {
                // RFC 5321: mail to the postmaster is always taken. It pages
                // the recipient [smtp] postmaster names, if any.
                const QString to = m_desk.settings().postmaster;
                if (!to.isEmpty() && !m_to.contains(to, Qt::CaseInsensitive)) {
                    m_to << to;
                }
                m_postmaster = true;
                reply(QStringLiteral("250 2.1.5 OK"));
            } else if (host != domain()) {
                log(QStringLiteral("refused: recipient %1 outside %2").arg(shown, domain()));
                reply(QStringLiteral("550 5.7.1 <%1>: relay not permitted, only @%2 is served")
                          .arg(shown, domain()));
            } else if (r = m_desk.lookup(m_peer, name, &limited); r.isEmpty()) {
                log(QStringLiteral("refused: unknown recipient %1").arg(shown));
                if (limited) {
                    reply(QStringLiteral(
                              "450 4.7.1 <%1>: too many unknown recipients, try again later")
                              .arg(shown));
                } else {
                    reply(QStringLiteral("550 5.1.1 <%1>: no such pager recipient").arg(shown));
                }
            } else if (m_to.contains(r, Qt::CaseInsensitive)) {
                reply(QStringLiteral("250 2.1.5 OK"));  // named twice: one page
            } else if (m_to.size() >= limits.maxRecipients) {
                log(QStringLiteral("refused: more than %1 recipients").arg(limits.maxRecipients));
                reply(QStringLiteral("452 4.5.3 Too many recipients"));
            } else {
                m_to << r;
                reply(QStringLiteral("250 2.1.5 OK"));
            }
        }
    } else if (verb == QLatin1String("DATA")) {
        if (!m_haveFrom || (m_to.isEmpty() && !m_postmaster)) {
            reply(QStringLiteral("503 5.5.1 Need MAIL and RCPT before DATA"));
        } else {
            m_inData = true;
            m_mail.clear();
            m_maxMail = limits.maxMail;
            reply(QStringLiteral("354 End data with <CR><LF>.<CR><LF>"));
        }
    } else if (verb == QLatin1String("STARTTLS") && m_desk.settings().starttls && !encrypted()) {
        if (!arg.isEmpty()) {
            reply(QStringLiteral("501 5.5.4 STARTTLS takes no parameters"));
            return;
        }
        reply(QStringLiteral("220 2.0.0 Ready to start TLS"));
        // RFC 3207: what came after STARTTLS in the clear is dropped, and
        // the session starts again from the greeting.
        discardPending();
        resetTransaction();
        if (!startTls()) {
            log(QStringLiteral("refused: TLS could not be started"));
            close();
        }
    } else if (verb == QLatin1String("AUTH") && m_desk.settings().smtpAuth) {
        auth(arg);
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
    setCommand(QStringLiteral("DATA"));
    // Only CR LF . CR LF ends the data: a line is cut at CR LF alone, so
    // LF . LF and the like stay inside this mail, and a mail holding a lone
    // LF or CR is refused at its end rather than read two ways.
    if (!line.tooLong && line.text == ".") {
        m_inData = false;
        finishData();
        return;
    }
    if (line.tooLong) {
        m_lineTooLong = true;
        return;
    }
    if (line.text.contains('\n') || line.text.contains('\r')) {
        m_bareLineEnd = true;
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
    if (m_bareLineEnd) {
        log(QStringLiteral("refused: mail holds a lone LF or CR; lines end with CR LF"));
        reply(QStringLiteral("550 5.6.11 Bare LF or CR in the mail; lines end with CR LF"));
        resetTransaction();
        return;
    }
    if (m_to.isEmpty()) {
        // Only the postmaster, and no recipient set for it: logged, not paged.
        const mail::MailContent content = mail::extract(m_mail);
        log(QStringLiteral("mail for postmaster from %1 taken, not paged: %2")
                .arg(PageSubmitter::headerValue(m_from, 100),
                     PageSubmitter::headerValue(content.subject, 200)));
        resetTransaction();
        reply(QStringLiteral("250 2.0.0 OK"));
        return;
    }
    if (m_desk.overRate(m_peer)) {
        // Over the rate already: the mail is not even read.
        log(QStringLiteral("refused: over the page rate of this address"));
        resetTransaction();
        reply(QStringLiteral("451 4.7.1 Too many pages from this address, try again later"));
        return;
    }
    const mail::MailContent content = mail::extract(m_mail);
    PageOrder order;
    order.protocol = protocol();
    order.peer = m_peer;
    order.sender = content.from.isEmpty() ? m_from : content.from;
    order.to = m_to;
    order.user = m_user;
    order.subject = content.subject;
    order.text = content.text;
    const SubmitResult r = m_desk.submit(order);
    explained();  // the desk logs every page it refuses
    resetTransaction();
    switch (r.status) {
        case SubmitResult::Status::Ok: {
            QStringList ids;
            for (const QString& f : r.files) {
                ids << PageSubmitter::pageId(f);
            }
            reply(QStringLiteral("250 2.0.0 OK queued as %1").arg(ids.join(QLatin1Char(' '))));
        } break;
        case SubmitResult::Status::UnknownRecipient:
            reply(QStringLiteral("550 5.1.1 %1").arg(r.message));
            break;
        case SubmitResult::Status::Forbidden:
            reply(QStringLiteral("550 5.7.1 %1").arg(r.message));
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
