#include "TextFile.h"

#include <QFile>
#include <QHash>
#include <QStringDecoder>

namespace vts::text {

QString fromWin1252(const QByteArray& bytes) {
    QStringDecoder dec("windows-1252");
    return dec.decode(bytes);
}

QByteArray toWin1252(const QString& s) {
    // The code page's upper half, read once from the decoder.
    static const QHash<char32_t, char> upper = [] {
        QHash<char32_t, char> map;
        for (int b = 0x80; b < 0x100; ++b) {
            const QString c = fromWin1252(QByteArray(1, char(b)));
            if (c.size() == 1 && c.at(0) != QChar::ReplacementCharacter)
                map.insert(c.at(0).unicode(), char(b));
        }
        return map;
    }();
    QByteArray out;
    out.reserve(s.size());
    // One '?' per character the code page cannot hold, a pair of surrogates
    // counting as one character.
    for (const char32_t cp : s.toUcs4()) {
        if (cp < 0x80)
            out.append(char(cp));
        else
            out.append(upper.value(cp, '?'));
    }
    return out;
}

QStringList splitLines(const QString& t) {
    QStringList lines;
    QString cur;
    const int n = static_cast<int>(t.size());
    for (int i = 0; i < n; ++i) {
        const QChar c = t[i];
        if (c == u'\r') {
            lines << cur;
            cur.clear();
            if (i + 1 < n && t[i + 1] == u'\n') ++i;
        } else if (c == u'\n') {
            lines << cur;
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.isEmpty()) lines << cur;
    return lines;
}

std::optional<QStringList> readLines(const QString& path, qint64 maxBytes, bool* tooLarge) {
    if (tooLarge) *tooLarge = false;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
    if (f.size() > maxBytes) {
        if (tooLarge) *tooLarge = true;
        return std::nullopt;
    }
    QByteArray bytes = f.read(maxBytes + 1);
    if (bytes.size() > maxBytes) {
        if (tooLarge) *tooLarge = true;
        return std::nullopt;
    }
    return splitLines(fromWin1252(bytes));
}

std::optional<QString> readFirstLine(const QString& path) {
    auto lines = readLines(path);
    if (!lines) return std::nullopt;
    return lines->isEmpty() ? QString() : lines->first();
}

bool writeLines(const QString& path, const QStringList& lines) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    QByteArray out;
    for (const QString& l : lines) {
        out += toWin1252(l);
        out += "\r\n";
    }
    return f.write(out) == out.size() && f.flush();
}

}  // namespace vts::text
