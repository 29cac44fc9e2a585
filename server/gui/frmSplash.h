#pragma once

#include <QWidget>

class QLabel;

namespace vts {

// The start-up window: the server's picture and the status label Label4.
class frmSplash final : public QWidget {
    Q_OBJECT
public:
    explicit frmSplash(QWidget* parent = nullptr);
    QLabel* Label4() const { return m_label; }

private:
    QLabel* m_label;
};

}  // namespace vts
