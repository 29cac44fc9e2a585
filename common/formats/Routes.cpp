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

QList<int> Routes::portsOf(const QString& text, QString* why) {
    static const QRegularExpression comPort(QStringLiteral("^COM([1-9][0-9]?)$"),
                                            QRegularExpression::CaseInsensitiveOption);
    QList<int> ports;
    for (const QString& item : text.split(u',', Qt::SkipEmptyParts)) {
        const auto m = comPort.match(item.trimmed());
        if (!m.hasMatch()) {
            if (why) *why = QStringLiteral("%1 is not COM1 to COM99").arg(item.trimmed());
            return {};
        }
        if (!ports.contains(m.captured(1).toInt())) ports << m.captured(1).toInt();
    }
    if (ports.isEmpty() && why) *why = QStringLiteral("a route names at least one port");
    return ports;
}

QString Routes::entry(const QString& ports, QString* why) {
    QStringList words;
    for (const int p : portsOf(ports, why)) words << QStringLiteral("COM%1").arg(p);
    return words.join(QStringLiteral(", "));
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
        const QList<int> ports = portsOf(line.mid(eq + 1), nullptr);
        if (number.isEmpty() || ports.isEmpty()) {
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
