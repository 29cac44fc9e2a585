#include "TextFile.h"

#include <QFile>
#include <QHash>
#include <QStringDecoder>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>

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

QStringList splitLines(const QString& t, LineEnds ends) {
    QStringList lines;
    QString cur;
    const int n = static_cast<int>(t.size());
    for (int i = 0; i < n; ++i) {
        const QChar c = t[i];
        if (c == u'\r') {
            lines << cur;
            cur.clear();
            if (i + 1 < n && t[i + 1] == u'\n') ++i;
        } else if (c == u'\n' && ends == LineEnds::CrOrLf) {
            lines << cur;
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.isEmpty()) lines << cur;
    return lines;
}

std::optional<QByteArray> readBounded(const QString& path, qint64 maxBytes, ReadError* error) {
    auto fail = [error](ReadError e) -> std::optional<QByteArray> {
        if (error) *error = e;
        return std::nullopt;
    };
    if (error) *error = ReadError::None;
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return fail(ReadError::CannotOpen);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail(ReadError::NotRegular);
    }
    if (st.st_size > maxBytes) {
        ::close(fd);
        return fail(ReadError::TooLarge);
    }
    // Read up to one byte past the bound, which tells a file that grew.
    QByteArray bytes;
    qsizetype got = 0;
    for (;;) {
        if (got == bytes.size()) {
            const qint64 room = maxBytes + 1 - got;
            if (room <= 0) break;
            bytes.resize(got + static_cast<qsizetype>(std::min<qint64>(room, st.st_size + 4096)));
        }
        const ssize_t n = ::read(fd, bytes.data() + got, static_cast<size_t>(bytes.size() - got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return fail(ReadError::CannotOpen);
        }
        if (n == 0) break;
        got += n;
    }
    ::close(fd);
    if (got > maxBytes) return fail(ReadError::TooLarge);
    bytes.truncate(got);
    return bytes;
}

std::optional<QStringList> readLines(const QString& path, qint64 maxBytes, bool* tooLarge,
                                     LineEnds ends) {
    ReadError error = ReadError::None;
    const auto bytes = readBounded(path, maxBytes, &error);
    if (tooLarge) *tooLarge = error == ReadError::TooLarge;
    if (!bytes) return std::nullopt;
    return splitLines(fromWin1252(*bytes), ends);
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
