#include "MordaxProperties.h"

#include "PagerOCX.h"
#include "PagerProperties.h"
#include "PropertyPage.h"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

using namespace vts;

MordaxProperties::MordaxProperties(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("MordaxProperties"));
    auto* form = new QFormLayout(this);
    for (int i = 0; i < pagerprops::kCount; ++i) {
        const auto& def = pagerprops::pageDefinition(i);
        auto* box = new QLineEdit(this);
        box->setObjectName(QStringLiteral("txt") + QString::fromLatin1(def.name));
        auto* label = new QLabel(QString::fromLatin1(def.label), this);
        label->setBuddy(box);
        form->addRow(label, box);
        connect(box, &QLineEdit::textEdited, this, [this] { setChanged(true); });
        m_boxes[static_cast<size_t>(i)] = box;
    }
}

QLineEdit* MordaxProperties::textBox(const QString& propertyName) const {
    for (int i = 0; i < pagerprops::kCount; ++i) {
        if (QString::fromLatin1(pagerprops::pageDefinition(i).name) == propertyName) {
            return textBox(i);
        }
    }
    return nullptr;
}

void MordaxProperties::setSelectedControls(const QList<PagerOCX*>& controls) {
    m_selected = controls;
    SelectionChanged();
}

void MordaxProperties::SelectionChanged() {
    if (m_selected.isEmpty() || !m_selected.first()) {
        return;
    }
    const QStringList texts = pagerprops::pageTexts(*m_selected.first());
    for (int i = 0; i < pagerprops::kCount; ++i) {
        textBox(i)->setText(texts[i]);
    }
    setChanged(false);
}

bool MordaxProperties::applyChanges() {
    if (m_selected.isEmpty() || !m_selected.first()) {
        return true;
    }
    QStringList texts;
    for (int i = 0; i < pagerprops::kCount; ++i) {
        texts << textBox(i)->text();
    }
    const auto result = pagerprops::applyPageTexts(*m_selected.first(), texts);
    if (!result.ok) {
        emit applyError(result.error);
        return false;
    }
    setChanged(false);
    return true;
}

void MordaxProperties::setChanged(bool on) {
    if (m_changed == on) {
        return;
    }
    m_changed = on;
    emit changedChanged(on);
}
