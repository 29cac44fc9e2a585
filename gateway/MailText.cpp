#include "MailText.h"

#include <QHash>
#include <QList>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>

namespace vts::gate::mail {

namespace {

constexpr int kMaxDepth = 8;

struct Part {
    QList<QPair<QByteArray, QByteArray>> headers;  // name lower-case, value unfolded
    QByteArray body;

    QByteArray header(const char* name) const {
        for (const auto& [n, v] : headers) {
            if (n == name) {
                return v;
            }
        }
        return {};
    }
};

Part splitPart(const QByteArray& raw) {
    Part p;
    qsizetype pos = 0;
    QByteArray current;
    auto flush = [&] {
        const auto colon = current.indexOf(':');
        if (colon > 0) {
            p.headers.append(
                {current.left(colon).trimmed().toLower(), current.mid(colon + 1).trimmed()});
        }
        current.clear();
    };
    while (pos < raw.size()) {
        qsizetype end = raw.indexOf('\n', pos);
        const qsizetype next = end < 0 ? raw.size() : end + 1;
        if (end < 0) {
            end = raw.size();
        }
        QByteArray line = raw.mid(pos, end - pos);
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        pos = next;
        if (line.isEmpty()) {
            flush();
            p.body = raw.mid(pos);
            return p;
        }
        if ((line.startsWith(' ') || line.startsWith('\t')) && !current.isEmpty()) {
            current += ' ' + line.trimmed();
        } else {
            flush();
            current = line;
        }
    }
    flush();
    return p;
}

// "text/plain; charset=utf-8; format=flowed" -> type and parameters.
QByteArray mediaType(const QByteArray& contentType, QHash<QByteArray, QByteArray>* params) {
    const QList<QByteArray> items = contentType.split(';');
    for (qsizetype i = 1; i < items.size(); ++i) {
        const auto eq = items[i].indexOf('=');
        if (eq <= 0) {
            continue;
        }
        QByteArray v = items[i].mid(eq + 1).trimmed();
        if (v.size() >= 2 && v.startsWith('"') && v.endsWith('"')) {
            v = v.mid(1, v.size() - 2);
        }
        params->insert(items[i].left(eq).trimmed().toLower(), v);
    }
    const QByteArray t = items.value(0).trimmed().toLower();
    return t.isEmpty() ? QByteArrayLiteral("text/plain") : t;
}

QString decodeCharset(const QByteArray& bytes, const QByteArray& charset) {
    QByteArray cs = charset.trimmed().toLower();
    if (cs.isEmpty() || cs == "us-ascii") {
        cs = "utf-8";
    }
    QStringDecoder dec(cs.constData());
    if (!dec.isValid()) {
        dec = QStringDecoder(QStringDecoder::Utf8);
    }
    return dec.decode(bytes);
}

QByteArray decodeTransfer(const QByteArray& body, const QByteArray& encoding) {
    const QByteArray e = encoding.trimmed().toLower();
    if (e == "quoted-printable") {
        return decodeQuotedPrintable(body);
    }
    if (e == "base64") {
        return QByteArray::fromBase64(body);
    }
    return body;
}

struct Found {
    QString plain;
    QString html;
    bool hasPlain = false;
    bool hasHtml = false;
};

void walk(const QByteArray& raw, int depth, Found& found) {
    if (depth > kMaxDepth || found.hasPlain) {
        return;
    }
    const Part p = splitPart(raw);
    QHash<QByteArray, QByteArray> params;
    const QByteArray type = mediaType(p.header("content-type"), &params);
    const bool attachment =
        p.header("content-disposition").trimmed().toLower().startsWith("attachment");
    if (type.startsWith("multipart/")) {
        const QByteArray boundary = params.value("boundary");
        if (boundary.isEmpty()) {
            return;
        }
        const QByteArray delimiter = "--" + boundary;
        QList<QByteArray> parts;
        qsizetype pos = 0;
        qsizetype start = -1;
        while (pos < p.body.size()) {
            qsizetype end = p.body.indexOf('\n', pos);
            if (end < 0) {
                end = p.body.size();
            }
            QByteArray line = p.body.mid(pos, end - pos);
            if (line.endsWith('\r')) {
                line.chop(1);
            }
            if (line.startsWith(delimiter)) {
                if (start >= 0) {
                    qsizetype stop = pos;
                    // The line break before a delimiter belongs to it.
                    if (stop > start && p.body[stop - 1] == '\n') {
                        --stop;
                    }
                    if (stop > start && p.body[stop - 1] == '\r') {
                        --stop;
                    }
                    parts << p.body.mid(start, stop - start);
                }
                if (line.mid(delimiter.size()).startsWith("--")) {
                    break;
                }
                start = end + 1;
            }
            pos = end + 1;
        }
        for (const QByteArray& part : parts) {
            walk(part, depth + 1, found);
        }
        return;
    }
    if (attachment) {
        return;
    }
    if (type == "text/plain" && !found.hasPlain) {
        found.plain = decodeCharset(decodeTransfer(p.body, p.header("content-transfer-encoding")),
                                    params.value("charset"));
        found.hasPlain = true;
    } else if (type == "text/html" && !found.hasHtml) {
        found.html =
            htmlToText(decodeCharset(decodeTransfer(p.body, p.header("content-transfer-encoding")),
                                     params.value("charset")));
        found.hasHtml = true;
    }
}

QString fromAddress(const QString& from) {
    static const QRegularExpression angle(QStringLiteral("<([^<>]*)>"));
    const auto m = angle.match(from);
    if (m.hasMatch()) {
        return m.captured(1).trimmed();
    }
    return from.section(QLatin1Char('('), 0, 0).trimmed();
}

}  // namespace

QByteArray decodeQuotedPrintable(const QByteArray& in) {
    QByteArray out;
    out.reserve(in.size());
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'A' && c <= 'F') {
            return c - 'A' + 10;
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        return -1;
    };
    for (qsizetype i = 0; i < in.size(); ++i) {
        const char c = in[i];
        if (c != '=') {
            out += c;
            continue;
        }
        // Soft line break: "=" at the end of a line (blanks may follow).
        qsizetype j = i + 1;
        while (j < in.size() && (in[j] == ' ' || in[j] == '\t')) {
            ++j;
        }
        if (j < in.size() && (in[j] == '\r' || in[j] == '\n')) {
            if (in[j] == '\r' && j + 1 < in.size() && in[j + 1] == '\n') {
                ++j;
            }
            i = j;
            continue;
        }
        if (j >= in.size()) {
            break;
        }
        if (i + 2 < in.size() && hex(in[i + 1]) >= 0 && hex(in[i + 2]) >= 0) {
            out += static_cast<char>(hex(in[i + 1]) * 16 + hex(in[i + 2]));
            i += 2;
        } else {
            out += c;  // a lone "=" stays as it is
        }
    }
    return out;
}

QString decodeHeader(const QByteArray& value) {
    static const QRegularExpression word(
        QStringLiteral("=\\?([^?\\s]+)\\?([BbQq])\\?([^?\\s]*)\\?=(\\s+(?==\\?))?"));
    const QString v = QString::fromUtf8(value);
    QString out;
    qsizetype last = 0;
    auto it = word.globalMatch(v);
    while (it.hasNext()) {
        const auto m = it.next();
        out += v.mid(last, m.capturedStart() - last);
        const QByteArray payload = m.captured(3).toLatin1();
        QByteArray bytes;
        if (m.captured(2).toUpper() == QLatin1String("B")) {
            bytes = QByteArray::fromBase64(payload);
        } else {
            QByteArray q = payload;
            q.replace('_', ' ');
            bytes = decodeQuotedPrintable(q);
        }
        QByteArray charset = m.captured(1).toLatin1();
        const auto star = charset.indexOf('*');  // RFC 2231 language suffix
        if (star >= 0) {
            charset.truncate(star);
        }
        out += decodeCharset(bytes, charset);
        last = m.capturedEnd();
    }
    out += v.mid(last);
    return out;
}

namespace {

// The name of the tag that starts at html[i] == '<' ("script", "/p"), lower case.
QString tagName(const QString& html, qsizetype i, qsizetype close) {
    qsizetype j = i + 1;
    if (j < close && html[j] == QLatin1Char('/')) {
        ++j;
    }
    while (j < close && (html[j].isLetterOrNumber())) {
        ++j;
    }
    return html.mid(i + 1, j - i - 1).toLower();
}

}  // namespace

QString htmlToText(const QString& html) {
    // One pass from left to right; every search starts where the last one
    // ended or skips what it searched, so the time grows with the length
    // (unclosed scripts and comments included) and never with its square.
    static const QSet<QString> breakTags{
        QStringLiteral("br"),   QStringLiteral("p"),   QStringLiteral("/p"),  QStringLiteral("div"),
        QStringLiteral("/div"), QStringLiteral("li"),  QStringLiteral("/li"), QStringLiteral("tr"),
        QStringLiteral("/tr"),  QStringLiteral("/h1"), QStringLiteral("/h2"), QStringLiteral("/h3"),
        QStringLiteral("/h4"),  QStringLiteral("/h5"), QStringLiteral("/h6")};
    QString t;
    t.reserve(html.size());
    const qsizetype n = html.size();
    qsizetype i = 0;
    bool noClose = false;
    while (i < n) {
        const QChar c = html[i];
        if (c != QLatin1Char('<')) {
            t += c == QLatin1Char('\n') ? QLatin1Char(' ') : c;
            ++i;
            continue;
        }
        if (QStringView(html).mid(i, 4) == QLatin1String("<!--")) {
            const auto e = html.indexOf(QLatin1String("-->"), i + 4);
            i = e < 0 ? n : e + 3;
            continue;
        }
        const QChar next = i + 1 < n ? html[i + 1] : QChar();
        const bool startsTag = next.isLetter() || next == QLatin1Char('/') ||
                               next == QLatin1Char('!') || next == QLatin1Char('?');
        const auto close = noClose || !startsTag ? -1 : html.indexOf(QLatin1Char('>'), i + 1);
        if (!startsTag) {
            t += c;  // "5 < 6": not a tag
            ++i;
            continue;
        }
        if (close < 0) {
            // No '>' anywhere after this: every '<' from here on is text,
            // and it is not searched for again.
            noClose = true;
            t += c;
            ++i;
            continue;
        }
        const QString name = tagName(html, i, close);
        if (name == QLatin1String("script") || name == QLatin1String("style") ||
            name == QLatin1String("head")) {
            // Dropped with everything up to its end tag; without one, the rest.
            const auto end =
                html.indexOf(QLatin1String("</") + name, close + 1, Qt::CaseInsensitive);
            const auto endClose = end < 0 ? -1 : html.indexOf(QLatin1Char('>'), end);
            i = endClose < 0 ? n : endClose + 1;
            continue;
        }
        if (breakTags.contains(name)) {
            t += QLatin1Char('\n');
        }
        i = close + 1;
    }
    static const QRegularExpression entity(
        QStringLiteral("&(#[0-9]{1,7}|#[xX][0-9a-fA-F]{1,6}|[a-zA-Z]{2,8});"));
    static const QHash<QString, QString> named{{QStringLiteral("amp"), QStringLiteral("&")},
                                               {QStringLiteral("lt"), QStringLiteral("<")},
                                               {QStringLiteral("gt"), QStringLiteral(">")},
                                               {QStringLiteral("quot"), QStringLiteral("\"")},
                                               {QStringLiteral("apos"), QStringLiteral("'")},
                                               {QStringLiteral("nbsp"), QStringLiteral(" ")},
                                               {QStringLiteral("euro"), QStringLiteral("€")},
                                               {QStringLiteral("copy"), QStringLiteral("©")},
                                               {QStringLiteral("deg"), QStringLiteral("°")},
                                               {QStringLiteral("ndash"), QStringLiteral("–")},
                                               {QStringLiteral("mdash"), QStringLiteral("—")},
                                               {QStringLiteral("hellip"), QStringLiteral("…")}};
    QString out;
    qsizetype last = 0;
    auto it = entity.globalMatch(t);
    while (it.hasNext()) {
        const auto m = it.next();
        out += t.mid(last, m.capturedStart() - last);
        const QString e = m.captured(1);
        QString rep = m.captured(0);
        if (e.startsWith(QLatin1Char('#'))) {
            bool ok = false;
            const uint cp = e.startsWith(QLatin1String("#x"), Qt::CaseInsensitive)
                                ? e.mid(2).toUInt(&ok, 16)
                                : e.mid(1).toUInt(&ok, 10);
            // A reference to no character (&#0;, a surrogate, beyond
            // Unicode) stands for nothing and is dropped.
            rep.clear();
            if (ok && cp > 0 && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF)) {
                const char32_t c = cp;
                rep = QString::fromUcs4(&c, 1);
            }
        } else if (named.contains(e.toLower())) {
            rep = named.value(e.toLower());
        }
        out += rep;
        last = m.capturedEnd();
    }
    out += t.mid(last);
    QStringList lines;
    for (const QString& l : out.split(QLatin1Char('\n'))) {
        const QString s = l.simplified();
        if (!s.isEmpty()) {
            lines << s;
        }
    }
    return lines.join(QLatin1Char('\n'));
}

MailContent extract(const QByteArray& mail) {
    MailContent c;
    const Part top = splitPart(mail);
    c.subject = decodeHeader(top.header("subject"));
    c.from = fromAddress(decodeHeader(top.header("from")));
    Found found;
    walk(mail, 0, found);
    c.text = found.hasPlain ? found.plain : found.html;
    return c;
}

}  // namespace vts::gate::mail
