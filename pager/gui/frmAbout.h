#pragma once

#include <QDialog>

class QPushButton;

// The control's about box: product name, tag line, a picture and a Close
// button that unloads the box. Shown modally by PagerOCX::ShowAbout once
// this library is loaded.
class frmAbout final : public QDialog {
    Q_OBJECT
public:
    explicit frmAbout(QWidget* parent = nullptr);

    QPushButton* closeButton() const { return cmdClose; }

private:
    QPushButton* cmdClose;
};
