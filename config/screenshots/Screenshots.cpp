#include "ClientDialog.h"
#include "ConfigStore.h"
#include "Database.h"
#include "Dialogs.h"
#include "frmBrowseForQueue.h"
#include "frmChangePassword.h"
#include "frmConfigLogin.h"
#include "frmDirectDial.h"
#include "frmLogin.h"
#include "frmMain.h"
#include "frmNewPort.h"
#include "frmPendingFilesStatus.h"
#include "frmSMTP.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>

// Saves a picture of every window of the configuration program into the
// folder given on the command line, against a sample store in a temporary
// folder. Run under a display (tools/screenshots.sh uses Xvfb).
namespace {

QString g_out;

void shoot(QWidget& w, const QString& name) {
    w.show();
    w.raise();
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
    const QString file = QDir(g_out).filePath(name + QStringLiteral(".png"));
    if (!w.grab().save(file)) std::fprintf(stderr, "could not write %s\n", qPrintable(file));
    else std::printf("%s\n", qPrintable(file));
    w.hide();
}

void sampleStore(const QString& dir) {
    vts::configstore::createNew(dir + QStringLiteral("/VTSCFG.MDB"), dir + QStringLiteral("/queue"));
    auto db = vts::configstore::open(dir);
    {
        auto rs = db->openTable(QStringLiteral("tblModems"));
        for (const char* p : {"COM1", "COM2", "COM12"}) {
            rs->addNew();
            rs->setValue(QStringLiteral("ComPort"), QString::fromLatin1(p));
            rs->update();
        }
    }
    auto rs = db->openTable(QStringLiteral("tblClients"));
    for (const char* n : {"ADAMS", "BAKER", "O'NEIL"}) {
        rs->addNew();
        rs->setValue(QStringLiteral("Name"), QString::fromLatin1(n));
        rs->setValue(QStringLiteral("Path"), dir.toUpper() + QStringLiteral("/CLIENT/VT.MDB"));
        rs->setValue(QStringLiteral("ComputerName"), QStringLiteral("PC-") + QString::fromLatin1(n));
        rs->update();
    }
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: vtsconfigshots OUTPUT-FOLDER\n");
        return 2;
    }
    g_out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QDir().mkpath(g_out);
    QTemporaryDir temp;
    sampleStore(temp.path());
    QDir().mkpath(temp.path() + QStringLiteral("/queue/PENDING"));
    QDir::setCurrent(temp.path());

    vts::ConsoleDialogs dialogs;
    vts::ConfigContext ctx{temp.path(), temp.path(), &dialogs, [] {}, [](const QString&) { return true; }};

    frmLogin login(ctx, QStringLiteral("X"));
    shoot(login, QStringLiteral("frmLogin"));

    frmMain main(ctx);
    if (!main.Form_Load()) return 1;
    const QStringList pages = {QStringLiteral("frmMain-1-ServerSetup"), QStringLiteral("frmMain-2-Alerts"),
                               QStringLiteral("frmMain-3-Reports"), QStringLiteral("frmMain-4-ConfigureClient")};
    for (int i = 0; i < 4; ++i) {
        main.SwitchFrame_c_Click(i + 1);
        shoot(main, pages.at(i));
    }
    main.show();

    shoot(*main.directDial(), QStringLiteral("frmDirectDial"));
    main.smtp()->AlertSMTPServer_c()->setText(main.AlertSMTPServer_c()->text());
    shoot(*main.smtp(), QStringLiteral("frmSMTP"));
    frmNewPort port(ctx, &main);
    shoot(port, QStringLiteral("frmNewPort"));
    frmAddClient add(ctx, &main);
    shoot(add, QStringLiteral("frmAddClient"));
    main.UserList_c()->setCurrentRow(0);
    frmEditClient edit(ctx, main);
    shoot(edit, QStringLiteral("frmEditClient"));
    frmPendingFilesStatus pending(ctx, main.MessageQueueLocation_c()->text(), &main);
    shoot(pending, QStringLiteral("frmPendingFilesStatus"));
    frmConfigLogin configLogin(ctx, main);
    shoot(configLogin, QStringLiteral("frmConfigLogin"));
    frmChangePassword change(ctx, *main.SystemPassword_c(), &main);
    shoot(change, QStringLiteral("frmChangePassword"));
    frmBrowseForQueue browse(ctx, &main);
    shoot(browse, QStringLiteral("frmBrowseForQueue"));
    main.hide();
    return 0;
}
