#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace vts {

// The alert window: the newest alert text in Label1 and a "Close" button.
// Shown without being modal.
class frmVisualAlert final : public QWidget {
    Q_OBJECT
public:
    explicit frmVisualAlert(QWidget* parent = nullptr);
    void showAlert(const QString& text);
    QLabel* Label1() const { return m_label; }
    QPushButton* closeButton() const { return m_close; }

private:
    QLabel* m_label;
    QPushButton* m_close;
};

}  // namespace vts
