#include "PendingFiles.h"

#include "Conversions.h"
#include "Paths.h"

#include <QFileInfo>

namespace vts::pending {

namespace {

qint64 countFolder(const QString& folder, qint64& bytes) {
    bool ok = false;
    const QStringList names = paths::listFiles(folder, QStringLiteral("*.PMF"), &ok);
    if (!ok) return 0;
    for (const QString& name : names) bytes += QFileInfo(folder + QLatin1Char('/') + name).size();
    return names.size();
}

QString files(qint64 n) {
    return conv::formatSigned(static_cast<double>(n)) + QStringLiteral(" files");
}

}  // namespace

Summary compute(const QString& queueFolder, const QString& programDir, const QString& base) {
    Summary s;
    const auto folder = [&](const char* sub) {
        return paths::resolve(paths::join(queueFolder, QString::fromLatin1(sub)), base);
    };
    s.freeBytes = std::max<qint64>(0, paths::freeSpace(programDir));
    s.pending = countFolder(folder("\\pending\\"), s.bytes);
    s.sent = countFolder(folder("\\Sent\\"), s.bytes);
    s.failed = countFolder(folder("\\Failed\\"), s.bytes);
    return s;
}

QString byteTotalText(qint64 bytes) {
    if (bytes > 1000)
        return conv::formatSigned(static_cast<double>(bytes) / 1000.0) + QStringLiteral(" KB");
    return conv::formatSigned(static_cast<double>(bytes)) + QStringLiteral(" bytes");
}

QString freeSpaceText(qint64 bytes) {
    if (bytes > 1000)
        return conv::formatThousands(static_cast<double>(bytes) / 1000.0) + QStringLiteral(" KB");
    return conv::formatThousands(static_cast<double>(bytes)) + QStringLiteral(" bytes");
}

QStringList labels(const Summary& s) {
    return {QStringLiteral("Number of Pending: ") + files(s.pending),
            QStringLiteral("Number of Sent: ") + files(s.sent),
            QStringLiteral("Number of Failed: ") + files(s.failed),
            QStringLiteral("Total Number: ") + files(s.total()),
            QStringLiteral("File size total: ") + byteTotalText(s.bytes),
            QStringLiteral("Total size available: ") + freeSpaceText(s.freeBytes)};
}

}  // namespace vts::pending
