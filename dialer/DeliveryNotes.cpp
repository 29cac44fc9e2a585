#include "DeliveryNotes.h"

#include <QFile>
#include <QJsonDocument>
#include <QLockFile>

namespace vts::deliverynotes {

namespace {

constexpr int kLockWaitMs = 2000;

QString path(const QString& dir) { return dir + u'/' + fileName(); }

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

QList<QJsonObject> take(const QString& dir) {
    QList<QJsonObject> notes;
    QLockFile lock(path(dir) + QStringLiteral(".lock"));
    if (!lock.tryLock(kLockWaitMs)) {
        return notes;
    }
    QFile f(path(dir));
    if (!f.open(QIODevice::ReadWrite)) {
        return notes;
    }
    const QList<QByteArray> lines = f.read(kMaxBytes + 4096).split('\n');
    for (const QByteArray& line : lines) {
        const QJsonDocument d = QJsonDocument::fromJson(line);
        if (d.isObject()) {
            notes << d.object();
        }
    }
    f.resize(0);
    return notes;
}

}  // namespace vts::deliverynotes
