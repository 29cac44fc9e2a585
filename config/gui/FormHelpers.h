#pragma once

#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QWidget>

// Small builders for the fixed-position forms: every control gets its
// object name and its place in pixels (15 twips to the pixel).
namespace vts::form {

template <class W>
W* make(QWidget* parent, const QString& name, int x, int y, int w, int h) {
    auto* widget = new W(parent);
    widget->setObjectName(name);
    widget->setGeometry(x, y, w, h);
    return widget;
}

inline QLabel* label(QWidget* parent, const QString& text, int x, int y, int w, int h = 20,
                     const QString& name = QString()) {
    auto* l = make<QLabel>(parent, name, x, y, w, h);
    l->setText(text);
    return l;
}

inline QPushButton* button(QWidget* parent, const QString& name, const QString& text, int x, int y,
                           int w, int h = 26) {
    auto* b = make<QPushButton>(parent, name, x, y, w, h);
    b->setText(text);
    return b;
}

constexpr int twips(int t) { return t / 15; }

}  // namespace vts::form
