#include "Sessions.h"

#include <sodium.h>

#include <QByteArray>

namespace vts::web {

QString Sessions::randomHex(int bytes) {
    QByteArray raw(bytes, Qt::Uninitialized);
    randombytes_buf(raw.data(), static_cast<size_t>(raw.size()));
    return QString::fromLatin1(raw.toHex());
}

bool Sessions::sameSecret(const QString& a, const QString& b) {
    const QByteArray x = a.toUtf8();
    const QByteArray y = b.toUtf8();
    if (x.size() != y.size()) return false;
    return sodium_memcmp(x.constData(), y.constData(), static_cast<size_t>(x.size())) == 0;
}

Session Sessions::start(const WebUser& user, const QDateTime& now) {
    sweep(now);
    Session s;
    s.id = randomHex(32);
    s.user = user.name;
    s.role = user.role;
    s.csrf = randomHex(32);
    s.lastSeen = now;
    m_sessions.insert(s.id, s);
    return s;
}

std::optional<Session> Sessions::touch(const QString& id, const QDateTime& now) {
    sweep(now);
    auto it = m_sessions.find(id);
    if (it == m_sessions.end()) return std::nullopt;
    it->lastSeen = now;
    return *it;
}

void Sessions::end(const QString& id) { m_sessions.remove(id); }

void Sessions::endAllOf(const QString& user) {
    m_sessions.removeIf([&user](const QHash<QString, Session>::iterator& it) {
        return it->user.compare(user, Qt::CaseInsensitive) == 0;
    });
}

void Sessions::sweep(const QDateTime& now) {
    m_sessions.removeIf([this, &now](const QHash<QString, Session>::iterator& it) {
        return it->lastSeen.secsTo(now) >= m_idle;
    });
}

int LoginLimiter::blockedFor(const QString& key, const QDateTime& now) {
    auto it = m_records.find(key);
    if (it == m_records.end() || !it->lockedUntil.isValid()) return 0;
    const qint64 left = now.secsTo(it->lockedUntil);
    if (left <= 0) {
        m_records.erase(it);
        return 0;
    }
    return static_cast<int>(left);
}

void LoginLimiter::failed(const QString& key, const QDateTime& now) {
    Record& r = m_records[key];
    r.failures.removeIf([&](const QDateTime& t) { return t.secsTo(now) >= m_window; });
    r.failures << now;
    if (r.failures.size() >= m_attempts) {
        r.lockedUntil = now.addSecs(m_lockout);
        r.failures.clear();
    }
    // Bounded: records of addresses long quiet are dropped.
    if (m_records.size() > 10000) {
        m_records.removeIf([&](const QHash<QString, Record>::iterator& it) {
            return (!it->lockedUntil.isValid() || it->lockedUntil < now) &&
                   (it->failures.isEmpty() || it->failures.last().secsTo(now) >= m_window);
        });
    }
}

void LoginLimiter::succeeded(const QString& key) { m_records.remove(key); }

}  // namespace vts::web
