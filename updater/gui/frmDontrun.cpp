#include "frmDontrun.h"

#include "FormStyle.h"

#include <QLabel>

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace vts {

frmDontrun::frmDontrun(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmDontrun"));
    setWindowTitle(QStringLiteral("Update Vantrel Program"));
    updaterstyle::applyTeal(this);
    auto* v = new QVBoxLayout(this);
    for (const char* line :
         {"To update Vantrel in the future, start Vantrel and:", "1. Click the Setup button.",
          "2. Click the Setup Wizard button.", "3. Click the Update button."})
        v->addWidget(updaterstyle::textLine(QString::fromLatin1(line), this));
    btnOkay = new QPushButton(QStringLiteral("OK"), this);
    btnOkay->setObjectName(QStringLiteral("btnOkay"));
    btnOkay->setDefault(true);
    auto* h = new QHBoxLayout;
    h->addStretch();
    h->addWidget(btnOkay);
    h->addStretch();
    v->addSpacing(8);
    v->addLayout(h);
    connect(btnOkay, &QPushButton::clicked, this, &QDialog::accept);
    updaterstyle::fixAndCentre(this);
}

}  // namespace vts
