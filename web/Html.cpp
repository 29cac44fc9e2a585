#include "Html.h"

#include <algorithm>

namespace vts::web::html {

QString escape(const QString& text) {
    QString out;
    out.reserve(text.size() + text.size() / 8);
    for (const QChar c : text) {
        switch (c.unicode()) {
            case '<':
                out += QLatin1String("&lt;");
                break;
            case '>':
                out += QLatin1String("&gt;");
                break;
            case '&':
                out += QLatin1String("&amp;");
                break;
            case '"':
                out += QLatin1String("&quot;");
                break;
            case '\'':
                out += QLatin1String("&#39;");
                break;
            default:
                out += c;
        }
    }
    return out;
}

QString csrfField(const QString& token) {
    return QStringLiteral("<input type=\"hidden\" name=\"csrf\" value=\"%1\">").arg(escape(token));
}

QString page(const QString& title, const QString& body, const QString& user, const QString& role,
             const QList<NavItem>& nav, const QString& csrf, const QString& current) {
    QString h = QStringLiteral(
                    "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                    "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                    "<title>%1 - Vantrel</title>"
                    "<link rel=\"stylesheet\" href=\"/assets/style.css\">"
                    "<script src=\"/assets/app.js\" defer></script></head><body>")
                    .arg(escape(title));
    h += QStringLiteral("<a class=\"skip\" href=\"#main\">Skip to content</a>");
    if (!user.isEmpty()) {
        h += QStringLiteral("<header><nav aria-label=\"Main\"><ul>");
        for (const NavItem& n : nav) {
            const bool here = n.path == current;
            h += QStringLiteral("<li><a href=\"%1\"%2>%3</a></li>")
                     .arg(escape(n.path),
                          here ? QStringLiteral(" aria-current=\"page\"") : QString(),
                          escape(n.label));
        }
        h += QStringLiteral(
                 "</ul></nav><form class=\"signout\" method=\"post\" action=\"/logout\">%1"
                 "<span>%2 (%3)</span> <button type=\"submit\">Sign out</button></form></header>")
                 .arg(csrfField(csrf), escape(user), escape(role));
    }
    h += QStringLiteral("<main id=\"main\"><h1>%1</h1>%2</main></body></html>\n")
             .arg(escape(title), body);
    return h;
}

QString field(const QString& name, const QString& label, const QString& value, const QString& type,
              const QString& extra) {
    return QStringLiteral(
               "<p class=\"field\"><label for=\"f-%1\">%2</label> "
               "<input id=\"f-%1\" name=\"%1\" type=\"%3\" value=\"%4\"%5></p>")
        .arg(escape(name), escape(label), escape(type), escape(value),
             extra.isEmpty() ? QString() : u' ' + extra);
}

QString select(const QString& name, const QString& label,
               const QList<QPair<QString, QString>>& options, const QString& chosen) {
    QString h = QStringLiteral(
                    "<p class=\"field\"><label for=\"f-%1\">%2</label> "
                    "<select id=\"f-%1\" name=\"%1\">")
                    .arg(escape(name), escape(label));
    for (const auto& [value, text] : options) {
        h += QStringLiteral("<option value=\"%1\"%2>%3</option>")
                 .arg(escape(value), value == chosen ? QStringLiteral(" selected") : QString(),
                      escape(text));
    }
    return h + QStringLiteral("</select></p>");
}

QString notice(const QString& text, const QString& kind) {
    if (text.isEmpty()) return {};
    return QStringLiteral("<p class=\"notice %1\" role=\"%2\">%3</p>")
        .arg(kind == QLatin1String("error") ? QStringLiteral("error") : QStringLiteral("ok"),
             kind == QLatin1String("error") ? QStringLiteral("alert") : QStringLiteral("status"),
             escape(text));
}

QString hourlyChart(const QStringList& hours, const QList<int>& sent, const QList<int>& failed) {
    const int n = static_cast<int>(hours.size());
    int top = 1;
    for (int i = 0; i < n; ++i) top = std::max({top, sent.value(i), failed.value(i)});
    constexpr int kHeight = 120;
    constexpr int kBar = 8;
    constexpr int kSlot = 2 * kBar + 6;
    QString svg =
        QStringLiteral(
            "<figure class=\"chart\"><svg role=\"img\" aria-labelledby=\"chart-title\" "
            "viewBox=\"0 0 %1 %2\" preserveAspectRatio=\"none\"><title id=\"chart-title\">Pages "
            "sent and failed per hour, last 24 hours (most in one hour: %3)</title>")
            .arg(n * kSlot)
            .arg(kHeight + 2)
            .arg(top);
    for (int i = 0; i < n; ++i) {
        const int s = sent.value(i) * kHeight / top;
        const int f = failed.value(i) * kHeight / top;
        svg += QStringLiteral(
                   "<rect class=\"sent\" x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\"></rect>"
                   "<rect class=\"failed\" x=\"%5\" y=\"%6\" width=\"%3\" height=\"%7\"></rect>")
                   .arg(i * kSlot)
                   .arg(kHeight - s)
                   .arg(kBar)
                   .arg(s)
                   .arg(i * kSlot + kBar)
                   .arg(kHeight - f)
                   .arg(f);
    }
    svg += QStringLiteral(
        "</svg><figcaption><span class=\"key sent\">sent</span> "
        "<span class=\"key failed\">failed</span></figcaption>");
    svg += QStringLiteral(
        "<details><summary>Pages per hour as a table</summary><table><thead>"
        "<tr><th scope=\"col\">Hour</th><th scope=\"col\">Sent</th>"
        "<th scope=\"col\">Failed</th></tr></thead><tbody>");
    for (int i = 0; i < n; ++i) {
        svg += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td></tr>")
                   .arg(escape(hours.at(i)))
                   .arg(sent.value(i))
                   .arg(failed.value(i));
    }
    return svg + QStringLiteral("</tbody></table></details></figure>");
}

}  // namespace vts::web::html
