#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

class QWidget;

namespace vts::form {

// The forms place their controls in fixed pixels, drawn for the design
// font: 9 points at 96 dots per inch. Like dialog units, FormScale turns
// those pixels into pixels of the font a form really shows: horizontally by
// the font's average character width, vertically by its line height, each
// relative to the design font and never below 1. Every control keeps its
// place relative to the others, and a larger font or screen scale gets a
// larger form instead of cut text.
class FormScale {
public:
    FormScale() = default;
    FormScale(double x, double y) : m_x(x), m_y(y) {}
    // The scale of a form shown in `font`.
    static FormScale forFont(const QFont& font);

    double x() const { return m_x; }
    double y() const { return m_y; }
    bool isIdentity() const { return m_x == 1.0 && m_y == 1.0; }

    // Edges are scaled, so controls that touch in the design still touch.
    QRect rect(const QRect& design) const;
    QSize size(const QSize& design) const;
    int x(int design) const;
    int y(int design) const;

private:
    double m_x = 1.0;
    double m_y = 1.0;
};

// Scales a form built at the design font to its own font: every control
// placed by hand (not by a layout) and the window's size, fixed or minimum.
// Called once, at the end of the form's construction; returns the scale.
FormScale scaleToFont(QWidget* window);

// For forms whose layouts size the buttons: every push button of `window`
// is at least the standard button width (75 pixels at the design font)
// and has one average character of room either side of its caption.
void widenButtons(QWidget* window);

}  // namespace vts::form
