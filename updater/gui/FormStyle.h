#pragma once

#include <QString>

class QLabel;
class QWidget;

namespace vts::updaterstyle {

// The updater's look: white bold text on a teal background.
void applyTeal(QWidget* w);
// A centred text line in the updater's look.
QLabel* textLine(const QString& text, QWidget* parent);
// Fixes the window at its natural size, with buttons of the standard width
// for its font, and centres it on its screen.
void fixAndCentre(QWidget* w);

}  // namespace vts::updaterstyle
