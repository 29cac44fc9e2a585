#pragma once

#include "Dialogs.h"

#include <optional>

class QWidget;

namespace vts {

// Message boxes with QMessageBox. The parent (when set) centres the box.
class QtDialogs final : public Dialogs {
public:
    explicit QtDialogs(QWidget* parent = nullptr) : m_parent(parent) {}
    Answer show(const QString& text, const QString& title, Icon icon, Buttons buttons) override;
    Answer showWithDefault(const QString& text, const QString& title, Icon icon, Buttons buttons,
                           Answer defaultButton) override;
    void setParent(QWidget* parent) { m_parent = parent; }

private:
    Answer run(const QString& text, const QString& title, Icon icon, Buttons buttons,
               std::optional<Answer> defaultButton);

    QWidget* m_parent;
};

}  // namespace vts
