#include "WindowDialogs.h"

#include <QApplication>
#include <QWidget>

namespace vts {

QWidget* WindowDialogs::ownerFor(QWidget* fallback) {
    if (QWidget* modal = QApplication::activeModalWidget()) return modal;
    if (QWidget* active = QApplication::activeWindow()) return active;
    return fallback;
}

Dialogs::Answer WindowDialogs::show(const QString& text, const QString& title, Icon icon,
                                    Buttons buttons) {
    m_boxes.setParent(ownerFor(m_fallback));
    return m_boxes.show(text, title, icon, buttons);
}

Dialogs::Answer WindowDialogs::showWithDefault(const QString& text, const QString& title, Icon icon,
                                               Buttons buttons, Answer defaultButton) {
    m_boxes.setParent(ownerFor(m_fallback));
    return m_boxes.showWithDefault(text, title, icon, buttons, defaultButton);
}

}  // namespace vts
