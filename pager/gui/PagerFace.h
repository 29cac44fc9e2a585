#pragma once

#include <QWidget>

class PagerOCX;
class QPushButton;

// The control's visible face: one push button "Mordax" without an action.
// The face is always exactly the size of its button, whatever size the host
// asks for.
class PagerFace final : public QWidget {
    Q_OBJECT
public:
    explicit PagerFace(PagerOCX* control, QWidget* parent = nullptr);

    PagerOCX* control() const { return m_control; }
    QPushButton* button() const { return Command1; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void matchButton();

    PagerOCX* m_control;
    QPushButton* Command1;
};
