#include "DeliveryStore.h"

#include "Paths.h"

#include <QFile>
#include <QRegularExpression>

#include <algorithm>

namespace vts::delivery {

namespace {

const QString kStamp = QStringLiteral("yyyy-MM-dd HH:mm:ss");
const QString kAwaiting = QStringLiteral("awaiting");
const QString kDelivered = QStringLiteral("delivered");
const QString kNotDelivered = QStringLiteral("not delivered");

void ensure(db::Database& log) {
    if (!log.hasTable(kTable) || !log.hasTable(kEarlyTable)) createTable(log);
}

QString earliest(const QDateTime& at) {
    return at.addSecs(-qint64{60} * kEarlyMinutes).toString(kStamp);
}

}  // namespace

void createTable(db::Database& log) {
    log.execute(QStringLiteral(
        "CREATE TABLE IF NOT EXISTS tblDelivery (ID INTEGER NOT NULL, Part INTEGER NOT NULL, "
        "MessageId TEXT NOT NULL, State TEXT NOT NULL, Reason TEXT, SubmittedAt TEXT NOT NULL, "
        "At TEXT, PRIMARY KEY (ID, Part))"));
    log.execute(QStringLiteral(
        "CREATE INDEX IF NOT EXISTS tblDeliveryMessageId ON tblDelivery (MessageId)"));
    log.execute(QStringLiteral(
        "CREATE TABLE IF NOT EXISTS tblDeliveryEarly (MessageId TEXT NOT NULL PRIMARY KEY, "
        "State TEXT NOT NULL, Reason TEXT, At TEXT NOT NULL)"));
}

void noteSubmitted(db::Database& log, qint64 id, const QStringList& messageIds,
                   const QDateTime& at) {
    ensure(log);
    // Parts noted before under the same message ID keep what they learnt.
    log.execute(QStringLiteral("DELETE FROM tblDelivery WHERE ID = ? AND Part > ?"),
                {id, messageIds.size()});
    int part = 0;
    for (const QString& m : messageIds) {
        const QString messageId = m.left(kMaxMessageId);
        ++part;
        auto same = log.openQuery(
            QStringLiteral("SELECT 1 FROM tblDelivery WHERE ID = ? AND Part = ? AND MessageId = ?"),
            {id, part, messageId});
        if (!same->eof()) continue;
        log.execute(QStringLiteral("DELETE FROM tblDelivery WHERE ID = ? AND Part = ?"),
                    {id, part});
        log.execute(QStringLiteral("INSERT INTO tblDelivery (ID, Part, MessageId, State, "
                                   "SubmittedAt) VALUES (?, ?, ?, ?, ?)"),
                    {id, part, messageId, kAwaiting, at.toString(kStamp)});
        auto early = log.openQuery(QStringLiteral("SELECT State, Reason, At FROM tblDeliveryEarly "
                                                  "WHERE MessageId = ? AND At >= ?"),
                                   {messageId, earliest(at)});
        if (!early->eof()) {
            log.execute(
                QStringLiteral("UPDATE tblDelivery SET State = ?, Reason = ?, At = ? "
                               "WHERE ID = ? AND Part = ?"),
                {early->value(QStringLiteral("State")), early->value(QStringLiteral("Reason")),
                 early->value(QStringLiteral("At")), id, part});
            log.execute(QStringLiteral("DELETE FROM tblDeliveryEarly WHERE MessageId = ?"),
                        {messageId});
        }
    }
}

int noteReceipt(db::Database& log, const QString& messageId, bool delivered, const QString& reason,
                const QDateTime& at) {
    if (messageId.isEmpty()) return 0;
    ensure(log);
    const QString id = messageId.left(kMaxMessageId);
    // Message IDs are unique at one carrier for a while; should one come
    // again, the receipt settles the newest part awaiting it.
    auto rs = log.openQuery(QStringLiteral("SELECT ID, Part FROM tblDelivery WHERE MessageId = ? "
                                           "AND State = ? ORDER BY SubmittedAt DESC, ID DESC "
                                           "LIMIT 1"),
                            {id, kAwaiting});
    if (rs->eof()) {
        // No part awaits it: kept a while for a part not yet noted, unless
        // a part noted lately under this ID has settled already.
        log.execute(QStringLiteral("DELETE FROM tblDeliveryEarly WHERE At < ?"), {earliest(at)});
        auto settled = log.openQuery(
            QStringLiteral("SELECT 1 FROM tblDelivery WHERE MessageId = ? AND SubmittedAt >= ?"),
            {id, earliest(at)});
        if (settled->eof()) {
            log.execute(QStringLiteral("INSERT OR REPLACE INTO tblDeliveryEarly (MessageId, State, "
                                       "Reason, At) VALUES (?, ?, ?, ?)"),
                        {id, delivered ? kDelivered : kNotDelivered, reason.left(kMaxReason),
                         at.toString(kStamp)});
        }
        return 0;
    }
    return log.execute(
        QStringLiteral("UPDATE tblDelivery SET State = ?, Reason = ?, At = ? WHERE ID = ? AND "
                       "Part = ?"),
        {delivered ? kDelivered : kNotDelivered, reason.left(kMaxReason), at.toString(kStamp),
         rs->value(QStringLiteral("ID")), rs->value(QStringLiteral("Part"))});
}

std::optional<Delivery> of(db::Database& log, qint64 id, int noReceiptMinutes,
                           const QDateTime& now) {
    if (!log.hasTable(kTable)) return std::nullopt;
    auto rs = log.openQuery(QStringLiteral("SELECT MessageId, State, Reason, SubmittedAt, At FROM "
                                           "tblDelivery WHERE ID = ? ORDER BY Part"),
                            {id});
    if (rs->eof()) return std::nullopt;
    Delivery d;
    int delivered = 0, parts = 0;
    QDateTime submitted, last;
    for (; !rs->eof(); rs->moveNext()) {
        ++parts;
        d.messageIds << rs->text(QStringLiteral("MessageId"));
        const QString state = rs->text(QStringLiteral("State"));
        const QDateTime at = QDateTime::fromString(rs->text(QStringLiteral("At")), kStamp);
        submitted = QDateTime::fromString(rs->text(QStringLiteral("SubmittedAt")), kStamp);
        if (at.isValid() && (!last.isValid() || at > last)) last = at;
        if (state == kNotDelivered && d.state.isEmpty()) {
            d.state = kNotDelivered;
            d.reason = rs->text(QStringLiteral("Reason"));
        }
        delivered += state == kDelivered ? 1 : 0;
    }
    if (!d.state.isEmpty()) {
        d.at = last;
    } else if (delivered == parts) {
        d.state = kDelivered;
        d.at = last;
    } else {
        d.at = submitted;
        d.state = submitted.isValid() && submitted.secsTo(now) >= qint64{60} * noReceiptMinutes
                      ? QStringLiteral("no receipt")
                      : QStringLiteral("awaiting receipt");
    }
    return d;
}

int noReceiptMinutes(const QString& dir) {
    // calvex.ini is the dialer's; only this one number is read here.
    QFile f(paths::resolve(QStringLiteral("calvex.ini"), dir));
    if (!f.open(QIODevice::ReadOnly)) return kDefaultNoReceiptMinutes;
    const QString text = QString::fromUtf8(f.read(qint64{1024} * 1024));
    static const QRegularExpression section(QStringLiteral("^\\s*\\[([^\\]]*)\\]"));
    static const QRegularExpression key(QStringLiteral("^\\s*noreceipt\\s*=\\s*(\\d{1,6})\\s*$"),
                                        QRegularExpression::CaseInsensitiveOption);
    bool inDelivery = false;
    for (const QString& line : text.split(u'\n')) {
        if (const auto s = section.match(line); s.hasMatch()) {
            inDelivery = s.captured(1).trimmed().compare(QLatin1String("delivery"),
                                                         Qt::CaseInsensitive) == 0;
        } else if (const auto k = key.match(line); inDelivery && k.hasMatch()) {
            return std::max(1, k.captured(1).toInt());
        }
    }
    return kDefaultNoReceiptMinutes;
}

}  // namespace vts::delivery
