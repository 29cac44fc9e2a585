#pragma once

#include "ConfigContext.h"
#include "ConfigStore.h"
#include "Database.h"
#include "Dialogs.h"
#include "ScriptedDialogs.h"
#include "TestSupport.h"
#include "frmMain.h"

#include <QApplication>
#include <QTimer>
#include <QVariant>
#include <QWidget>

#include <functional>
#include <memory>

namespace vts::test {

// A temporary working directory with a fresh configuration store, scripted
// message boxes and recorders for ending the program and opening folders.
class ConfigStoreTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        configstore::createNew(path(QStringLiteral("VTSCFG.MDB")), path(QStringLiteral("queue")));
        context.workDir = dir();
        context.programDir = dir();
        context.dialogs = &dialogs;
        context.endProgram = [this] { ++ended; };
        context.openFolder = [this](const QString& folder) {
            opened << folder;
            return openSucceeds;
        };
    }

    // Sets one field of the settings row directly in the store.
    void setConfig(const QString& field, const QVariant& value) {
        auto db = configstore::open(dir());
        auto rs = db->openTable(QStringLiteral("tblConfig"));
        rs->moveFirst();
        rs->edit();
        rs->setValue(field, value);
        rs->update();
    }
    QVariant config(const QString& field) {
        auto db = configstore::open(dir());
        auto rs = db->openTable(QStringLiteral("tblConfig"));
        rs->moveFirst();
        return rs->value(field);
    }
    int rowCount(const QString& table) {
        auto db = configstore::open(dir());
        int n = 0;
        for (auto rs = db->openTable(table); !rs->eof(); rs->moveNext()) ++n;
        return n;
    }
    void addModemRow(const QString& port) {
        auto db = configstore::open(dir());
        auto rs = db->openTable(QStringLiteral("tblModems"));
        rs->addNew();
        rs->setValue(QStringLiteral("ComPort"), port);
        rs->update();
    }
    qint64 addClientRow(const QString& name, const QString& path, const QVariant& computer) {
        auto db = configstore::open(dir());
        auto rs = db->openTable(QStringLiteral("tblClients"));
        rs->addNew();
        const qint64 id = rs->value(QStringLiteral("ID")).toLongLong();
        rs->setValue(QStringLiteral("Name"), name);
        rs->setValue(QStringLiteral("Path"), path);
        rs->setValue(QStringLiteral("ComputerName"), computer);
        rs->update();
        return id;
    }

    ScriptedDialogs dialogs;
    ConfigContext context;
    int ended = 0;
    QStringList opened;
    bool openSucceeds = true;
};

// The ground of every window test here: the store, the context and the
// scripted message boxes above, in the temporary working directory, and the
// main window after its start-up sequence (no Reports page actions unless the
// test sets them). Report windows run on the same ground with a log store
// added by the test.
class ConfigWindowTest : public ConfigStoreTest {
protected:
    // The main window after its start-up sequence; a start that ended the
    // program fails the test.
    std::unique_ptr<frmMain> openMain() {
        auto w = std::make_unique<frmMain>(context);
        EXPECT_TRUE(w->Form_Load());
        return w;
    }
};

// Runs `fn` with the modal dialog as soon as one is shown (from inside its
// exec()). `fn` must close the dialog.
inline void onModal(std::function<void(QWidget*)> fn, int attempts = 200) {
    QTimer::singleShot(attempts == 200 ? 0 : 5, [fn, attempts] {
        if (QWidget* w = QApplication::activeModalWidget()) {
            fn(w);
        } else if (attempts > 0) {
            onModal(fn, attempts - 1);
        }
    });
}

template <class W>
W* child(QObject* parent, const char* name) {
    W* w = parent->findChild<W*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

}  // namespace vts::test
