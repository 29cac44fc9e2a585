#include "ClientDialog.h"
#include "ConfigTestSupport.h"

#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

using namespace vts;
using test::child;
using test::onModal;

namespace {

class ClientPage : public test::ConfigWindowTest {
protected:
    QStringList names(frmMain& w) {
        QStringList list;
        for (int i = 0; i < w.UserList_c()->count(); ++i) list << w.UserList_c()->item(i)->text();
        return list;
    }
    // Fills the add dialog and presses OK; the dialog is then cancelled if
    // it is still open.
    void addThroughDialog(frmMain& w, const QString& name, const QString& location) {
        onModal([name, location](QWidget* d) {
            child<QLineEdit>(d, "Username_c")->setText(name);
            child<QLineEdit>(d, "ClientLocation_c")->setText(location);
            child<QLineEdit>(d, "ComputerName_c")->setText(" pc7 ");
            child<QPushButton>(d, "Command2")->click();
            if (d->isVisible()) child<QPushButton>(d, "Command1")->click();
        });
        child<QPushButton>(&w, "AddClient_c")->click();
    }
};

TEST_F(ClientPage, ListCarriesIdsAndShowsNamesOnly) {
    const qint64 a = addClientRow("ADAMS", "/a", "PC1");
    const qint64 b = addClientRow("baker", "/b", QVariant());
    auto w = openMain();
    EXPECT_EQ(names(*w), QStringList({"ADAMS", "baker"}));
    EXPECT_EQ(w->UserList_c()->item(0)->data(Qt::UserRole).toLongLong(), a);
    EXPECT_EQ(w->UserList_c()->item(1)->data(Qt::UserRole).toLongLong(), b);
    EXPECT_EQ(w->UserList_c()->currentRow(), -1);
    EXPECT_EQ(w->UserList_c()->font().family(), "Courier New");
}

TEST_F(ClientPage, AddStoresUpperCaseAndRefusesTheSameNameInOtherCase) {
    writeFile("client/VT.MDB", "x");
    auto w = openMain();
    addThroughDialog(*w, "  smith ", path("client/VT.MDB"));
    EXPECT_EQ(names(*w), QStringList({"SMITH"}));
    EXPECT_TRUE(dialogs.shown().empty());
    addThroughDialog(*w, "Smith", path("client/VT.MDB"));
    EXPECT_EQ(dialogs.texts(), QStringList({"That name already exists"}));
    EXPECT_EQ(rowCount("tblClients"), 1);
}

TEST_F(ClientPage, InaccessibleLocationWarnsButStillSaves) {
    auto w = openMain();
    addThroughDialog(*w, "o'neil", path("nowhere/VT.MDB"));
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].text,
              "That path specified for the Vantrel client is not currently accessible");
    EXPECT_EQ(dialogs.shown()[0].title, "Warning");
    EXPECT_EQ(names(*w), QStringList({"O'NEIL"}));
}

TEST_F(ClientPage, BrowseKeepsTheFileInAddAndTheFolderInEdit) {
    addClientRow("ADAMS", "/a", QVariant());
    auto w = openMain();
    const QString chosen = path("client/VT.MDB");
    QString addLocation, editLocation;
    onModal([&](QWidget* d) {
        auto* dialog = qobject_cast<ClientDialog*>(d);
        dialog->chooseFile = [chosen] { return chosen; };
        child<QPushButton>(d, "Command3")->click();
        addLocation = child<QLineEdit>(d, "ClientLocation_c")->text();
        child<QPushButton>(d, "Command1")->click();
    });
    w->AddClient_c_Click();
    w->UserList_c()->setCurrentRow(0);
    onModal([&](QWidget* d) {
        auto* dialog = qobject_cast<ClientDialog*>(d);
        EXPECT_EQ(d->windowTitle(), "Edit Client");
        EXPECT_EQ(child<QLineEdit>(d, "Username_c")->text(), "ADAMS");
        dialog->chooseFile = [] { return QString(); };  // nothing chosen: unchanged
        child<QPushButton>(d, "Command3")->click();
        EXPECT_EQ(child<QLineEdit>(d, "ClientLocation_c")->text(), "/a");
        dialog->chooseFile = [chosen] { return chosen; };
        child<QPushButton>(d, "Command3")->click();
        editLocation = child<QLineEdit>(d, "ClientLocation_c")->text();
        child<QPushButton>(d, "Command1")->click();
    });
    w->EditClient_c_Click();
    EXPECT_EQ(addLocation, chosen);
    EXPECT_EQ(editLocation, path("client") + "/");
    EXPECT_EQ(rowCount("tblClients"), 1);
}

TEST_F(ClientPage, DoubleClickEditsTheEntryWithoutReloadingTheList) {
    addClientRow("ADAMS", "/a", QVariant());
    const qint64 b = addClientRow("BAKER", "/b", "PC2");
    auto w = openMain();
    w->UserList_c()->setCurrentRow(1);
    onModal([](QWidget* d) {
        EXPECT_EQ(child<QLineEdit>(d, "ComputerName_c")->text(), "PC2");
        child<QLineEdit>(d, "Username_c")->setText(" adams ");
        child<QPushButton>(d, "Command2")->click();
    });
    emit w->UserList_c()->itemDoubleClicked(w->UserList_c()->item(1));
    EXPECT_EQ(names(*w), QStringList({"ADAMS", "BAKER"}));
    auto db = configstore::open(dir());
    auto rs = db->openTableWhere("tblClients", "ID", b);
    EXPECT_EQ(rs->text("Name"), "ADAMS");  // the edit dialog does not check for duplicates
}

TEST_F(ClientPage, RemoveAsksAndRebuildsTheList) {
    addClientRow("ADAMS", "/a", QVariant());
    addClientRow("BAKER", "/b", QVariant());
    auto w = openMain();
    w->Remove_c_Click();  // nothing selected
    EXPECT_TRUE(dialogs.shown().empty());
    w->UserList_c()->setCurrentRow(0);
    dialogs.queueAnswer(Dialogs::Answer::No);
    w->Remove_c_Click();
    EXPECT_EQ(rowCount("tblClients"), 2);
    w->Remove_c_Click();
    EXPECT_EQ(names(*w), QStringList({"BAKER"}));
    EXPECT_EQ(w->UserList_c()->currentRow(), -1);
    ASSERT_EQ(dialogs.shown().size(), 2u);
    EXPECT_EQ(dialogs.shown()[0].text, "Are you sure you want to remove this client");
    EXPECT_EQ(dialogs.shown()[0].title, "Removal Verification");
    EXPECT_EQ(dialogs.shown()[0].buttons, Dialogs::Buttons::YesNo);
}

TEST_F(ClientPage, ConfigureOpensTheClientFolderResolvedIgnoringCase) {
    writeFile("Clients/Adams/VT.MDB", "x");
    addClientRow("ADAMS", "  " + (dir() + "/CLIENTS/ADAMS/VT.MDB").toUpper() + " ", QVariant());
    addClientRow("GONE", dir() + "/NOT/THERE", QVariant());
    auto w = openMain();
    w->Configure_c_Click();
    EXPECT_TRUE(opened.isEmpty());
    w->UserList_c()->setCurrentRow(0);
    child<QPushButton>(w.get(), "Configure_c")->click();
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0], QDir(path("Clients/Adams")).absolutePath());
    EXPECT_TRUE(dialogs.shown().empty());

    w->UserList_c()->setCurrentRow(1);
    w->Configure_c_Click();
    EXPECT_EQ(opened.size(), 1);
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].title, "Error");

    openSucceeds = false;
    w->UserList_c()->setCurrentRow(0);
    w->Configure_c_Click();
    EXPECT_EQ(dialogs.shown().size(), 2u);
}

TEST_F(ClientPage, EditingARowRemovedMeanwhileOpensEmptyAndSavesNothing) {
    const qint64 id = addClientRow("ADAMS", "/a", QVariant());
    auto w = openMain();
    {
        auto db = configstore::open(dir());
        db->execute("delete from tblClients where ID=?", {id});
    }
    w->UserList_c()->setCurrentRow(0);
    onModal([](QWidget* d) {
        EXPECT_EQ(child<QLineEdit>(d, "Username_c")->text(), "");
        child<QLineEdit>(d, "Username_c")->setText("NEW");
        child<QPushButton>(d, "Command2")->click();
        EXPECT_FALSE(d->isVisible());
    });
    w->EditClient_c_Click();
    EXPECT_EQ(rowCount("tblClients"), 0);
    EXPECT_TRUE(dialogs.shown().empty());
}

TEST_F(ClientPage, AStoreErrorIsShownAndLeavesListAndStoreAlone) {
    addClientRow("ADAMS", "/a", QVariant());
    auto w = openMain();
    {
        auto db = configstore::open(dir());
        db->execute("drop table tblClients");
    }
    w->UserList_c()->setCurrentRow(0);
    w->Remove_c_Click();
    ASSERT_EQ(dialogs.shown().size(), 2u);  // the question, then the error
    EXPECT_EQ(dialogs.shown()[1].title, "Error");
    EXPECT_EQ(names(*w), QStringList({"ADAMS"}));
    EXPECT_EQ(ended, 0);
}

}  // namespace
