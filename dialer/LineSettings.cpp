#include "LineSettings.h"

#include <QStringList>

#include <algorithm>
#include <iterator>

namespace vts {

std::optional<LineSettings> LineSettings::parse(const QString& text) {
    LineSettings s;
    const QString t = text.trimmed();
    if (t.isEmpty()) {
        return s;
    }
    const QStringList parts = t.split(QLatin1Char(','));
    if (parts.size() < 1 || parts.size() > 5) {
        return std::nullopt;
    }
    bool ok = false;
    s.speed = parts[0].trimmed().toInt(&ok);
    static const int speeds[] = {110,  300,   600,   1200,  2400,  4800,
                                 9600, 19200, 38400, 57600, 115200};
    if (!ok || std::find(std::begin(speeds), std::end(speeds), s.speed) == std::end(speeds)) {
        return std::nullopt;
    }
    if (parts.size() > 1) {
        const QString p = parts[1].trimmed().toUpper();
        if (p.size() != 1 || !QStringLiteral("NEOMS").contains(p)) {
            return std::nullopt;
        }
        s.parity = p[0].toLatin1();
    }
    if (parts.size() > 2) {
        s.dataBits = parts[2].trimmed().toInt(&ok);
        if (!ok || s.dataBits < 5 || s.dataBits > 8) {
            return std::nullopt;
        }
    } else if (parts.size() > 1 && s.parity == 'N') {
        s.dataBits = 8;
    }
    if (parts.size() > 3) {
        s.stopBits = parts[3].trimmed().toInt(&ok);
        if (!ok || (s.stopBits != 1 && s.stopBits != 2)) {
            return std::nullopt;
        }
    }
    if (parts.size() > 4) {
        const QString f = parts[4].trimmed().toUpper();
        if (f.size() != 1 || !QStringLiteral("XRN").contains(f)) {
            return std::nullopt;
        }
        s.flow = f[0].toLatin1();
    }
    return s;
}

QString LineSettings::toString() const {
    return QStringLiteral("%1,%2,%3,%4,%5")
        .arg(speed)
        .arg(QLatin1Char(parity))
        .arg(dataBits)
        .arg(stopBits)
        .arg(QLatin1Char(flow));
}

}  // namespace vts
