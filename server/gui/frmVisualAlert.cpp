#include "frmVisualAlert.h"

#include "FormScale.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace vts {

frmVisualAlert::frmVisualAlert(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(QStringLiteral("Vantrel Server Alert!"));
    auto* layout = new QVBoxLayout(this);
    m_label = new QLabel(this);
    m_label->setObjectName(QStringLiteral("Label1"));
    m_label->setWordWrap(true);
    m_label->setAlignment(Qt::AlignCenter);
    QFont f = m_label->font();
    f.setBold(true);
    m_label->setFont(f);
    m_close = new QPushButton(QStringLiteral("Close"), this);
    layout->addWidget(m_label, 1);
    layout->addWidget(m_close, 0, Qt::AlignHCenter);
    connect(m_close, &QPushButton::clicked, this, &QWidget::close);
    resize(360, 160);
    vts::form::scaleToFont(this);
}

void frmVisualAlert::showAlert(const QString& text) {
    m_label->setText(QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    show();
    raise();
}

}  // namespace vts
