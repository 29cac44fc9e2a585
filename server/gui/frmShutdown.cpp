#include "frmShutdown.h"

#include "FormScale.h"

#include <QLabel>
#include <QVBoxLayout>

namespace vts {

frmShutdown::frmShutdown(QWidget* parent) : QWidget(parent, Qt::Dialog) {
    setWindowTitle(QStringLiteral("Vantrel Server"));
    setWindowModality(Qt::ApplicationModal);
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(kText, this);
    label->setObjectName(QStringLiteral("Label1"));
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
    setFixedSize(300, 80);
    vts::form::scaleToFont(this);
}

}  // namespace vts
