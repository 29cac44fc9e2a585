#include "Connection.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <QVarLengthArray>

#include <optional>

namespace vts::db {

QString noCase() { return QStringLiteral(" COLLATE ") + QLatin1String(kNoCaseCollation); }

QString foldCase(const QString& text) {
    QVarLengthArray<UChar, 128> out(text.size() * 3 + 1);
    UErrorCode e = U_ZERO_ERROR;
    const int32_t n = u_strFoldCase(out.data(), static_cast<int32_t>(out.size()),
                                    reinterpret_cast<const UChar*>(text.utf16()),
                                    static_cast<int32_t>(text.size()), U_FOLD_CASE_DEFAULT, &e);
    if (U_FAILURE(e)) return text.toCaseFolded();
    return QString(reinterpret_cast<const QChar*>(out.constData()), n);
}

namespace {

// ---------------------------------------------------------------------------
// Case-insensitive text beyond ASCII: the collation VTS_NOCASE and LIKE.

using Folded = QVarLengthArray<UChar, 128>;

bool isAscii(const unsigned char* p, int n) {
    for (int i = 0; i < n; ++i) {
        if (p[i] >= 0x80) return false;
    }
    return true;
}

unsigned char lowerAscii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c | 0x20) : c;
}

// UTF-8 text, fully case folded, as UTF-16. Invalid bytes become U+FFFD.
void foldUtf8(const unsigned char* p, int n, Folded& out) {
    Folded wide;
    UErrorCode e = U_ZERO_ERROR;
    int32_t len = 0;
    wide.resize(n + 1);
    u_strFromUTF8WithSub(wide.data(), static_cast<int32_t>(wide.size()), &len,
                         reinterpret_cast<const char*>(p), n, 0xFFFD, nullptr, &e);
    if (e == U_BUFFER_OVERFLOW_ERROR) {
        e = U_ZERO_ERROR;
        wide.resize(len + 1);
        u_strFromUTF8WithSub(wide.data(), static_cast<int32_t>(wide.size()), &len,
                             reinterpret_cast<const char*>(p), n, 0xFFFD, nullptr, &e);
    }
    if (U_FAILURE(e)) len = 0;
    out.resize(len * 3 + 1);  // full folding makes a text at most three times longer
    e = U_ZERO_ERROR;
    const int32_t folded = u_strFoldCase(out.data(), static_cast<int32_t>(out.size()), wide.data(),
                                         len, U_FOLD_CASE_DEFAULT, &e);
    out.resize(U_FAILURE(e) ? 0 : folded);
}

int compareNoCase(void*, int na, const void* a, int nb, const void* b) {
    const auto* pa = static_cast<const unsigned char*>(a);
    const auto* pb = static_cast<const unsigned char*>(b);
    if (isAscii(pa, na) && isAscii(pb, nb)) {
        const int n = std::min(na, nb);
        for (int i = 0; i < n; ++i) {
            const int d = lowerAscii(pa[i]) - lowerAscii(pb[i]);
            if (d != 0) return d;
        }
        return na - nb;
    }
    Folded fa, fb;
    foldUtf8(pa, na, fa);
    foldUtf8(pb, nb, fb);
    return u_strCompare(fa.data(), static_cast<int32_t>(fa.size()), fb.data(),
                        static_cast<int32_t>(fb.size()), true);
}

// Code points of a folded text.
using Points = QVarLengthArray<char32_t, 128>;

void foldPoints(const unsigned char* p, int n, Points& out) {
    out.clear();
    if (isAscii(p, n)) {
        for (int i = 0; i < n; ++i) out.append(lowerAscii(p[i]));
        return;
    }
    Folded f;
    foldUtf8(p, n, f);
    for (int32_t i = 0; i < f.size();) {
        UChar32 c = 0;
        U16_NEXT(f.data(), i, static_cast<int32_t>(f.size()), c);
        out.append(static_cast<char32_t>(c));
    }
}

// SQL LIKE over folded code points: '%' any run, '_' one character, `escape`
// (when given) makes the next pattern character plain.
bool likeMatch(const Points& p, const Points& s, std::optional<char32_t> escape) {
    qsizetype pi = 0, si = 0, starP = -1, starS = 0;
    while (si < s.size()) {
        if (pi < p.size()) {
            const char32_t c = p[pi];
            if (escape && c == *escape) {
                if (pi + 1 < p.size() && p[pi + 1] == s[si]) {
                    pi += 2;
                    ++si;
                    continue;
                }
            } else if (c == U'%') {
                starP = ++pi;
                starS = si;
                continue;
            } else if (c == U'_' || c == s[si]) {
                ++pi;
                ++si;
                continue;
            }
        }
        if (starP < 0) return false;
        pi = starP;
        si = ++starS;
    }
    while (pi < p.size() && p[pi] == U'%') ++pi;
    return pi == p.size();
}

void deletePoints(void* p) { delete static_cast<Points*>(p); }

// like(pattern, text[, escape]), the function behind "text LIKE pattern".
void likeFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    for (int i = 0; i < argc; ++i) {
        if (sqlite3_value_type(argv[i]) == SQLITE_NULL) return;  // NULL result
    }
    std::optional<char32_t> escape;
    if (argc == 3) {
        Points e;
        foldPoints(sqlite3_value_text(argv[2]), sqlite3_value_bytes(argv[2]), e);
        if (e.size() != 1) {
            sqlite3_result_error(ctx, "ESCAPE expression must be a single character", -1);
            return;
        }
        escape = e[0];
    }
    // The pattern is the same for every row of a statement: folded once.
    auto* pattern = static_cast<Points*>(sqlite3_get_auxdata(ctx, 0));
    if (!pattern) {
        pattern = new Points;
        foldPoints(sqlite3_value_text(argv[0]), sqlite3_value_bytes(argv[0]), *pattern);
        sqlite3_set_auxdata(ctx, 0, pattern, deletePoints);
        pattern = static_cast<Points*>(sqlite3_get_auxdata(ctx, 0));
        if (!pattern) {
            sqlite3_result_error_nomem(ctx);
            return;
        }
    }
    Points text;
    foldPoints(sqlite3_value_text(argv[1]), sqlite3_value_bytes(argv[1]), text);
    sqlite3_result_int(ctx, likeMatch(*pattern, text, escape) ? 1 : 0);
}

}  // namespace

void registerTextFunctions(sqlite3* db) {
    sqlite3_create_collation_v2(db, kNoCaseCollation, SQLITE_UTF8, nullptr, compareNoCase, nullptr);
    for (int args : {2, 3}) {
        sqlite3_create_function_v2(db, "like", args,
                                   SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr,
                                   likeFunction, nullptr, nullptr, nullptr);
    }
}

}  // namespace vts::db
