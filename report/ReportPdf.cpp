#include "ReportPdf.h"

#include <QDateTime>
#include <QIODevice>

#include <zlib.h>

#include <array>
#include <charconv>

namespace vts::report {

namespace {

// Objects written first, in this order.
constexpr int kCatalog = 1;
constexpr int kPageTree = 2;
constexpr int kResources = 3;
constexpr int kInfo = 4;
constexpr int kFirstFont = 5;  // five to eight: the four faces
constexpr int kFaces = 4;

const char* const kFontNames[kFaces] = {"Helvetica-Bold", "Helvetica", "Courier", "Courier-Bold"};

// Windows-1252 bytes 0x80 to 0x9F; 0 where the code page has no character.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void number(QByteArray& out, double v) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 2);
    out.append(buf, r.ptr - buf);
}

// A PDF text string: literal when plain ASCII, else UTF-16 with its mark.
QByteArray textString(const QString& s) {
    bool ascii = true;
    for (const QChar c : s) {
        ascii = ascii && c.unicode() >= 0x20 && c.unicode() < 0x7F;
    }
    if (ascii) {
        QByteArray out = "(";
        for (const QChar c : s) {
            if (c == QLatin1Char('(') || c == QLatin1Char(')') || c == QLatin1Char('\\')) {
                out += '\\';
            }
            out += static_cast<char>(c.unicode());
        }
        return out + ')';
    }
    QByteArray utf16 = "\xFE\xFF";
    for (const QChar c : s) {
        utf16 += static_cast<char>(c.unicode() >> 8);
        utf16 += static_cast<char>(c.unicode() & 0xFF);
    }
    return '<' + utf16.toHex() + '>';
}

}  // namespace

namespace {

char windows1252(char16_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
        return static_cast<char>(c);
    }
    for (size_t i = 0; i < kHigh.size(); ++i) {
        if (kHigh[i] == c) {
            return static_cast<char>(0x80 + i);
        }
    }
    return '?';
}

}  // namespace

QByteArray toWindows1252(const QString& text) {
    QByteArray out;
    out.reserve(text.size());
    for (const QChar ch : text) {
        out += windows1252(ch.unicode());
    }
    return out;
}

// Collects one page's content stream.
class PdfFile::Canvas final : public PageCanvas {
public:
    explicit Canvas(double pageHeight) : m_height(pageHeight) { m_ops.reserve(16384); }

    void setFont(Face face, double size) override {
        m_face = static_cast<int>(face);
        m_size = size;
        m_fontSet = false;
    }

    void text(double x, double baseline, const QString& text) override {
        if (!m_inText) {
            m_ops += "BT\n";
            m_inText = true;
            m_fontSet = false;
        }
        if (!m_fontSet) {
            m_ops += "/F";
            m_ops += static_cast<char>('1' + m_face);
            m_ops += ' ';
            number(m_ops, m_size);
            m_ops += " Tf\n";
            m_fontSet = true;
        }
        m_ops += "1 0 0 1 ";
        number(m_ops, x);
        m_ops += ' ';
        number(m_ops, m_height - baseline);
        m_ops += " Tm (";
        // Written in place: at most two bytes a character.
        const qsizetype at = m_ops.size();
        m_ops.resize(at + 2 * text.size());
        char* out = m_ops.data() + at;
        for (const QChar ch : text) {
            const char b = windows1252(ch.unicode());
            if (b == '(' || b == ')' || b == '\\') {
                *out++ = '\\';
            }
            *out++ = (b == '\r' || b == '\n') ? ' ' : b;
        }
        m_ops.truncate(out - m_ops.constData());
        m_ops += ") Tj\n";
    }

    void line(double x1, double y1, double x2, double y2) override {
        endText();
        number(m_ops, x1);
        m_ops += ' ';
        number(m_ops, m_height - y1);
        m_ops += " m ";
        number(m_ops, x2);
        m_ops += ' ';
        number(m_ops, m_height - y2);
        m_ops += " l S\n";
    }

    QByteArray take() {
        endText();
        QByteArray out = m_ops;
        m_ops.clear();
        return out;
    }

private:
    void endText() {
        if (m_inText) {
            m_ops += "ET\n";
            m_inText = false;
        }
    }

    double m_height;
    QByteArray m_ops;
    int m_face = 2;
    double m_size = 10;
    bool m_inText = false;
    bool m_fontSet = false;
};

PdfFile::PdfFile(QIODevice& out, const QSizeF& pageSize, const QString& title)
    : m_out(out), m_size(pageSize), m_title(title) {
    put("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
    m_offsets.resize(kFirstFont + kFaces - 1, 0);
    for (int i = 0; i < kFaces; ++i) {
        beginObject(kFirstFont + i);
        put(QByteArray("<< /Type /Font /Subtype /Type1 /BaseFont /") + kFontNames[i] +
            " /Encoding /WinAnsiEncoding >>\nendobj\n");
    }
    beginObject(kResources);
    QByteArray res = "<< /Font <<";
    for (int i = 0; i < kFaces; ++i) {
        res +=
            " /F" + QByteArray::number(i + 1) + ' ' + QByteArray::number(kFirstFont + i) + " 0 R";
    }
    put(res + " >> /ProcSet [/PDF /Text] >>\nendobj\n");
}

PdfFile::~PdfFile() { delete m_canvas; }

int PdfFile::newObject() {
    m_offsets.push_back(0);
    return static_cast<int>(m_offsets.size());
}

void PdfFile::beginObject(int number) {
    m_offsets[static_cast<size_t>(number - 1)] = m_pos;
    put(QByteArray::number(number) + " 0 obj\n");
}

void PdfFile::put(const QByteArray& bytes) {
    if (m_failed) {
        return;
    }
    if (m_out.write(bytes) != bytes.size()) {
        m_failed = true;
    }
    m_pos += bytes.size();
}

PageCanvas& PdfFile::beginPage() {
    if (!m_canvas) {
        m_canvas = new Canvas(m_size.height());
    }
    return *m_canvas;
}

void PdfFile::endPage() {
    const QByteArray ops = m_canvas->take();
    uLongf packedSize = compressBound(static_cast<uLong>(ops.size()));
    QByteArray packed(static_cast<qsizetype>(packedSize), Qt::Uninitialized);
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                  reinterpret_cast<const Bytef*>(ops.constData()), static_cast<uLong>(ops.size()),
                  Z_BEST_SPEED) != Z_OK) {
        m_failed = true;
        return;
    }
    packed.truncate(static_cast<qsizetype>(packedSize));
    const int content = newObject();
    beginObject(content);
    put("<< /Length " + QByteArray::number(packed.size()) + " /Filter /FlateDecode >>\nstream\n");
    put(packed);
    put("\nendstream\nendobj\n");
    const int page = newObject();
    beginObject(page);
    QByteArray p = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 ";
    number(p, m_size.width());
    p += ' ';
    number(p, m_size.height());
    p += "] /Resources 3 0 R /Contents " + QByteArray::number(content) + " 0 R >>\nendobj\n";
    put(p);
    m_pages.push_back(page);
}

bool PdfFile::finish() {
    beginObject(kPageTree);
    QByteArray kids = "<< /Type /Pages /Kids [";
    for (const int p : m_pages) {
        kids += ' ' + QByteArray::number(p) + " 0 R";
    }
    put(kids + " ] /Count " + QByteArray::number(static_cast<qsizetype>(m_pages.size())) +
        " >>\nendobj\n");
    beginObject(kCatalog);
    put("<< /Type /Catalog /Pages 2 0 R >>\nendobj\n");
    beginObject(kInfo);
    const QDateTime now = QDateTime::currentDateTime();
    put("<< /Title " + textString(m_title) + " /Creator (Vantrel) /CreationDate (D:" +
        now.toString(QStringLiteral("yyyyMMddHHmmss")).toLatin1() + ") >>\nendobj\n");

    const qint64 xref = m_pos;
    QByteArray table = "xref\n0 " +
                       QByteArray::number(static_cast<qsizetype>(m_offsets.size()) + 1) +
                       "\n0000000000 65535 f \n";
    for (const qint64 off : m_offsets) {
        table += QByteArray::number(off).rightJustified(10, '0') + " 00000 n \n";
    }
    put(table);
    put("trailer\n<< /Size " + QByteArray::number(static_cast<qsizetype>(m_offsets.size()) + 1) +
        " /Root 1 0 R /Info 4 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n");
    return !m_failed;
}

}  // namespace vts::report
