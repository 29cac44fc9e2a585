#include "AlertMailer.h"

#include <QDateTime>
#include <QLocale>
#include <QMetaObject>
#include <QRegularExpression>

#include <curl/curl.h>

#include <cstring>

namespace vts {

namespace {

struct UploadState {
    QByteArray data;
    qsizetype offset = 0;
};

size_t readPayload(char* buffer, size_t size, size_t count, void* userp) {
    auto* s = static_cast<UploadState*>(userp);
    const qsizetype room = static_cast<qsizetype>(size) * static_cast<qsizetype>(count);
    const qsizetype left = s->data.size() - s->offset;
    const qsizetype n = left < room ? left : room;
    if (n <= 0) {
        return 0;
    }
    std::memcpy(buffer, s->data.constData() + s->offset, static_cast<size_t>(n));
    s->offset += n;
    return static_cast<size_t>(n);
}

// Header text without line breaks, so no field can start a header of its own.
QString oneLine(const QString& s) {
    QString out = s;
    out.replace(QLatin1Char('\r'), QLatin1Char(' '));
    out.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return out;
}

}  // namespace

AlertMailer::AlertMailer(QObject* parent) : QObject(parent) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    m_worker = std::thread([this] { run(); });
}

AlertMailer::~AlertMailer() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        m_waiting.clear();
    }
    m_wake.notify_all();
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

void AlertMailer::send(const AlertMail& mail) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (static_cast<int>(m_waiting.size()) < kMaxWaiting) {
            m_waiting.push_back(mail);
            m_wake.notify_one();
            return;
        }
    }
    const QString list = mail.recipientList;
    QMetaObject::invokeMethod(
        this,
        [this, list] { emit mailFinished(false, QStringLiteral("too many mails waiting"), list); },
        Qt::QueuedConnection);
}

void AlertMailer::run() {
    for (;;) {
        AlertMail mail;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_waiting.empty(); });
            if (m_stopping) {
                return;
            }
            mail = m_waiting.front();
            m_waiting.pop_front();
        }
        const QString error = deliver(mail);
        finish(error.isEmpty(), error, mail.recipientList);
    }
}

void AlertMailer::finish(bool ok, const QString& error, const QString& recipientList) {
    QMetaObject::invokeMethod(
        this, [this, ok, error, recipientList] { emit mailFinished(ok, error, recipientList); },
        Qt::QueuedConnection);
}

QStringList AlertMailer::recipients(const QString& list) {
    QStringList out;
    for (const QString& part : list.split(QLatin1Char(','))) {
        const QString a = part.trimmed();
        if (!a.isEmpty()) {
            out << a;
        }
    }
    return out;
}

bool AlertMailer::parseServer(const QString& server, QString* host, int* port) {
    static const QRegularExpression re(
        QStringLiteral("^([A-Za-z0-9](?:[A-Za-z0-9._-]{0,252}))(?::([0-9]{1,5}))?$"));
    const auto m = re.match(server.trimmed());
    if (!m.hasMatch()) {
        return false;
    }
    int p = 25;
    if (m.hasCaptured(2)) {
        p = m.captured(2).toInt();
        if (p < 1 || p > 65535) {
            return false;
        }
    }
    *host = m.captured(1);
    *port = p;
    return true;
}

QByteArray AlertMailer::compose(const AlertMail& mail, const QString& date) {
    QByteArray out;
    out += "Date: " + date.toUtf8() + "\r\n";
    out += "From: \"" + kSenderName.toUtf8() + "\" <" + kEnvelopeFrom.toUtf8() + ">\r\n";
    out += "To: " + oneLine(recipients(mail.recipientList).join(QStringLiteral(", "))).toUtf8() +
           "\r\n";
    out += "Subject: " + oneLine(mail.subject).toUtf8() + "\r\n";
    out += "MIME-Version: 1.0\r\n";
    out += "Content-Type: text/plain; charset=UTF-8\r\n";
    out += "\r\n";
    out += oneLine(mail.body).toUtf8() + "\r\n";
    return out;
}

QString AlertMailer::deliver(const AlertMail& mail) {
    QString host;
    int port = 0;
    if (!parseServer(mail.server, &host, &port)) {
        return QStringLiteral("invalid mail server \"%1\"").arg(oneLine(mail.server));
    }
    const QStringList to = recipients(mail.recipientList);
    if (to.isEmpty()) {
        return QStringLiteral("no recipient");
    }

    CURL* curl = curl_easy_init();
    if (!curl) {
        return QStringLiteral("mail client could not start");
    }

    const QString date = QLocale::c().toString(QDateTime::currentDateTime(),
                                               QStringLiteral("ddd, dd MMM yyyy HH:mm:ss t"));
    UploadState upload{compose(mail, date), 0};
    const QByteArray url = QStringLiteral("smtp://%1:%2").arg(host).arg(port).toUtf8();
    const QByteArray from = "<" + kEnvelopeFrom.toUtf8() + ">";
    curl_slist* rcpt = nullptr;
    for (const QString& a : to) {
        rcpt = curl_slist_append(rcpt, ("<" + oneLine(a) + ">").toUtf8().constData());
    }

    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_MAIL_FROM, from.constData());
    curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, rcpt);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, readPayload);
    curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(m_timeoutSeconds));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, static_cast<long>(m_timeoutSeconds));
    char errbuf[CURL_ERROR_SIZE] = {0};
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errbuf);

    const CURLcode rc = curl_easy_perform(curl);
    curl_slist_free_all(rcpt);
    curl_easy_cleanup(curl);
    if (rc == CURLE_OK) {
        return {};
    }
    const QString reason =
        errbuf[0] ? QString::fromUtf8(errbuf) : QString::fromUtf8(curl_easy_strerror(rc));
    return reason.isEmpty() ? QStringLiteral("mail not sent") : reason;
}

}  // namespace vts
