#include "DeliveryNotes.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLockFile>

#include <optional>

namespace vts::deliverynotes {

namespace {

constexpr int kLockWaitMs = 2000;
constexpr int kMaxParts = 255;  // a concatenated SMS has at most 255 parts

QString path(const QString& dir) { return dir + u'/' + fileName(); }

std::optional<Note> read(const QJsonObject& o) {
    Note n;
    n.at = QDateTime::fromString(o.value(QLatin1String("at")).toString(), Qt::ISODate);
    if (!n.at.isValid()) n.at = QDateTime::currentDateTime();
    const QString kind = o.value(QLatin1String("kind")).toString();
    if (kind == u"submitted") {
        n.kind = Note::Kind::Submitted;
        n.id = o.value(QLatin1String("id")).toInteger();
        const QJsonArray ids = o.value(QLatin1String("message_ids")).toArray();
        for (const auto& v : ids) {
            if (v.isString() && !v.toString().isEmpty()) n.messageIds << v.toString();
        }
        if (n.id < 1 || n.messageIds.isEmpty() || n.messageIds.size() != ids.size() ||
            ids.size() > kMaxParts) {
            return std::nullopt;
        }
        return n;
    }
    if (kind == u"receipt") {
        n.kind = Note::Kind::Receipt;
        n.messageId = o.value(QLatin1String("message_id")).toString();
        n.delivered = o.value(QLatin1String("delivered")).toBool();
        n.reason = o.value(QLatin1String("reason")).toString();
        if (n.messageId.isEmpty()) return std::nullopt;
        return n;
    }
    return std::nullopt;
}

}  // namespace

QString fileName() { return QStringLiteral("calvex-delivery.jsonl"); }

bool append(const QString& dir, const QJsonObject& note) {
    QLockFile lock(path(dir) + QStringLiteral(".lock"));
    if (!lock.tryLock(kLockWaitMs)) {
        return false;
    }
    QFile f(path(dir));
    const QByteArray line = QJsonDocument(note).toJson(QJsonDocument::Compact) + '\n';
    if (!f.open(QIODevice::Append) || f.size() + line.size() > kMaxBytes) {
        return false;
    }
    return f.write(line) == line.size() && f.flush();
}

QJsonObject submittedNote(qint64 id, const QStringList& messageIds) {
    return {{QStringLiteral("kind"), QStringLiteral("submitted")},
            {QStringLiteral("id"), id},
            {QStringLiteral("message_ids"), QJsonArray::fromStringList(messageIds)},
            {QStringLiteral("at"), QDateTime::currentDateTime().toString(Qt::ISODate)}};
}

QJsonObject receiptNote(const QString& messageId, bool delivered, const QString& reason) {
    return {{QStringLiteral("kind"), QStringLiteral("receipt")},
            {QStringLiteral("message_id"), messageId},
            {QStringLiteral("delivered"), delivered},
            {QStringLiteral("reason"), reason},
            {QStringLiteral("at"), QDateTime::currentDateTime().toString(Qt::ISODate)}};
}

bool waiting(const QString& dir) { return QFileInfo(path(dir)).size() > 0; }

bool drain(const QString& dir, const std::function<bool(const QList<Note>&)>& keep,
           int lockWaitMs) {
    if (!waiting(dir)) return true;
    QLockFile lock(path(dir) + QStringLiteral(".lock"));
    if (!lock.tryLock(lockWaitMs)) {
        return false;
    }
    QFile f(path(dir));
    if (!f.open(QIODevice::ReadWrite)) {
        return false;
    }
    QList<Note> notes;
    for (const QByteArray& line : f.read(kMaxBytes + 4096).split('\n')) {
        const QJsonDocument d = QJsonDocument::fromJson(line);
        if (const auto n = d.isObject() ? read(d.object()) : std::nullopt) notes << *n;
    }
    if (!notes.isEmpty() && !keep(notes)) {
        return false;
    }
    return f.resize(0);
}

}  // namespace vts::deliverynotes
