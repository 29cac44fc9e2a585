#include "PageSubmitter.h"

#include "ConfigStore.h"
#include "Database.h"
#include "DeliveryStore.h"
#include "EventLoop.h"
#include "LogStore.h"
#include "Paths.h"
#include "QueueFileWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <QSysInfo>
#include <algorithm>

#include <cstdio>

#include "Journal.h"

namespace vts::gate {

GatewayLog::GatewayLog(Sink sink) : m_sink(std::move(sink)) {}

void GatewayLog::write(const QString& protocol, const QString& peer, const QString& text,
                       int priority) {
    QString line = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    line += QLatin1Char(' ') + protocol;
    if (!peer.isEmpty()) {
        line += QLatin1Char(' ') + peer;
    }
    line += QLatin1Char(' ') + PageSubmitter::headerValue(text, 2000);
    if (m_sink) {
        m_sink(line);
    } else {
        // Refusals and settings warnings at warning priority in the journal.
        if (priority < 0) {
            priority =
                text.startsWith(QLatin1String("refused")) || protocol == QLatin1String("CONFIG")
                    ? journal::kWarning
                    : journal::kInfo;
        }
        journal::write(stdout, priority, line);
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

bool RateLimiter::has(const QString& address, int count, int perMinute, const QDateTime& now) {
    if (perMinute <= 0) {
        return true;
    }
    const auto it = m_buckets.constFind(address);
    if (it == m_buckets.constEnd()) {
        return true;
    }
    const double elapsed = std::max<double>(0.0, static_cast<double>(it->at.msecsTo(now)) / 1000.0);
    return std::min<double>(perMinute, it->pages + elapsed * perMinute / 60.0) + 1e-9 >= count;
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

namespace {

// Characters that show nothing: format characters (zero-width space, the
// byte order mark, bidi marks) and controls other than white space.
bool invisible(char32_t c) {
    if (c == U'\t' || c == U'\n' || c == U'\r' || c == 0x0B || c == 0x0C || c == 0x85) {
        return false;  // white space: a blank
    }
    const auto cat = QChar::category(c);
    return cat == QChar::Other_Control || cat == QChar::Other_Format;
}

bool blank(char32_t c) {
    return QChar::isSpace(c) || c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
}

}  // namespace

QString PageSubmitter::headerValue(const QString& value, int width) {
    // Accents written as a letter and a combining mark become the one
    // composed character first, so that they survive Windows-1252.
    const QString composed = value.normalized(QString::NormalizationForm_C);
    QString out;
    out.reserve(composed.size());
    bool pendingBlank = false;
    int chars = 0;
    for (const char32_t c : composed.toUcs4()) {
        if (invisible(c)) {
            continue;
        }
        if (blank(c)) {
            pendingBlank = !out.isEmpty();
            continue;
        }
        if (pendingBlank) {
            if (chars + 1 >= width) {
                break;
            }
            out += QLatin1Char(' ');
            ++chars;
            pendingBlank = false;
        }
        if (chars >= width) {
            break;
        }
        out += QString::fromUcs4(&c, 1);
        ++chars;
    }
    return out;
}

qsizetype PageSubmitter::characters(const QString& text) {
    qsizetype n = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!text[i].isLowSurrogate()) {
            ++n;
        }
    }
    return n;
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

QString PageSubmitter::pageId(const QString& fileName) {
    return fileName.endsWith(QLatin1String(".PMF"), Qt::CaseInsensitive) ? fileName.chopped(4)
                                                                         : fileName;
}

// Keeps who sent the files beside the log, for the console's page detail.
// The pages are queued already: a log that is missing or held by another
// program for more than a moment costs the record (a warning), never a page.
void PageSubmitter::keepUser(const QStringList& files, const PageOrder& order) {
    try {
        if (!logstore::present(m_workDir)) return;
        auto db = logstore::open(m_workDir);
        db->setBusyTimeout(250);
        db->execute(QStringLiteral("BEGIN IMMEDIATE"));
        for (const QString& f : files) logstore::writeGatewayUser(*db, f, order.user);
        db->execute(QStringLiteral("COMMIT"));
    } catch (const std::exception& e) {
        m_log.write(order.protocol, order.peer,
                    QStringLiteral("the user of %1 is not kept: %2")
                        .arg(files.join(QStringLiteral(", ")), QString::fromLocal8Bit(e.what())),
                    4);
    }
}

PageStatus PageSubmitter::status(const QString& id) {
    PageStatus st;
    static const QRegularExpression shape(QStringLiteral("^A[0-9]{1,40}$"));
    if (!shape.match(id).hasMatch()) {
        return st;
    }
    const QString file = id + QStringLiteral(".PMF");
    // The log row first: once the server logged the file, its row holds the
    // outcome (its UniqueID is the file's name).
    try {
        if (logstore::present(m_workDir)) {
            auto db = logstore::open(m_workDir);
            auto rs = db->openQuery(
                QStringLiteral("SELECT ID, Status FROM tblLog WHERE UniqueID = ? ORDER BY ID DESC "
                               "LIMIT 1"),
                {file});
            if (!rs->eof()) {
                static const char* const states[] = {"pending", "sent", "failed", "cancelled"};
                const int code = rs->int32(QStringLiteral("Status"));
                st.found = true;
                st.logId = rs->value(QStringLiteral("ID")).toLongLong();
                st.state = QString::fromLatin1(code >= 0 && code <= 3 ? states[code] : "pending");
                if (code >= 2 && db->hasTable(QStringLiteral("tblCause"))) {
                    auto cause = db->openQuery(
                        QStringLiteral("SELECT Cause FROM tblCause WHERE ID = ?"), {st.logId});
                    if (!cause->eof()) {
                        st.cause = cause->text(QStringLiteral("Cause"));
                    }
                }
                if (code == 1) {
                    if (const auto d =
                            delivery::of(*db, st.logId, delivery::noReceiptMinutes(m_workDir))) {
                        st.delivery = d->state;
                        st.deliveryReason = d->reason;
                    }
                }
                return st;
            }
        }
    } catch (const std::exception&) {
        // No log to read: the folders still tell where the page is.
    }
    QString error;
    const QString queue = queueFolder(&error);
    if (queue.isEmpty()) {
        return st;
    }
    const std::pair<const char*, const char*> places[] = {
        {"", "queued"}, {"/PENDING", "pending"}, {"/SENT", "sent"}, {"/FAILED", "failed"}};
    for (const auto& [sub, state] : places) {
        if (paths::exists(file, paths::resolve(queue + QString::fromLatin1(sub)))) {
            st.found = true;
            st.state = QString::fromLatin1(state);
            return st;
        }
    }
    return st;
}

// How long an answer to an Idempotency-Key is kept: a day.
constexpr qint64 kAnswerSeconds = qint64{24} * 3600;

const StoredAnswer* PageSubmitter::storedAnswer(const QString& key) {
    const auto it = m_answers.constFind(key);
    if (it == m_answers.constEnd()) {
        return nullptr;
    }
    if (it->at.secsTo(m_loop.now()) > kAnswerSeconds) {
        m_answers.remove(key);
        return nullptr;
    }
    return &*it;
}

void PageSubmitter::storeAnswer(const QString& key, const StoredAnswer& answer) {
    if (m_answers.size() >= 100000) {
        // Forget what is past its day; if that is not enough, the oldest half.
        const QDateTime now = m_loop.now();
        m_answers.removeIf([&now](const auto& it) { return it->at.secsTo(now) > kAnswerSeconds; });
        if (m_answers.size() >= 100000) {
            QList<QDateTime> times;
            for (const StoredAnswer& a : std::as_const(m_answers)) {
                times << a.at;
            }
            std::sort(times.begin(), times.end());
            const QDateTime cut = times[times.size() / 2];
            m_answers.removeIf([&cut](const auto& it) { return it->at < cut; });
        }
    }
    m_answers.insert(key, answer);
}

int PageSubmitter::removeStaleTemporaries(const QString& folder) {
    // ".vtsgate-<pid>-<hex>.tmp": a file being written, or one left by a
    // gateway that was killed mid-write. Only the second kind goes: the
    // process is gone, or the number now belongs to another program.
    static const QRegularExpression name(
        QStringLiteral("^\\.vtsgate-([0-9]{1,10})-[0-9a-f]{8}\\.tmp$"));
    int removed = 0;
    const QStringList entries =
        QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& e : entries) {
        const auto m = name.match(e);
        if (!m.hasMatch()) {
            continue;
        }
        const qint64 pid = m.captured(1).toLongLong();
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        const bool running = pid == QCoreApplication::applicationPid() ||
                             (comm.open(QIODevice::ReadOnly) &&
                              comm.readAll().trimmed() == QByteArrayLiteral("vtsgate"));
        if (!running && QFile::remove(QDir(folder).filePath(e))) {
            ++removed;
        }
    }
    return removed;
}

QString PageSubmitter::lookup(const QString& peer, const QString& name, bool* limited) {
    const GatewayConfig& c = settings();
    *limited = false;
    if (const Recipient* r = c.find(name)) {
        return r->name;
    }
    if (c.groups.contains(name.trimmed().toUpper())) {
        return name.trimmed().toUpper();
    }
    if (!m_rate.take(peer, 1, c.limits.pagesPerMinute, m_loop.now())) {
        *limited = true;  // names cannot be tried out faster than pages are sent
    }
    return {};
}

bool PageSubmitter::failedLogin(const QString& peer) {
    const GatewayConfig& c = settings();
    return m_rate.take(peer, 1, c.limits.pagesPerMinute, m_loop.now());
}

bool PageSubmitter::overRate(const QString& peer) {
    return !m_rate.has(peer, 1, settings().limits.pagesPerMinute, m_loop.now());
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
    QSet<QString> seen;
    for (const QString& name : order.to) {
        const QList<Recipient> members = c.expand(name);
        if (members.isEmpty()) {
            // An unknown name costs like a page, so names cannot be probed.
            m_rate.take(order.peer, 1, c.limits.pagesPerMinute, m_loop.now());
            return refuse(SubmitResult::Status::UnknownRecipient,
                          QStringLiteral("unknown recipient %1").arg(headerValue(name, 60)));
        }
        if (!c.mayPage(order.user, name)) {
            return refuse(
                SubmitResult::Status::Forbidden,
                QStringLiteral("%1 may not page %2").arg(order.user, headerValue(name, 60)));
        }
        // A pager named twice, or in two groups, gets the page once.
        for (const Recipient& p : members) {
            if (!seen.contains(p.name.toUpper())) {
                seen.insert(p.name.toUpper());
                pagers << p;
            }
        }
    }
    if (pagers.size() > c.limits.maxRecipients) {
        return refuse(SubmitResult::Status::BadText,
                      QStringLiteral("more than %1 recipients").arg(c.limits.maxRecipients));
    }
    if (pagers.isEmpty()) {
        return refuse(SubmitResult::Status::UnknownRecipient, QStringLiteral("no recipient"));
    }
    const QString text = pageText(order.subject, order.text);
    if (text.isEmpty()) {
        return refuse(SubmitResult::Status::BadText, QStringLiteral("empty message"));
    }
    if (characters(text) > c.limits.maxText) {
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
    const QString sender = headerValue(order.sender.isEmpty() ? order.protocol : order.sender, 30);
    QList<QueueMessage> files;
    for (const Recipient& p : pagers) {
        QueueMessage page;
        page.method = QStringLiteral("TAP");
        page.computer = computer;
        page.sender = sender;
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
        files << page;
    }
    // All recipients or none: a retry after a refusal must not page anyone twice.
    QueueFileWriter writer(folder);
    r.files = writer.writeAll(files, &error);
    if (r.files.isEmpty()) {
        return refuse(SubmitResult::Status::QueueUnavailable,
                      QStringLiteral("cannot write the queue files: %1").arg(error));
    }
    if (!order.user.isEmpty()) keepUser(r.files, order);
    for (qsizetype i = 0; i < pagers.size(); ++i) {
        const Recipient& p = pagers[i];
        m_log.write(order.protocol, order.peer,
                    QStringLiteral("queued %1 for %2 (Ph#=%3 PIN=%4) from %5%6")
                        .arg(r.files[i], p.name, p.phone, p.pin, sender,
                             order.user.isEmpty() ? QString()
                                                  : QStringLiteral(" by user %1").arg(order.user)));
    }
    return r;
}

}  // namespace vts::gate
