#include "Routes.h"

#include <QFile>
#include <QRegularExpression>

namespace vts {

QString Routes::digits(const QString& phone) {
    QString out;
    for (const QChar c : phone) {
        if (c.isDigit() && c.unicode() < 0x80) out += c;
    }
    return out;
}

Routes Routes::load(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return parse(QString::fromUtf8(f.read(qint64{1024} * 1024)));
}

Routes Routes::parse(const QString& text) {
    Routes r;
    bool inRoutes = false;
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    static const QRegularExpression comPort(QStringLiteral("^COM([1-9][0-9]?)$"),
                                            QRegularExpression::CaseInsensitiveOption);
    for (QString line : text.split(lineBreak)) {
        const qsizetype comment = line.indexOf(QRegularExpression(QStringLiteral("[;#]")));
        if (comment >= 0) line.truncate(comment);
        line = line.trimmed();
        if (line.isEmpty()) continue;
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            inRoutes = line.mid(1, line.size() - 2)
                           .trimmed()
                           .compare(QLatin1String("routes"), Qt::CaseInsensitive) == 0;
            r.m_active = r.m_active || inRoutes;
            continue;
        }
        if (!inRoutes) continue;
        const qsizetype eq = line.indexOf(u'=');
        const QString number = digits(eq > 0 ? line.left(eq) : QString());
        QList<int> ports;
        bool ok = !number.isEmpty();
        for (const QString& item : line.mid(eq + 1).split(u',', Qt::SkipEmptyParts)) {
            const auto m = comPort.match(item.trimmed());
            ok = ok && m.hasMatch();
            if (m.hasMatch() && !ports.contains(m.captured(1).toInt())) {
                ports << m.captured(1).toInt();
            }
        }
        if (!ok || ports.isEmpty()) {
            r.m_problems << line;
            continue;
        }
        r.m_routes.insert(number, ports);
        for (int p : ports) r.m_routed.insert(p);
    }
    return r;
}

QList<int> Routes::routeOf(const QString& phone) const { return m_routes.value(digits(phone)); }

bool Routes::allows(const QString& phone, int comPort) const {
    if (!m_active) return true;
    const auto it = m_routes.constFind(digits(phone));
    return it == m_routes.constEnd() ? !m_routed.contains(comPort) : it->contains(comPort);
}

}  // namespace vts
