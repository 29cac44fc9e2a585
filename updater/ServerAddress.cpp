#include "ServerAddress.h"

#include "ProgramFolder.h"

#include <QFileInfo>
#include <QHostAddress>
#include <QSettings>

namespace vts {

bool ServerAddress::isValidHost(const QString& host) {
    if (host.isEmpty() || host.size() > 253) return false;
    QString bare = host;
    if (bare.startsWith(u'[') && bare.endsWith(u']')) bare = bare.mid(1, bare.size() - 2);
    QHostAddress addr;
    if (addr.setAddress(bare)) return true;
    const QStringList labels = host.split(u'.');
    for (const QString& l : labels) {
        if (l.isEmpty() || l.size() > 63 || l.startsWith(u'-') || l.endsWith(u'-')) return false;
        for (QChar c : l)
            if (!(c.isLetterOrNumber() && c.unicode() < 0x80) && c != u'-') return false;
    }
    return true;
}

ServerAddress ServerAddress::load(const QString& programFolder) {
    ServerAddress a;
    const QString file = ProgramFolder::entry(programFolder, QString::fromLatin1(kSettingsFile));
    const QFileInfo info(file);
    if (!info.isFile() || info.size() > 64 * 1024) return a;
    QSettings s(file, QSettings::IniFormat);
    const QString host = s.value(QStringLiteral("server/host")).toString().trimmed();
    if (isValidHost(host)) a.host = host;
    bool ok = false;
    const uint port = s.value(QStringLiteral("server/port")).toString().trimmed().toUInt(&ok);
    if (ok && port >= 1 && port <= 65535) a.port = static_cast<quint16>(port);
    return a;
}

QString ServerAddress::hostHeader() const {
    QString h = host;
    QHostAddress addr;
    if (!h.startsWith(u'[') && h.contains(u':')) h = u'[' + h + u']';
    if (port != kDefaultPort) h += u':' + QString::number(port);
    return h;
}

}  // namespace vts
