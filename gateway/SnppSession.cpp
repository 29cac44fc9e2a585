#include "SnppSession.h"

#include "Accounts.h"
#include "PageSubmitter.h"

namespace vts::gate {

void SnppSession::start() {
    limitLines();
    reply(QStringLiteral("220 Vantrel gateway SNPP server ready"));
}

void SnppSession::refuse(Refusal /*kind*/, const QString& why) {
    explained();  // the server logged the refusal
    replyAndClose(QStringLiteral("421 %1, closing").arg(why));
}

void SnppSession::timedOut() {
    log(QStringLiteral("refused: no command for too long, disconnected"));
    replyAndClose(QStringLiteral("421 Timeout, closing connection"));
}

void SnppSession::reset() {
    m_pagers.clear();
    m_message.clear();
    m_haveMessage = false;
    m_subject.clear();
}

void SnppSession::dataLine(const LineReader::Line& line) {
    setCommand(QStringLiteral("DATA"));
    const int maxText = m_desk.settings().limits.maxText;
    if (!line.tooLong && line.text == ".") {
        m_inData = false;
        if (m_dataTooLong) {
            log(QStringLiteral("refused: message longer than %1 characters").arg(maxText));
            reply(QStringLiteral("550 Error, message longer than %1 characters").arg(maxText));
        } else {
            m_message = m_data.join(QLatin1Char('\n'));
            m_haveMessage = true;
            reply(QStringLiteral("250 Message OK"));
        }
        m_data.clear();
        return;
    }
    if (line.tooLong) {
        m_dataTooLong = true;
        return;
    }
    QByteArray text = line.text;
    if (text.startsWith("..")) {
        text.remove(0, 1);
    }
    m_dataChars += text.size() + 1;
    if (m_dataChars > maxText * 4L + 4) {
        m_dataTooLong = true;
        return;
    }
    m_data << QString::fromUtf8(text);
}

void SnppSession::command(const LineReader::Line& line) {
    const Limits limits = m_desk.settings().limits;
    if (line.tooLong) {
        log(QStringLiteral("refused: line longer than %1 bytes").arg(limits.maxLine));
        reply(QStringLiteral("550 Error, line longer than %1 bytes").arg(limits.maxLine));
        return;
    }
    // A lone CR or LF inside a line is text: a blank, never a line end.
    QString text = QString::fromUtf8(line.text);
    text.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    text = text.trimmed();
    const QString word = text.section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty);
    // Commands are known by their first four letters ("PAGEr", "MESSage").
    const QString verb = word.left(4).toUpper();
    const QString arg = text.section(QLatin1Char(' '), 1, -1, QString::SectionSkipEmpty).trimmed();
    setCommand(PageSubmitter::headerValue(word, 12).toUpper());
    const bool needsLogin = verb == QLatin1String("PAGE") || verb == QLatin1String("MESS") ||
                            verb == QLatin1String("DATA") || verb == QLatin1String("SEND");
    if (needsLogin && m_desk.settings().snppAuth && m_user.isEmpty()) {
        reply(QStringLiteral("550 Error, Login Required (LOGI <name> <password>)"));
        return;
    }
    if (verb == QLatin1String("PAGE")) {
        // "PAGE <pager id> [password]": the password is not used.
        const QString id = arg.section(QLatin1Char(' '), 0, 0);
        bool limited = false;
        const QString r = id.isEmpty() ? QString() : m_desk.lookup(m_peer, id, &limited);
        if (id.isEmpty()) {
            reply(QStringLiteral("550 Error, Invalid Pager ID"));
        } else if (r.isEmpty()) {
            log(QStringLiteral("refused: unknown recipient %1")
                    .arg(PageSubmitter::headerValue(id, 60)));
            reply(limited ? QStringLiteral("421 Too many unknown pager IDs, try again later")
                          : QStringLiteral("550 Error, Invalid Pager ID"));
            if (limited) {
                close();
            }
        } else if (m_pagers.contains(r, Qt::CaseInsensitive)) {
            reply(QStringLiteral("250 Pager ID Accepted"));  // one page for a name given twice
        } else if (m_pagers.size() >= limits.maxRecipients) {
            log(QStringLiteral("refused: more than %1 pagers in one page")
                    .arg(limits.maxRecipients));
            reply(QStringLiteral("552 Error, Maximum Entries Exceeded"));
        } else {
            m_pagers << r;
            reply(QStringLiteral("250 Pager ID Accepted"));
        }
    } else if (verb == QLatin1String("MESS")) {
        if (m_haveMessage) {
            reply(QStringLiteral("503 Error, Message Already Entered"));
        } else if (arg.isEmpty()) {
            reply(QStringLiteral("550 Error, Invalid Message"));
        } else if (PageSubmitter::characters(arg) > limits.maxText) {
            log(QStringLiteral("refused: message longer than %1 characters").arg(limits.maxText));
            reply(
                QStringLiteral("550 Error, message longer than %1 characters").arg(limits.maxText));
        } else {
            m_message = arg;
            m_haveMessage = true;
            reply(QStringLiteral("250 Message OK"));
        }
    } else if (verb == QLatin1String("DATA")) {
        if (m_haveMessage) {
            reply(QStringLiteral("503 Error, Message Already Entered"));
        } else {
            m_inData = true;
            m_data.clear();
            m_dataChars = 0;
            m_dataTooLong = false;
            reply(QStringLiteral("354 Begin Input; End with <CRLF>'.'<CRLF>"));
        }
    } else if (verb == QLatin1String("SUBJ")) {
        m_subject = arg;
        reply(QStringLiteral("250 Message Subject OK"));
    } else if (verb == QLatin1String("LOGI")) {
        login(arg);
    } else if (verb == QLatin1String("LEVE")) {
        bool ok = false;
        const int level = arg.toInt(&ok);
        reply(ok && level >= 0 && level <= 11 ? QStringLiteral("250 OK, Level Accepted")
                                              : QStringLiteral("550 Error, Invalid Service Level"));
    } else if (verb == QLatin1String("SEND")) {
        send();
    } else if (verb == QLatin1String("RESE")) {
        reset();
        reply(QStringLiteral("250 RESET OK"));
    } else if (verb == QLatin1String("QUIT")) {
        reply(QStringLiteral("221 OK, Goodbye"));
        close();
    } else if (verb == QLatin1String("HELP")) {
        for (const char* h :
             {"214 PAGE <Pager ID> - a recipient name known to this gateway",
              "214 MESS <Message>   - the text of the page",
              "214 DATA             - a text of several lines, ended by a line holding '.'",
              "214 SUBJ <Subject>   - a subject put before the text",
              "214 LOGI <Login ID>  - the sender named in the page",
              "214 SEND             - queues one page for every PAGE given",
              "214 RESE             - forgets the pagers, text and subject",
              "214 QUIT             - ends the session"}) {
            reply(QString::fromLatin1(h));
        }
        reply(QStringLiteral("250 End of Help Information"));
    } else {
        reply(QStringLiteral("500 Command Not Implemented"));
    }
}

void SnppSession::login(const QString& arg) {
    const QString name = arg.section(QLatin1Char(' '), 0, 0);
    if (!m_desk.settings().snppAuth) {
        m_login = name;  // the sender named in the page; no password is asked
        reply(QStringLiteral("250 Login Accepted"));
        return;
    }
    if (m_desk.overRate(m_peer)) {
        // No password is hashed for an address over its rate.
        log(QStringLiteral("refused: login from an address over its rate"));
        replyAndClose(QStringLiteral("421 Too many failed logins, try again later"));
        return;
    }
    const QByteArray password = arg.section(QLatin1Char(' '), 1).toUtf8();
    const QString hash = m_desk.settings().users.value(name.toUpper());
    if (name.isEmpty() || !Accounts::matches(hash, password)) {
        // The password never reaches the log.
        log(QStringLiteral("refused: login failed for %1")
                .arg(PageSubmitter::headerValue(name, 30)));
        if (!m_desk.failedLogin(m_peer)) {
            replyAndClose(QStringLiteral("421 Too many failed logins, try again later"));
            return;
        }
        reply(QStringLiteral("550 Error, Invalid Login"));
        return;
    }
    m_login = name;
    m_user = name;
    log(QStringLiteral("user %1 logged in").arg(name));
    reply(QStringLiteral("250 Login Accepted"));
}

void SnppSession::send() {
    if (m_pagers.isEmpty() || !m_haveMessage) {
        reply(QStringLiteral("503 Error, Pager ID or Message Incomplete"));
        return;
    }
    PageOrder order;
    order.protocol = protocol();
    order.peer = m_peer;
    order.sender = m_login;
    order.user = m_user;
    order.to = m_pagers;
    order.subject = m_subject;
    order.text = m_message;
    const SubmitResult r = m_desk.submit(order);
    explained();  // the desk logs every page it refuses
    reset();
    switch (r.status) {
        case SubmitResult::Status::Ok: {
            QStringList ids;
            for (const QString& f : r.files) {
                ids << PageSubmitter::pageId(f);
            }
            reply(QStringLiteral("250 Message Sent Successfully, page ID %1")
                      .arg(ids.join(QLatin1Char(' '))));
        } break;
        case SubmitResult::Status::UnknownRecipient:
            reply(QStringLiteral("550 Error, Invalid Pager ID"));
            break;
        case SubmitResult::Status::BadText:
        case SubmitResult::Status::Forbidden:
            reply(QStringLiteral("550 Error, %1").arg(r.message));
            break;
        case SubmitResult::Status::RateLimited:
            reply(QStringLiteral("554 Error, too many pages: %1").arg(r.message));
            break;
        case SubmitResult::Status::QueueUnavailable:
            reply(QStringLiteral("554 Error, page not queued, try again later"));
            break;
    }
}

}  // namespace vts::gate
