#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

namespace vts::gate {

// Passwords and tokens as vtsgate.ini keeps them: Argon2id hashes made by
// `vtsgate --hash-password` (libsodium's crypto_pwhash_str), never the
// secrets themselves. A secret is checked against its hash in constant
// time by libsodium; a check that succeeded is remembered under a SHA-256
// of the secret, so a busy client does not pay the hash at every request.
class Accounts {
public:
    // The Argon2id hash of a password, or an empty text when libsodium
    // cannot make one (out of memory).
    static QString hash(const QByteArray& password);
    // Whether `password` matches `hash` (a "$argon2id$..." text).
    static bool matches(const QString& hash, const QByteArray& password);
    // Whether a text is a hash this class can check.
    static bool isHash(const QString& text);

    // The name whose hash in `hashes` (name -> hash) the secret matches, or
    // an empty text.
    QString whose(const QHash<QString, QString>& hashes, const QByteArray& secret);

private:
    QHash<QByteArray, QPair<QString, QString>> m_verified;  // SHA-256 -> name, hash
};

}  // namespace vts::gate
