#pragma once

#include "Dialogs.h"
#include "QtDialogs.h"

class QWidget;

namespace vts {

// Message boxes over the window the operator is working in: the open modal
// dialog when there is one (so Help in a dialog stays above that dialog and
// does not bring the main window up over it), else the active window, else
// the fallback (the main window once it exists).
class WindowDialogs final : public Dialogs {
public:
    explicit WindowDialogs(QWidget* fallback = nullptr) : m_fallback(fallback) {}
    void setFallback(QWidget* fallback) { m_fallback = fallback; }
    Answer show(const QString& text, const QString& title, Icon icon, Buttons buttons) override;
    Answer showWithDefault(const QString& text, const QString& title, Icon icon, Buttons buttons,
                           Answer defaultButton) override;

    // The window a box opened now belongs to.
    static QWidget* ownerFor(QWidget* fallback);

private:
    QtDialogs m_boxes;
    QWidget* m_fallback;
};

}  // namespace vts
