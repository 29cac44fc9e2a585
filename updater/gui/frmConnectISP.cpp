#include "frmConnectISP.h"

#include "FormStyle.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace vts {

frmConnectISP::frmConnectISP(UpdaterActions& actions, QWidget* parent)
    : QDialog(parent), m_flow(actions) {
    setObjectName(QStringLiteral("frmConnectISP"));
    setWindowTitle(QStringLiteral("Vantrel Update Program"));
    updaterstyle::applyTeal(this);
    auto* v = new QVBoxLayout(this);
    for (const char* line :
         {"If you are not currently connected to your ISP (Internet Service Provider),",
          "please do so now.",
          "You can connect to your ISP by starting your Internet browser or your",
          "e-mail program.",
          "After you have connected to your ISP, return to this screen and click the",
          "Update button below."})
        v->addWidget(updaterstyle::textLine(QString::fromLatin1(line), this));
    Label7 = updaterstyle::textLine(QString(), this);
    Label7->setObjectName(QStringLiteral("Label7"));
    Label7->setMinimumHeight(Label7->fontMetrics().height());
    v->addWidget(Label7);

    btnGetUpdate = new QPushButton(QStringLiteral("Update"), this);
    btnGetUpdate->setObjectName(QStringLiteral("btnGetUpdate"));
    btnGetUpdate->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    auto* h = new QHBoxLayout;
    h->addStretch();
    h->addWidget(btnGetUpdate);
    h->addWidget(btnCancel);
    h->addStretch();
    v->addLayout(h);

    DownloadPanel = new QFrame(this);
    DownloadPanel->setObjectName(QStringLiteral("DownloadPanel"));
    DownloadPanel->setFrameShape(QFrame::StyledPanel);
    auto* ph = new QHBoxLayout(DownloadPanel);
    DownloadBar = new QProgressBar(DownloadPanel);
    DownloadBar->setObjectName(QStringLiteral("DownloadBar"));
    DownloadBar->setRange(0, 100);
    DownloadBar->setValue(0);
    ph->addWidget(DownloadBar);
    v->addWidget(DownloadPanel);

    connect(btnGetUpdate, &QPushButton::clicked, this, &frmConnectISP::btnGetUpdate_Click);
    connect(btnCancel, &QPushButton::clicked, this, &frmConnectISP::btnCancel_Click);
    connect(&m_flow, &ConnectFlow::statusChanged, Label7, &QLabel::setText);
    connect(&m_flow, &ConnectFlow::progressChanged, DownloadBar, &QProgressBar::setValue);
    connect(&m_flow, &ConnectFlow::operationEnded, this, [this] { done(QDialog::Rejected); });
    updaterstyle::fixAndCentre(this);
}

void frmConnectISP::btnGetUpdate_Click() { m_flow.getUpdate(); }

void frmConnectISP::btnCancel_Click() {
    m_flow.cancel();
    done(QDialog::Rejected);
}

void frmConnectISP::reject() { btnCancel_Click(); }

}  // namespace vts
