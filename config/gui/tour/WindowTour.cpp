#include "WindowTour.h"

#include "ClientDialog.h"
#include "ConfigStore.h"
#include "Database.h"
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
#include <QFileInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListWidget>

namespace vts::tour {

void sampleStore(const QString& dir, int ports) {
    const QString store = dir + QStringLiteral("/VTSCFG.MDB");
    if (!QFileInfo::exists(store)) configstore::createNew(store, dir + QStringLiteral("/queue"));
    QDir().mkpath(dir + QStringLiteral("/queue/PENDING"));
    auto db = configstore::open(dir);
    {
        auto rs = db->openTable(QStringLiteral("tblModems"));
        for (int i = 1; i <= ports; ++i) {
            rs->addNew();
            rs->setValue(QStringLiteral("ComPort"), QStringLiteral("COM%1").arg(i));
            rs->update();
        }
    }
    auto rs = db->openTable(QStringLiteral("tblClients"));
    for (const char* n : {"ADAMS", "BAKER", "O'NEIL"}) {
        rs->addNew();
        rs->setValue(QStringLiteral("Name"), QString::fromLatin1(n));
        rs->setValue(QStringLiteral("Path"), dir.toUpper() + QStringLiteral("/CLIENT/VT.MDB"));
        rs->setValue(QStringLiteral("ComputerName"),
                     QStringLiteral("PC-") + QString::fromLatin1(n));
        rs->update();
    }
}

namespace {

void settle() {
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

void present(QWidget& w, const QString& name,
             const std::function<void(QWidget&, const QString&)>& visit) {
    w.show();
    // The offscreen platform has no stacking (and says so when asked).
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) w.raise();
    settle();
    visit(w, name);
    w.hide();
}

}  // namespace

bool visitAll(const ConfigContext& ctx,
              const std::function<void(QWidget& window, const QString& name)>& visit) {
    {
        frmLogin login(ctx, QStringLiteral("X"));
        present(login, QStringLiteral("frmLogin"), visit);
    }
    frmMain main(ctx);
    if (!main.Form_Load()) return false;
    const QStringList pages = {
        QStringLiteral("frmMain-1-ServerSetup"), QStringLiteral("frmMain-2-Alerts"),
        QStringLiteral("frmMain-3-Reports"), QStringLiteral("frmMain-4-ConfigureClient")};
    for (int i = 0; i < 4; ++i) {
        main.SwitchFrame_c_Click(i + 1);
        present(main, pages.at(i), visit);
    }
    main.SwitchFrame_c_Click(1);
    main.show();

    present(*main.directDial(), QStringLiteral("frmDirectDial"), visit);
    main.smtp()->AlertSMTPServer_c()->setText(main.AlertSMTPServer_c()->text());
    present(*main.smtp(), QStringLiteral("frmSMTP"), visit);
    {
        frmNewPort port(ctx, &main);
        present(port, QStringLiteral("frmNewPort"), visit);
    }
    {
        frmAddClient add(ctx, &main);
        present(add, QStringLiteral("frmAddClient"), visit);
    }
    main.UserList_c()->setCurrentRow(0);
    {
        frmEditClient edit(ctx, main);
        present(edit, QStringLiteral("frmEditClient"), visit);
    }
    {
        frmPendingFilesStatus pending(ctx, main.MessageQueueLocation_c()->text(), &main);
        present(pending, QStringLiteral("frmPendingFilesStatus"), visit);
    }
    {
        frmConfigLogin configLogin(ctx, main);
        present(configLogin, QStringLiteral("frmConfigLogin"), visit);
    }
    {
        frmChangePassword change(ctx, *main.SystemPassword_c(), &main);
        present(change, QStringLiteral("frmChangePassword"), visit);
    }
    {
        frmBrowseForQueue browse(ctx, &main);
        present(browse, QStringLiteral("frmBrowseForQueue"), visit);
    }
    main.hide();
    return true;
}

}  // namespace vts::tour
