#include "SmsParts.h"

#include <QFile>
#include <QLockFile>
#include <QSaveFile>

#include <optional>

namespace vts::smsparts {

namespace {

constexpr int kLockWaitMs = 2000;

struct Entry {
    QByteArray key;
    PartsSent sent;
};

bool isHex(const QByteArray& s) {
    for (const char c : s) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    return s.size() % 2 == 0;
}

std::optional<int> number(const QByteArray& field, int min, int max) {
    bool ok = false;
    const int n = field.toInt(&ok);
    if (!ok || n < min || n > max) {
        return std::nullopt;
    }
    return n;
}

std::optional<Entry> parse(const QByteArray& line) {
    const QList<QByteArray> f = line.split('\t');
    if (f.size() != 4 && f.size() != 5) {
        return std::nullopt;
    }
    const auto reference = number(f[2], 0, 255);
    const auto count = number(f[3], 1, kMaxParts);
    if (f[0].isEmpty() || f[1].isEmpty() || !reference || !count) {
        return std::nullopt;
    }
    Entry e{f[0], {f[1], *reference, {}}};
    if (f.size() == 4) {
        e.sent = PartsSent::firstParts(f[1], *reference, *count);
        return e;
    }
    const QList<QByteArray> parts = f[4].split(',');
    if (parts.size() != *count) {
        return std::nullopt;
    }
    for (const QByteArray& p : parts) {
        const qsizetype colon = p.indexOf(':');
        const auto part = colon > 0 ? number(p.left(colon), 1, kMaxParts) : std::nullopt;
        const QByteArray hex = p.mid(colon + 1);
        if (!part || e.sent.accepted.contains(*part) || !isHex(hex) ||
            hex.size() > qsizetype{2} * kMaxIdBytes) {
            return std::nullopt;
        }
        e.sent.accepted.insert(*part, QByteArray::fromHex(hex));
    }
    return e;
}

QByteArray format(const QByteArray& key, const PartsSent& sent) {
    QByteArray line = key + '\t' + sent.digest + '\t' + QByteArray::number(sent.reference) + '\t' +
                      QByteArray::number(sent.accepted.size());
    bool idsKept = false;
    for (const QByteArray& id : sent.accepted) {
        idsKept = idsKept || !id.isEmpty();
    }
    if (!idsKept && sent.leading() == sent.accepted.size()) {
        return line;  // parts 1 to N, the form every version reads
    }
    QList<QByteArray> parts;
    for (auto it = sent.accepted.cbegin(); it != sent.accepted.cend(); ++it) {
        parts << QByteArray::number(it.key()) + ':' + it.value().toHex();
    }
    return line + '\t' + parts.join(',');
}

// The file's readable entries, newest last. A file grown past the bound
// (by hand, or by another program) is read from its newest end.
QList<Entry> entries(const QString& path) {
    QList<Entry> out;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return out;
    }
    const bool tail = f.size() > kMaxProgressBytes;
    if (tail) {
        f.seek(f.size() - kMaxProgressBytes);
    }
    QList<QByteArray> lines = f.read(kMaxProgressBytes).split('\n');
    if (tail && !lines.isEmpty()) {
        lines.removeFirst();  // begun within a line
    }
    for (const QByteArray& line : lines) {
        if (auto e = parse(line)) {
            out << *e;
        }
    }
    return out;
}

}  // namespace

int PartsSent::leading() const {
    int n = 0;
    while (accepted.contains(n + 1)) {
        ++n;
    }
    return n;
}

PartsSent PartsSent::firstParts(const QByteArray& digest, int reference, int n) {
    PartsSent p{digest, reference, {}};
    for (int part = 1; part <= n; ++part) {
        p.accepted.insert(part, {});
    }
    return p;
}

QString fileName() { return QStringLiteral("calvex-sms.parts"); }

QString key(const QString& uniqueId, int index) {
    return uniqueId.trimmed() + u'-' + QString::number(index);
}

PartsSent read(const QString& path, const QString& key, const QByteArray& digest) {
    const QByteArray k = key.toUtf8();
    PartsSent found;
    for (const Entry& e : entries(path)) {
        if (e.key == k && e.sent.digest == digest) {
            found = e.sent;  // the newest line for the key wins
        }
    }
    return found;
}

bool note(const QString& path, const QString& key, const PartsSent& sent) {
    const QByteArray k = key.toUtf8();
    // A key or digest that would break the line is never written: the
    // text is then sent whole on a retry.
    const auto unfit = [](const QByteArray& field) {
        return field.isEmpty() || field.contains('\t') || field.contains('\n') ||
               field.contains('\r');
    };
    if (unfit(k) || (sent.any() && unfit(sent.digest))) {
        return false;
    }
    if (sent.reference < 0 || sent.reference > 255 || sent.accepted.size() > kMaxParts ||
        (sent.any() && (sent.accepted.firstKey() < 1 || sent.accepted.lastKey() > kMaxParts))) {
        return false;
    }
    for (const QByteArray& id : sent.accepted) {
        if (id.size() > kMaxIdBytes) {
            return false;
        }
    }
    QLockFile lock(path + QStringLiteral(".lock"));
    if (!lock.tryLock(kLockWaitMs)) {
        return false;
    }
    QList<QByteArray> lines;
    for (const Entry& e : entries(path)) {
        if (e.key != k) {
            lines << format(e.key, e.sent);
        }
    }
    if (sent.any()) {
        lines << format(k, sent);
    }
    // Bounded: the oldest entries go first.
    qint64 bytes = 0;
    for (const QByteArray& line : lines) {
        bytes += line.size() + 1;
    }
    while (!lines.isEmpty() && (lines.size() > kMaxProgressEntries || bytes > kMaxProgressBytes)) {
        bytes -= lines.takeFirst().size() + 1;
    }
    if (lines.isEmpty()) {
        return !QFile::exists(path) || QFile::remove(path);
    }
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) {
        return false;
    }
    out.write(lines.join('\n') + '\n');
    return out.commit();
}

}  // namespace vts::smsparts
