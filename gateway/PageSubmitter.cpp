#include "PageSubmitter.h"

#include "ConfigStore.h"
#include "Database.h"
#include "EventLoop.h"
#include "Paths.h"
#include "QueueFileWriter.h"

#include <QFileInfo>
#include <QSysInfo>

#include <cstdio>

namespace vts::gate {

GatewayLog::GatewayLog(Sink sink) : m_sink(std::move(sink)) {}

void GatewayLog::write(const QString& protocol, const QString& peer, const QString& text) {
    QString line = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    line += QLatin1Char(' ') + protocol;
    if (!peer.isEmpty()) {
        line += QLatin1Char(' ') + peer;
    }
    line += QLatin1Char(' ') + PageSubmitter::headerValue(text, 2000);
    if (m_sink) {
        m_sink(line);
    } else {
        std::fprintf(stdout, "%s\n", line.toLocal8Bit().constData());
        std::fflush(stdout);
    }
}

bool RateLimiter::take(const QString& address, int count, int perMinute, const QDateTime& now,
                       int* waitSeconds) {
    if (perMinute <= 0) {
        return true;
    }
    auto it = m_buckets.find(address);
    if (it == m_buckets.end()) {
        // Forget addresses whose buckets have long been full again.
        if (m_buckets.size() > 10000) {
            m_buckets.clear();
        }
        it = m_buckets.insert(address, Bucket{static_cast<double>(perMinute), now});
    }
    Bucket& b = *it;
    const double elapsed = std::max<double>(0.0, static_cast<double>(b.at.msecsTo(now)) / 1000.0);
    b.pages = std::min<double>(perMinute, b.pages + elapsed * perMinute / 60.0);
    b.at = now;
    if (b.pages + 1e-9 < count) {
        if (waitSeconds) {
            *waitSeconds = static_cast<int>((count - b.pages) * 60.0 / perMinute) + 1;
        }
        return false;
    }
    b.pages -= count;
    return true;
}

PageSubmitter::PageSubmitter(QString workDir, ConfigSource& config, GatewayLog& log,
                             EventLoop& loop)
    : m_workDir(std::move(workDir)), m_config(config), m_log(log), m_loop(loop) {}

const GatewayConfig& PageSubmitter::settings() {
    QString message;
    const GatewayConfig& c = m_config.current(&message);
    if (!message.isEmpty()) {
        m_log.write(QStringLiteral("CONFIG"), QString(), message);
    }
    return c;
}

QString PageSubmitter::headerValue(const QString& value, int width) {
    QString out;
    for (const QChar c : value) {
        out += (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
                c == QChar::ParagraphSeparator)
                   ? QLatin1Char(' ')
                   : c;
    }
    out = out.simplified();
    return out.left(width);
}

QString PageSubmitter::pageText(const QString& subject, const QString& body) {
    const QString s = headerValue(subject, 100000);
    QString b = headerValue(body, 1000000);
    if (s.isEmpty()) {
        return b;
    }
    return b.isEmpty() ? s : s + QStringLiteral(": ") + b;
}

QString PageSubmitter::queueFolder(QString* error) const {
    try {
        if (!configstore::present(m_workDir)) {
            *error = QStringLiteral("no VTSCFG.MDB in %1").arg(m_workDir);
            return {};
        }
        auto db = configstore::open(m_workDir);
        auto rs = db->openTable(QStringLiteral("tblConfig"));
        if (rs->eof()) {
            *error = QStringLiteral("VTSCFG.MDB has no settings row");
            return {};
        }
        QString q = rs->text(QStringLiteral("MessageQueueLocation")).trimmed();
        while (q.size() > 1 && (q.endsWith(QLatin1Char('\\')) || q.endsWith(QLatin1Char('/')))) {
            q.chop(1);
        }
        if (q.isEmpty()) {
            *error = QStringLiteral("MessageQueueLocation is empty");
            return {};
        }
        QString folder = paths::resolve(q, m_workDir);
        if (!QFileInfo(folder).isDir()) {
            *error = QStringLiteral("queue folder %1 does not exist").arg(q);
            return {};
        }
        return folder;
    } catch (const std::exception& e) {
        *error = QStringLiteral("cannot read VTSCFG.MDB: %1").arg(QString::fromLocal8Bit(e.what()));
        return {};
    }
}

SubmitResult PageSubmitter::submit(const PageOrder& order) {
    const GatewayConfig& c = settings();
    SubmitResult r;
    auto refuse = [&](SubmitResult::Status status, const QString& why) {
        r.status = status;
        r.message = why;
        m_log.write(order.protocol, order.peer, QStringLiteral("refused: ") + why);
        return r;
    };
    QList<Recipient> pagers;
    for (const QString& name : order.to) {
        const Recipient* p = c.find(name);
        if (!p) {
            return refuse(SubmitResult::Status::UnknownRecipient,
                          QStringLiteral("unknown recipient %1").arg(headerValue(name, 60)));
        }
        pagers << *p;
    }
    if (pagers.isEmpty()) {
        return refuse(SubmitResult::Status::UnknownRecipient, QStringLiteral("no recipient"));
    }
    const QString text = pageText(order.subject, order.text);
    if (text.isEmpty()) {
        return refuse(SubmitResult::Status::BadText, QStringLiteral("empty message"));
    }
    if (text.size() > c.limits.maxText) {
        return refuse(SubmitResult::Status::BadText,
                      QStringLiteral("message longer than %1 characters").arg(c.limits.maxText));
    }
    QString error;
    const QString folder = queueFolder(&error);
    if (folder.isEmpty()) {
        return refuse(SubmitResult::Status::QueueUnavailable, error);
    }
    if (!m_rate.take(order.peer, static_cast<int>(pagers.size()), c.limits.pagesPerMinute,
                     m_loop.now(), &r.retryAfter)) {
        return refuse(SubmitResult::Status::RateLimited,
                      QStringLiteral("more than %1 pages a minute from this address; try again "
                                     "in %2 seconds")
                          .arg(c.limits.pagesPerMinute)
                          .arg(r.retryAfter));
    }

    const QString computer =
        headerValue(c.computer.isEmpty() ? QSysInfo::machineHostName().toUpper() : c.computer, 30);
    QueueFileWriter writer(folder);
    for (const Recipient& p : pagers) {
        QueueMessage page;
        page.method = QStringLiteral("TAP");
        page.computer = computer;
        page.sender = headerValue(order.sender.isEmpty() ? order.protocol : order.sender, 30);
        page.department = order.protocol;
        page.recipient = p.name;
        page.sentTime = m_loop.now();
        page.tapPhoneNumber = p.phone;
        page.tapPin = p.pin;
        page.blockSize = p.maxChars;
        page.serialSettings = QStringLiteral("1200,E,7,1");
        page.modemInit = QStringLiteral("ATZ");
        page.modemDial = QStringLiteral("ATDT");
        page.message = text;
        const QString name = writer.write(page, &error);
        if (name.isEmpty()) {
            // Files already written for earlier recipients stay: those pages
            // are on their way, and the reply names them.
            r.message = error;
            return refuse(
                SubmitResult::Status::QueueUnavailable,
                QStringLiteral("cannot write the queue file for %1: %2").arg(p.name, error));
        }
        r.files << name;
        m_log.write(order.protocol, order.peer,
                    QStringLiteral("queued %1 for %2 (Ph#=%3 PIN=%4) from %5")
                        .arg(name, p.name, p.phone, p.pin, page.sender));
    }
    return r;
}

}  // namespace vts::gate
