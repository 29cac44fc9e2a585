#include "frmUpdateVT.h"

#include "FormStyle.h"

#include <QLabel>
#include "frmConnectISP.h"
#include "frmDontrun.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace vts {

frmUpdateVT::frmUpdateVT(UpdaterActions& actions, OnlyOne* guard, QWidget* parent)
    : QDialog(parent), OnlyOne1(guard), m_actions(actions) {
    setObjectName(QStringLiteral("frmUpdateVT"));
    setWindowTitle(QStringLiteral("Vantrel Update Program"));
    updaterstyle::applyTeal(this);
    auto* v = new QVBoxLayout(this);
    for (const char* line : {"There may be a new Vantrel update available online.",
                             "Click the Update button below to automatically upgrade your",
                             "copy of Vantrel if an update is available."})
        v->addWidget(updaterstyle::textLine(QString::fromLatin1(line), this));
    btnContinue = new QPushButton(QStringLiteral("Update"), this);
    btnContinue->setObjectName(QStringLiteral("btnContinue"));
    btnContinue->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    auto* h = new QHBoxLayout;
    h->addStretch();
    h->addWidget(btnContinue);
    h->addWidget(btnCancel);
    h->addStretch();
    v->addSpacing(8);
    v->addLayout(h);

    connect(btnContinue, &QPushButton::clicked, this, &frmUpdateVT::btnContinue_Click);
    connect(btnCancel, &QPushButton::clicked, this, &frmUpdateVT::btnCancel_Click);
    connect(&m_actions, &UpdaterActions::instructionsRequested, this,
            &frmUpdateVT::showInstructions);
    if (OnlyOne1) connect(OnlyOne1, &OnlyOne::raiseRequested, this, &frmUpdateVT::bringToFront);
    updaterstyle::fixAndCentre(this);
}

void frmUpdateVT::btnContinue_Click() {
    if (m_connect) return;
    btnContinue->setEnabled(false);
    m_connect = new frmConnectISP(m_actions, this);
    m_connect->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_connect, &QDialog::finished, this, [this] { btnContinue->setEnabled(true); });
    m_connect->open();
}

void frmUpdateVT::btnCancel_Click() { m_actions.decline(); }

void frmUpdateVT::showInstructions() {
    if (m_instructions) return;
    auto* w = new frmDontrun(this);
    w->setAttribute(Qt::WA_DeleteOnClose);
    m_instructions = w;
    connect(w, &QDialog::finished, &m_actions, &UpdaterActions::startClientAndQuit);
    w->open();
}

void frmUpdateVT::bringToFront() {
    if (isMinimized()) {
        showNormal();
    } else {
        raise();
        activateWindow();
    }
    if (QWidget* modal = QApplication::activeModalWidget()) modal->raise();
}

void frmUpdateVT::reject() { btnCancel_Click(); }

void frmUpdateVT::closeEvent(QCloseEvent* e) {
    // The close box ends the program without starting the client.
    e->accept();
}

}  // namespace vts
