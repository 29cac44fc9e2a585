#include "Accounts.h"

#include <QCryptographicHash>

#include <sodium.h>

namespace vts::gate {

namespace {

bool ready() {
    static const bool ok = sodium_init() >= 0;
    return ok;
}

}  // namespace

QString Accounts::hash(const QByteArray& password) {
    if (!ready()) {
        return {};
    }
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str_alg(
            out, password.constData(), static_cast<unsigned long long>(password.size()),
            crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE,
            crypto_pwhash_ALG_ARGON2ID13) != 0) {
        return {};
    }
    return QString::fromLatin1(out);
}

bool Accounts::isHash(const QString& text) {
    return text.startsWith(QLatin1String("$argon2id$")) && text.size() < crypto_pwhash_STRBYTES;
}

bool Accounts::matches(const QString& hash, const QByteArray& password) {
    if (!ready() || !isHash(hash)) {
        return false;
    }
    const QByteArray h = hash.toLatin1();
    return crypto_pwhash_str_verify(h.constData(), password.constData(),
                                    static_cast<unsigned long long>(password.size())) == 0;
}

QString Accounts::whose(const QHash<QString, QString>& hashes, const QByteArray& secret) {
    if (secret.isEmpty()) {
        return {};
    }
    const QByteArray key = QCryptographicHash::hash(secret, QCryptographicHash::Sha256);
    const auto known = m_verified.constFind(key);
    if (known != m_verified.constEnd() && hashes.value(known->first) == known->second) {
        return known->first;
    }
    for (auto it = hashes.constBegin(); it != hashes.constEnd(); ++it) {
        if (matches(it.value(), secret)) {
            if (m_verified.size() > 1000) {
                m_verified.clear();
            }
            m_verified.insert(key, {it.key(), it.value()});
            return it.key();
        }
    }
    return {};
}

}  // namespace vts::gate
