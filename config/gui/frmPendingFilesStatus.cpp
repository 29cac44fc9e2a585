#include "frmPendingFilesStatus.h"

#include "FormScale.h"

#include "FormHelpers.h"
#include "PendingFiles.h"

#include <QLabel>

using namespace vts::form;

frmPendingFilesStatus::frmPendingFilesStatus(const vts::ConfigContext& context,
                                             const QString& queueFolder, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("frmPendingFilesStatus"));
    setWindowTitle(QStringLiteral("Pending Files Status"));
    setFixedSize(330, 250);
    const QStringList texts = vts::pending::labels(
        vts::pending::compute(queueFolder, context.programDir, context.workDir));
    for (int i = 0; i < 6; ++i) {
        m_labels[static_cast<size_t>(i)] =
            vts::form::label(this, texts.at(i), 16, 14 + i * 30 + (i >= 3 ? 10 : 0), 300, 22,
                             QStringLiteral("Label%1").arg(i + 1));
    }
    auto* close = button(this, QStringLiteral("cmdClose"), QStringLiteral("Close"), 230, 212, 85);
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    vts::form::scaleToFont(this);
}
