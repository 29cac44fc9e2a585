#pragma once

#include "ConfigContext.h"

#include <QDialog>

class QLineEdit;

// "Add a new port": adds one tblModems row. Out-of-range numbers and
// existing ports are refused with a message and the dialog stays open.
class frmNewPort : public QDialog {
    Q_OBJECT
public:
    explicit frmNewPort(const vts::ConfigContext& context, QWidget* parent = nullptr);
    QLineEdit* NewPortNumber_c() const { return m_NewPortNumber_c; }

public slots:
    void Command2_Click();  // Add Port

private:
    vts::ConfigContext m_ctx;
    QLineEdit* m_NewPortNumber_c;
};
