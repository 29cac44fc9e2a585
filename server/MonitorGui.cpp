#include "MonitorGui.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>

namespace vts::monitorgui {

bool displayPresent(const QProcessEnvironment& env) {
    const bool named = !env.value(QStringLiteral("DISPLAY")).isEmpty() ||
                       !env.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty();
    const QString platform = env.value(QStringLiteral("QT_QPA_PLATFORM"));
    return named && platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

QStringList folders(const QString& programDir) {
    const QDir dir(programDir);
    QStringList out{dir.absolutePath()};
    for (const QString& lib :
         {QStringLiteral("../" VTS_INSTALL_LIBDIR), QStringLiteral("../lib")}) {
        const QString folder = QDir::cleanPath(dir.absoluteFilePath(lib));
        if (!out.contains(folder)) {
            out << folder;
        }
    }
    return out;
}

QString programDir() {
    return QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absolutePath();
}

std::unique_ptr<MonitorGui> load(const QStringList& folders, int& argc, char** argv,
                                 QString* error) {
    for (const QString& folder : folders) {
        const QString path = QDir(folder).filePath(QString::fromLatin1(kFileName));
        if (!QFileInfo(path).isFile()) {
            continue;
        }
        // Never unloaded: the windows' code runs until the program ends.
        QLibrary library(path);
        // Every symbol bound at once, so a plug-in that does not fit this
        // program is refused here rather than failing on its first call.
        library.setLoadHints(QLibrary::ResolveAllSymbolsHint);
        const auto create = reinterpret_cast<CreateFunction>(library.resolve(kCreateFunction));
        if (!create) {
            *error = library.errorString();
            return nullptr;
        }
        return std::unique_ptr<MonitorGui>(create(argc, argv));
    }
    *error = QString::fromLatin1(kFileName) + QStringLiteral(" is in none of ") +
             folders.join(QStringLiteral(", "));
    return nullptr;
}

}  // namespace vts::monitorgui
