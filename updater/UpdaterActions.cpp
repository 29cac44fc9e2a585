#include "UpdaterActions.h"

#include <QDir>

namespace vts {

UpdaterActions::UpdaterActions(ProgramFolder folder, ServerAddress server, EventLoop& loop,
                               Dialogs& dialogs, Launcher& launcher, QObject* parent)
    : QObject(parent),
      m_folder(std::move(folder)),
      m_server(std::move(server)),
      m_loop(loop),
      m_dialogs(dialogs),
      m_launcher(launcher) {}

void UpdaterActions::recordDecision() {
    if (!m_folder.writeUpdated(m_loop.now())) warnUnwritten({m_folder.updatedFile()});
}

void UpdaterActions::decline() {
    if (m_ending) return;
    recordDecision();
    emit instructionsRequested();
}

void UpdaterActions::startClientAndQuit() {
    if (m_ending) return;
    m_ending = true;
    Launcher::Request r;
    r.folder = m_folder.path();
    r.program = QStringLiteral("VT.EXE");
    r.workingDirectory = m_folder.path();
    QString error;
    if (!m_launcher.start(r, &error))
        m_dialogs.show(QStringLiteral("Vantrel could not be started.\n%1").arg(error),
                       QString::fromLatin1(kWarningTitle), Dialogs::Icon::Exclamation,
                       Dialogs::Buttons::Ok);
    emit quitRequested();
}

void UpdaterActions::warnUnwritten(const QStringList& files) {
    if (files.isEmpty()) return;
    QStringList shown;
    for (const QString& f : files) shown << QDir::toNativeSeparators(f);
    m_dialogs.show(QStringLiteral("These files could not be written:\n") + shown.join(u'\n'),
                   QString::fromLatin1(kWarningTitle), Dialogs::Icon::Exclamation,
                   Dialogs::Buttons::Ok);
}

}  // namespace vts
