#pragma once

#include "Dialogs.h"

class QWidget;

namespace vts {

// Message boxes with QMessageBox. The parent (when set) centres the box.
class QtDialogs final : public Dialogs {
public:
    explicit QtDialogs(QWidget* parent = nullptr) : m_parent(parent) {}
    Answer show(const QString& text, const QString& title, Icon icon, Buttons buttons) override;
    void setParent(QWidget* parent) { m_parent = parent; }

private:
    QWidget* m_parent;
};

}  // namespace vts
