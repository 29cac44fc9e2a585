#include "FormScale.h"

#include <QAbstractScrollArea>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QLayout>
#include <QPushButton>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace vts::form {

namespace {

// 9 points at 96 dots per inch.
constexpr int kDesignPixels = 12;
const QString kAlphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");

struct Metrics {
    double charWidth;
    double lineHeight;
};

Metrics metrics(const QFont& font) {
    const QFontMetricsF fm(font);
    return {fm.horizontalAdvance(kAlphabet) / static_cast<double>(kAlphabet.size()), fm.height()};
}

// A control whose place the form set by hand: its parent is the window, a
// group box or a plain frame or page without a layout. Children of combo
// boxes, spin boxes, scroll areas and the like are placed by their owner.
bool placedByHand(const QWidget* w, const QWidget* window) {
    const QWidget* parent = w->parentWidget();
    if (!parent || w->isWindow() || parent->layout()) return false;
    if (auto* area = qobject_cast<const QAbstractScrollArea*>(parent->parentWidget());
        area && area->viewport() == parent)
        return false;
    const QLatin1String kind(parent->metaObject()->className());
    return parent == window || qobject_cast<const QGroupBox*>(parent) ||
           kind == QLatin1String("QFrame") || kind == QLatin1String("QWidget");
}

int scaled(int design, double factor) { return static_cast<int>(std::lround(design * factor)); }

}  // namespace

FormScale FormScale::forFont(const QFont& font) {
    QFont design = font;
    design.setPixelSize(kDesignPixels);
    const Metrics now = metrics(font);
    const Metrics then = metrics(design);
    if (then.charWidth <= 0 || then.lineHeight <= 0) return {};
    return {std::max(1.0, now.charWidth / then.charWidth),
            std::max(1.0, now.lineHeight / then.lineHeight)};
}

int FormScale::x(int design) const { return scaled(design, m_x); }
int FormScale::y(int design) const { return scaled(design, m_y); }

QRect FormScale::rect(const QRect& design) const {
    const int left = x(design.left());
    const int top = y(design.top());
    return {left, top, x(design.left() + design.width()) - left,
            y(design.top() + design.height()) - top};
}

QSize FormScale::size(const QSize& design) const { return {x(design.width()), y(design.height())}; }

FormScale scaleToFont(QWidget* window) {
    window->ensurePolished();
    const FormScale scale = FormScale::forFont(window->font());
    if (scale.isIdentity()) return scale;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (w->window() == window && placedByHand(w, window))
            w->setGeometry(scale.rect(w->geometry()));
    }
    const QSize min = window->minimumSize();
    const QSize max = window->maximumSize();
    const QSize now = window->size();
    if (min == max && !min.isEmpty()) {
        window->setFixedSize(scale.size(min));
        return scale;
    }
    if (!min.isEmpty()) window->setMinimumSize(scale.size(min));
    if (window->testAttribute(Qt::WA_Resized)) window->resize(scale.size(now));
    return scale;
}

void widenButtons(QWidget* window) {
    constexpr int kButtonWidth = 75;
    for (QPushButton* b : window->findChildren<QPushButton*>()) {
        const QFontMetricsF fm(b->font());
        const double room = 2 * metrics(b->font()).charWidth;
        const int caption = static_cast<int>(
            std::ceil(fm.horizontalAdvance(b->text().remove(QLatin1Char('&'))) + room));
        b->setMinimumWidth(std::max(FormScale::forFont(b->font()).x(kButtonWidth), caption));
    }
}

}  // namespace vts::form
