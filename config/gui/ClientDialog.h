#pragma once

#include "ConfigContext.h"

#include <QDialog>

#include <functional>
#include <memory>

class QFileDialog;
class QLineEdit;
class frmMain;

// The controls shared by frmAddClient and frmEditClient: user name, client
// database location, computer name, Browse, OK and Cancel. Browse asks
// `chooseFile` for a VT.MDB file (a file dialog unless a test replaces it).
class ClientDialog : public QDialog {
    Q_OBJECT
public:
    ClientDialog(const vts::ConfigContext& context, const QString& name, const QString& caption,
                 QWidget* parent);

    QLineEdit* Username_c() const { return m_Username_c; }
    QLineEdit* ClientLocation_c() const { return m_ClientLocation_c; }
    QLineEdit* ComputerName_c() const { return m_ComputerName_c; }

    // Returns the chosen file's full path, or "" when nothing was chosen.
    std::function<QString()> chooseFile;
    // The file dialog Browse shows (not yet shown).
    std::unique_ptr<QFileDialog> makeFileDialog();

public slots:
    void Command3_Click();              // Browse
    virtual void Command2_Click() = 0;  // OK

protected:
    // What Browse puts into the location box from the chosen path.
    virtual QString locationFrom(const QString& chosen) const = 0;
    void storeError(const QString& message);

    vts::ConfigContext m_ctx;
    QLineEdit* m_Username_c;
    QLineEdit* m_ClientLocation_c;
    QLineEdit* m_ComputerName_c;
};

// "Add Client": adds a row unless the name exists; an inaccessible location
// is only a warning.
class frmAddClient : public ClientDialog {
    Q_OBJECT
public:
    explicit frmAddClient(const vts::ConfigContext& context, QWidget* parent = nullptr);
    void Command2_Click() override;

protected:
    QString locationFrom(const QString& chosen) const override { return chosen; }
};

// "Edit Client": edits the row of the entry selected in the main window's
// client list, read when it opens and again on OK.
class frmEditClient : public ClientDialog {
    Q_OBJECT
public:
    frmEditClient(const vts::ConfigContext& context, frmMain& main);
    void Command2_Click() override;

protected:
    QString locationFrom(const QString& chosen) const override;

private:
    qint64 selectedId() const;
    frmMain& m_main;
};
