#include "SmtpTransport.h"

#include "CurlSupport.h"
#include "Line.h"
#include "TraceLog.h"

#include <QLocale>
#include <QStringList>

#include <algorithm>

namespace vts {

namespace {

constexpr int kMaxAddress = 254;

// What the trace shows of the dialogue, and which step a reply answered.
struct Trace {
    TraceLog* log = nullptr;
    bool authenticating = false;  // lines after AUTH carry the credentials
    bool envelope = false;        // MAIL FROM went out: replies now judge the page
};

int onDebug(CURL*, curl_infotype type, char* data, size_t size, void* user) {
    auto* t = static_cast<Trace*>(user);
    if (type != CURLINFO_HEADER_OUT && type != CURLINFO_HEADER_IN) {
        return 0;
    }
    const QString text =
        QString::fromUtf8(data, static_cast<qsizetype>(std::min<size_t>(size, 1000))).trimmed();
    if (type == CURLINFO_HEADER_IN) {
        t->log->note(QStringLiteral("<- %1").arg(text));
        if (!text.startsWith(u"334")) {
            t->authenticating = false;
        }
        return 0;
    }
    QString shown = text;
    if (text.startsWith(u"AUTH ", Qt::CaseInsensitive)) {
        t->authenticating = true;
        const QStringList words = text.split(u' ');
        shown = words.size() > 2 ? words.mid(0, 2).join(u' ') + QStringLiteral(" ***") : text;
    } else if (t->authenticating) {
        shown = QStringLiteral("***");
    } else if (text.startsWith(u"MAIL FROM", Qt::CaseInsensitive)) {
        t->envelope = true;
    }
    t->log->note(QStringLiteral("-> %1").arg(shown));
    return 0;
}

struct Upload {
    QByteArray bytes;
    qsizetype at = 0;
};

size_t onRead(char* buffer, size_t size, size_t count, void* user) {
    auto* u = static_cast<Upload*>(user);
    const auto n =
        std::min<qsizetype>(static_cast<qsizetype>(size * count), u->bytes.size() - u->at);
    std::copy_n(u->bytes.constData() + u->at, n, buffer);
    u->at += n;
    return static_cast<size_t>(n);
}

size_t onDiscard(char*, size_t size, size_t count, void*) { return size * count; }

bool ascii(const QString& s) {
    return std::all_of(s.begin(), s.end(), [](QChar c) { return c.unicode() < 0x80; });
}

// A header value: as it is when plain ASCII, else an encoded word.
QByteArray headerText(const QString& s) {
    const QString one = s.simplified();
    if (ascii(one)) {
        return one.toLatin1();
    }
    return "=?UTF-8?B?" + one.toUtf8().toBase64() + "?=";
}

}  // namespace

QString SmtpTransport::address(const QString& pattern, const QString& pin, const QString& phone) {
    QString a = pattern;
    a.replace(QStringLiteral("{pin}"), pin.trimmed(), Qt::CaseInsensitive);
    a.replace(QStringLiteral("{phone}"), phone.trimmed(), Qt::CaseInsensitive);
    const qsizetype at = a.lastIndexOf(u'@');
    if (a.size() > kMaxAddress || at <= 0 || at == a.size() - 1 || a.indexOf(u'@') != at) {
        return {};
    }
    static const QString forbidden = QStringLiteral("<>()[],;:\\\" ");
    for (QChar c : a) {
        if (c.unicode() <= 0x20 || c.unicode() == 0x7F || forbidden.contains(c)) {
            return {};
        }
    }
    return a;
}

QByteArray SmtpTransport::compose(const Mail& m) {
    QByteArray out;
    const auto header = [&](const char* name, const QByteArray& value) {
        out += name;
        out += ": ";
        out += value;
        out += "\r\n";
    };
    header("From", m.from.toUtf8());
    header("To", m.to.toUtf8());
    header("Subject", headerText(m.subject));
    header("Date", QLocale::c()
                       .toString(m.date, QStringLiteral("ddd, dd MMM yyyy HH:mm:ss +0000"))
                       .toLatin1());
    header("Message-ID", '<' + m.messageId.toUtf8() + '>');
    header("MIME-Version", "1.0");
    QString text = m.text;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    if (ascii(text)) {
        header("Content-Type", "text/plain; charset=us-ascii");
        header("Content-Transfer-Encoding", "7bit");
        out += "\r\n";
        out += text.toLatin1().replace('\n', "\r\n");
        out += "\r\n";
        return out;
    }
    header("Content-Type", "text/plain; charset=utf-8");
    header("Content-Transfer-Encoding", "base64");
    out += "\r\n";
    const QByteArray b64 = text.toUtf8().toBase64();
    for (qsizetype i = 0; i < b64.size(); i += 76) {
        out += b64.mid(i, 76) + "\r\n";
    }
    return out;
}

bool SmtpTransport::open(const QList<Page*>& pages) {
    m_curl = curlsupport::newHandle();
    if (!m_curl) {
        setReason(QStringLiteral("cannot start the mail library"));
        return false;
    }
    const auto& o = m_opt.smtp;
    QString host = m_target.host;
    if (host.contains(u':')) {
        host = u'[' + host + u']';
    }
    m_url = QStringLiteral("smtp://%1:%2").arg(host).arg(m_target.port).toUtf8();
    m_from = o.from.toUtf8();
    m_user = o.user.toUtf8();
    m_password = o.password.toUtf8();
    curlsupport::setTransfer(m_curl, m_url, "smtp", timeout());
    curl_easy_setopt(m_curl, CURLOPT_WRITEFUNCTION, onDiscard);
    curl_easy_setopt(m_curl, CURLOPT_READFUNCTION, onRead);
    curl_easy_setopt(m_curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(m_curl, CURLOPT_MAIL_FROM, m_from.constData());
    curl_easy_setopt(m_curl, CURLOPT_USE_SSL, o.starttls ? CURLUSESSL_ALL : CURLUSESSL_NONE);
    if (!m_user.isEmpty()) {
        curl_easy_setopt(m_curl, CURLOPT_USERNAME, m_user.constData());
        curl_easy_setopt(m_curl, CURLOPT_PASSWORD, m_password.constData());
    }
    curlsupport::applyTls(m_curl, o.tls, m_tlsFiles);
    QString error;
    if (!curlsupport::pinAddress(m_curl, m_target.host, m_target.port, timeout(), &m_resolve,
                                 &error)) {
        trace().note(error);
        setReason(error);
        return false;
    }
    trace().note(
        QStringLiteral("mailing %1 page(s) through %2").arg(pages.size()).arg(m_target.describe()));
    return true;
}

Outcome SmtpTransport::send(Page& p) {
    if (Cancellation::requested()) {
        return Outcome::down({});
    }
    // A pattern without a domain is the port's settings at fault, not the
    // page's: no page is refused for it.
    if (!m_opt.smtp.to.contains(u'@')) {
        return Outcome::down(
            QStringLiteral("[smtp] to names no mail domain (e.g. {pin}@pager.example.org)"));
    }
    const QString to = address(m_opt.smtp.to, p.pin, p.rec.phoneNumber);
    if (to.isEmpty()) {
        return Outcome::refused(
            QStringLiteral("no mail address from \"%1\" for this page").arg(m_opt.smtp.to));
    }
    Mail mail;
    mail.from = m_opt.smtp.from;
    mail.to = to;
    mail.subject = m_opt.smtp.subject;
    mail.text = p.text;
    mail.date = QDateTime::currentDateTimeUtc();
    const QString domain = m_opt.smtp.from.mid(m_opt.smtp.from.lastIndexOf(u'@') + 1);
    mail.messageId = QStringLiteral("%1.%2.%3@%4")
                         .arg(p.rec.uniqueId.trimmed())
                         .arg(p.rec.index)
                         .arg(mail.date.toMSecsSinceEpoch())
                         .arg(domain.isEmpty() ? QStringLiteral("localhost") : domain);
    Upload upload{compose(mail)};
    const QByteArray rcpt = to.toUtf8();
    curl_slist* rcpts = curl_slist_append(nullptr, rcpt.constData());
    Trace t{&trace()};
    curl_easy_setopt(m_curl, CURLOPT_MAIL_RCPT, rcpts);
    curl_easy_setopt(m_curl, CURLOPT_READDATA, &upload);
    curl_easy_setopt(m_curl, CURLOPT_INFILESIZE_LARGE,
                     static_cast<curl_off_t>(upload.bytes.size()));
    curl_easy_setopt(m_curl, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(m_curl, CURLOPT_DEBUGFUNCTION, onDebug);
    curl_easy_setopt(m_curl, CURLOPT_DEBUGDATA, &t);
    trace().note(QStringLiteral("mail of %1 bytes to %2").arg(upload.bytes.size()).arg(to));
    const CURLcode rc = curl_easy_perform(m_curl);
    curl_easy_setopt(m_curl, CURLOPT_MAIL_RCPT, nullptr);
    curl_slist_free_all(rcpts);
    long code = 0;
    curl_easy_getinfo(m_curl, CURLINFO_RESPONSE_CODE, &code);
    if (rc == CURLE_OK) {
        return Outcome::sent();
    }
    const QString error = QString::fromUtf8(curl_easy_strerror(rc));
    if (rc == CURLE_ABORTED_BY_CALLBACK) {
        return Outcome::down(QStringLiteral("stopped"));
    }
    // 530: the server takes no mail before STARTTLS or a log-in, whatever
    // the page; a matter of the port's settings.
    if (code == 530) {
        return Outcome::down(QStringLiteral("the mail server asks for STARTTLS or a log-in (530)"));
    }
    // Replies to the envelope and the data judge the page; anything before
    // (greeting, STARTTLS, log-in) or a lost connection judges the server.
    if (t.envelope && code >= 500 && code < 600) {
        return Outcome::refused(QStringLiteral("mail server answered %1").arg(code));
    }
    if (t.envelope && code >= 400 && code < 500) {
        return Outcome::failed(QStringLiteral("mail server answered %1").arg(code));
    }
    trace().note(QStringLiteral("mail failed: %1").arg(error));
    if (rc == CURLE_LOGIN_DENIED) {
        return Outcome::down(QStringLiteral("the mail server refused the log-in"));
    }
    if (rc == CURLE_USE_SSL_FAILED) {
        return Outcome::down(QStringLiteral("the mail server offers no STARTTLS"));
    }
    return Outcome::down(code > 0 ? QStringLiteral("mail server: %1 (%2)").arg(error).arg(code)
                                  : error);
}

void SmtpTransport::close(const QList<Page*>&) {
    curl_slist_free_all(m_resolve);
    m_resolve = nullptr;
    curl_easy_cleanup(m_curl);  // says QUIT on a kept connection
    m_curl = nullptr;
}

SmtpTransport::~SmtpTransport() {
    curl_slist_free_all(m_resolve);
    if (m_curl) {
        curl_easy_cleanup(m_curl);
    }
}

}  // namespace vts
