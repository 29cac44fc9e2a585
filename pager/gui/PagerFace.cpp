#include "PagerFace.h"

#include <QPushButton>
#include <QResizeEvent>

PagerFace::PagerFace(PagerOCX* control, QWidget* parent)
    : QWidget(parent),
      m_control(control),
      Command1(new QPushButton(QStringLiteral("Mordax"), this)) {
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->resize(Command1->sizeHint());
    Command1->move(0, 0);
    matchButton();
}

void PagerFace::matchButton() { setFixedSize(Command1->size()); }

void PagerFace::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (event->size() != Command1->size()) {
        matchButton();
    }
}
