#pragma once

#include "ConfigContext.h"
#include "FolderBrowser.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QListWidget;
class QListWidgetItem;

// The queue folder picker: a drive list (mounted file systems, root first),
// a folder list starting at the process's current folder, and the Filename
// label that always shows the folder list's path and is the result. OK keeps
// the label; Cancel and the title-bar close clear it. A place that cannot be
// read shows the system's error text and the lists stay where they were.
class frmBrowseForQueue : public QDialog {
    Q_OBJECT
public:
    explicit frmBrowseForQueue(const vts::ConfigContext& context, QWidget* parent = nullptr);

    QString result() const;
    QComboBox* Drive1() const { return m_Drive1; }
    QListWidget* Dir1() const { return m_Dir1; }
    QLabel* Filename() const { return m_Filename; }
    QString path() const { return m_browser.path(); }

public slots:
    void Drive1_Change(int index);
    // Opens `path` in the folder list (what a double click on an entry does).
    bool openFolder(const QString& path);
    void Command2_Click();  // OK
    void Command1_Click();  // Cancel
    void reject() override;

private:
    void Dir1_Change();
    void fillFolders();
    void selectDriveOfPath();

    vts::ConfigContext m_ctx;
    vts::FolderBrowser m_browser;
    QStringList m_drives;
    QComboBox* m_Drive1;
    QListWidget* m_Dir1;
    QLabel* m_Filename;
};
