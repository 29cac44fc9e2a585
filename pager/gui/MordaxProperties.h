#pragma once

#include <QList>
#include <QWidget>

#include <array>

class PagerOCX;
class QLineEdit;

// The control's property page: one labelled text box per settable property.
// A selection change fills the boxes from the first selected control; an
// edit marks the page changed; applying assigns every box to the first
// selected control through its setters (see vts::pagerprops).
class MordaxProperties final : public QWidget {
    Q_OBJECT
public:
    explicit MordaxProperties(QWidget* parent = nullptr);

    void setSelectedControls(const QList<PagerOCX*>& controls);
    // True when a box was edited since the last fill or apply.
    bool changed() const { return m_changed; }
    // False when a text could not be converted; applyError says why.
    bool applyChanges();

    // Text box of page position i (0 = GroupTimeWindow ... 8 = NumberOfRetries).
    QLineEdit* textBox(int i) const { return m_boxes[static_cast<size_t>(i)]; }
    QLineEdit* textBox(const QString& propertyName) const;

signals:
    void changedChanged(bool changed);
    void applyError(const QString& message);

private:
    void SelectionChanged();
    void setChanged(bool on);

    QList<PagerOCX*> m_selected;
    std::array<QLineEdit*, 9> m_boxes{};
    bool m_changed = false;
};
