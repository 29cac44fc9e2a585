#include "FormStyle.h"

#include "FormScale.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QWidget>

namespace vts::updaterstyle {

void applyTeal(QWidget* w) {
    QPalette p = w->palette();
    p.setColor(QPalette::Window, QColor(0, 128, 128));
    p.setColor(QPalette::WindowText, Qt::white);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

QLabel* textLine(const QString& text, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    QFont f = l->font();
    f.setBold(true);
    l->setFont(f);
    l->setAlignment(Qt::AlignCenter);
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, Qt::white);
    l->setPalette(p);
    return l;
}

void fixAndCentre(QWidget* w) {
    form::widenButtons(w);
    w->adjustSize();
    w->setFixedSize(w->sizeHint());
    QScreen* s = w->screen() ? w->screen() : QGuiApplication::primaryScreen();
    if (!s) return;
    const QRect area = s->availableGeometry();
    w->move(area.center() - QPoint(w->width() / 2, w->height() / 2));
}

}  // namespace vts::updaterstyle
