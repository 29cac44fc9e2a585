#pragma once

#include <QDialog>

class QPushButton;

namespace vts {

// The instructions shown after declining: how to start an update later.
// Any way of closing it counts as OK.
class frmDontrun : public QDialog {
    Q_OBJECT
public:
    explicit frmDontrun(QWidget* parent = nullptr);

    QPushButton* btnOkay;
};

}  // namespace vts
