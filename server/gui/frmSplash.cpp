#include "frmSplash.h"

#include "FormScale.h"

#include "frmMonitor.h"

#include <QIcon>
#include <QLabel>
#include <QVBoxLayout>

namespace vts {

frmSplash::frmSplash(QWidget* parent) : QWidget(parent, Qt::SplashScreen) {
    setWindowTitle(QStringLiteral("Vantrel Server"));
    auto* layout = new QVBoxLayout(this);
    auto* picture = new QLabel(this);
    picture->setPixmap(serverIcon().pixmap(64, 64));
    picture->setAlignment(Qt::AlignCenter);
    auto* title = new QLabel(QStringLiteral("Vantrel Server"), this);
    QFont f = title->font();
    f.setPointSize(f.pointSize() + 6);
    f.setBold(true);
    title->setFont(f);
    title->setAlignment(Qt::AlignCenter);
    m_label = new QLabel(this);
    m_label->setObjectName(QStringLiteral("Label4"));
    m_label->setAlignment(Qt::AlignCenter);
    layout->addWidget(picture);
    layout->addWidget(title);
    layout->addWidget(m_label);
    setFixedSize(320, 200);
    vts::form::scaleToFont(this);
}

}  // namespace vts
