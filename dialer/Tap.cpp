#include "Tap.h"

#include <QHash>

namespace vts::tap {

QByteArray checksum(const QByteArray& bytes) {
    unsigned sum = 0;
    for (char c : bytes) {
        sum += static_cast<unsigned char>(c) & 0x7Fu;
    }
    sum &= 0xFFFu;
    QByteArray out(3, '0');
    out[0] = static_cast<char>(0x30 + ((sum >> 8) & 0xF));
    out[1] = static_cast<char>(0x30 + ((sum >> 4) & 0xF));
    out[2] = static_cast<char>(0x30 + (sum & 0xF));
    return out;
}

namespace {

// Characters whose nearest ASCII form is not reached by dropping accents.
const QHash<char16_t, const char*>& spelledOut() {
    static const QHash<char16_t, const char*> map = {
        {u'\u00DF', "ss"},  {u'\u00C6', "AE"},   {u'\u00E6', "ae"},  {u'\u00D8', "O"},
        {u'\u00F8', "o"},   {u'\u0152', "OE"},   {u'\u0153', "oe"},  {u'\u00D0', "D"},
        {u'\u00F0', "d"},   {u'\u00DE', "Th"},   {u'\u00FE', "th"},  {u'\u0141', "L"},
        {u'\u0142', "l"},   {u'\u0110', "D"},    {u'\u0111', "d"},   {u'\u0131', "i"},
        {u'\u20AC', "EUR"}, {u'\u00A3', "GBP"},  {u'\u00A5', "JPY"}, {u'\u00A2', "c"},
        {u'\u00A9', "(C)"}, {u'\u00AE', "(R)"},  {u'\u2122', "TM"},  {u'\u00B0', "deg"},
        {u'\u00AB', "<<"},  {u'\u00BB', ">>"},   {u'\u2039', "<"},   {u'\u203A', ">"},
        {u'\u2018', "'"},   {u'\u2019', "'"},    {u'\u201A', "'"},   {u'\u201B', "'"},
        {u'\u201C', "\""},  {u'\u201D', "\""},   {u'\u201E', "\""},  {u'\u201F', "\""},
        {u'\u2013', "-"},   {u'\u2014', "-"},    {u'\u2012', "-"},   {u'\u2015', "-"},
        {u'\u2212', "-"},   {u'\u2026', "..."},  {u'\u2022', "*"},   {u'\u00B7', "."},
        {u'\u00A0', " "},   {u'\u00A1', "!"},    {u'\u00BF', "?"},   {u'\u00D7', "x"},
        {u'\u00F7', "/"},   {u'\u00B5', "u"},    {u'\u00A7', "S"},   {u'\u00B6', "P"},
        {u'\u2020', "+"},   {u'\u2030', "0/00"}, {u'\u2044', "/"},   {u'\u00AC', "-"},
        {u'\u00A6', "|"},   {u'\u00AD', "-"},    {u'\u00B4', "'"},   {u'\u02DC', "~"},
        {u'\u02C6', "^"},   {u'\u00A4', "$"},    {u'\u00B1', "+/-"}, {u'\u00BC', "1/4"},
        {u'\u00BD', "1/2"}, {u'\u00BE', "3/4"},
    };
    return map;
}

}  // namespace

QByteArray transliterate(const QString& text) {
    QByteArray out;
    out.reserve(text.size());
    const auto& map = spelledOut();
    for (int i = 0; i < text.size(); ++i) {
        QChar c = text[i];
        if (c.unicode() < 0x80) {
            out.append(static_cast<char>(c.unicode()));
            continue;
        }
        if (c.isHighSurrogate() && i + 1 < text.size()) {
            ++i;  // one '?' per character
        }
        if (auto it = map.constFind(c.unicode()); it != map.constEnd()) {
            out.append(it.value());
            continue;
        }
        // Decompose (é -> e + accent, ﬁ -> fi, ² -> 2) and keep the plain part.
        const QString decomposed = QString(c).normalized(QString::NormalizationForm_KD);
        QByteArray plain;
        bool other = false;
        for (QChar d : decomposed) {
            if (d.unicode() < 0x80) {
                plain.append(static_cast<char>(d.unicode()));
            } else if (d.category() == QChar::Mark_NonSpacing) {
                continue;
            } else if (auto m = map.constFind(d.unicode()); m != map.constEnd()) {
                plain.append(m.value());
            } else {
                other = true;
            }
        }
        out.append(plain.isEmpty() || other ? QByteArray("?") : plain);
    }
    return out;
}

QList<QByteArray> escapeUnits(const QByteArray& field) {
    QList<QByteArray> units;
    units.reserve(field.size());
    for (char c : field) {
        const auto u = static_cast<unsigned char>(c) & 0x7Fu;
        if (u < 0x20) {
            units.append(seq({SUB, static_cast<char>(u + 0x40)}));
        } else {
            units.append(QByteArray(1, static_cast<char>(u)));
        }
    }
    return units;
}

int effectiveBlockChars(int maxChars) {
    if (maxChars <= 0 || maxChars > kMaxBlockChars) {
        return kMaxBlockChars;
    }
    return maxChars < 2 ? 2 : maxChars;
}

QList<QByteArray> buildBlocks(const QList<QByteArray>& fields, int maxChars) {
    const int limit = effectiveBlockChars(maxChars);
    QList<QByteArray> blocks;
    QByteArray cur(1, STX);
    int used = 0;
    bool atFieldEnd = false;  // cur ends with a complete field (its CR)
    auto finish = [&](char terminator) {
        cur.append(terminator);
        cur.append(checksum(cur));
        cur.append(CR);
        blocks.append(cur);
        cur = QByteArray(1, STX);
        used = 0;
    };
    auto put = [&](const QByteArray& unit, bool endsField) {
        if (used + unit.size() > limit) {
            finish(atFieldEnd ? ETB : US);
        }
        cur.append(unit);
        used += static_cast<int>(unit.size());
        atFieldEnd = endsField;
    };
    for (const QByteArray& f : fields) {
        for (const QByteArray& u : escapeUnits(f)) {
            put(u, false);
        }
        put(QByteArray(1, CR), true);
    }
    finish(ETX);
    return blocks;
}

std::optional<QByteArray> unescape(const QByteArray& bytes) {
    QByteArray out;
    out.reserve(bytes.size());
    for (int i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != SUB) {
            out.append(bytes[i]);
            continue;
        }
        if (i + 1 >= bytes.size()) {
            return std::nullopt;
        }
        const int v = static_cast<unsigned char>(bytes[++i]) - 0x40;
        if (v < 0 || v >= 0x20) {
            return std::nullopt;
        }
        out.append(static_cast<char>(v));
    }
    return out;
}

ParsedBlock parseBlock(const QByteArray& block, int maxChars) {
    ParsedBlock p;
    if (block.isEmpty() || block[0] != STX) {
        p.error = ParsedBlock::Error::NoStx;
        return p;
    }
    qsizetype t = 1;
    while (t < block.size() && block[t] != ETX && block[t] != ETB && block[t] != US) {
        ++t;
    }
    if (t >= block.size() || block.size() != t + 5 || block[t + 4] != CR) {
        p.error = ParsedBlock::Error::NoTerminator;
        return p;
    }
    p.terminator = block[t];
    p.content = block.mid(1, t - 1);
    p.infoChars = static_cast<int>(p.content.size());
    if (checksum(block.left(t + 1)) != block.mid(t + 1, 3)) {
        p.error = ParsedBlock::Error::BadChecksum;
        return p;
    }
    if (p.infoChars > maxChars) {
        p.error = ParsedBlock::Error::TooLong;
        return p;
    }
    // A transparency pair must not be cut by the block's end.
    if (!p.content.isEmpty() && p.content.back() == SUB) {
        p.error = ParsedBlock::Error::BadTransparency;
    }
    return p;
}

QString describe(const QByteArray& bytes) {
    static const char* const names[32] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
                                          "BS",  "HT",  "LF",  "VT",  "FF",  "CR",  "SO",  "SI",
                                          "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
                                          "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};
    QString out;
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 32) {
            out += QLatin1Char('<') + QLatin1String(names[c]) + QLatin1Char('>');
        } else if (c < 127) {
            out += QLatin1Char(static_cast<char>(c));
        } else {
            out += QStringLiteral("<0x%1>").arg(c, 2, 16, QLatin1Char('0'));
        }
    }
    return out;
}

}  // namespace vts::tap
