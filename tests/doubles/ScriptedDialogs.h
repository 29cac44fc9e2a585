#pragma once

#include "Dialogs.h"

#include <QStringList>

#include <deque>
#include <optional>
#include <vector>

namespace vts {

// Test double: records every box and answers from a queue. An empty queue
// answers Ok for Ok boxes, Yes for Yes/No questions, Ok for OkCancel.
class ScriptedDialogs final : public Dialogs {
public:
    struct Shown {
        QString text;
        QString title;
        Icon icon;
        Buttons buttons;
        std::optional<Answer> defaultButton;  // unset: the box's own default
    };
    Answer show(const QString& text, const QString& title, Icon icon, Buttons buttons) override;
    Answer showWithDefault(const QString& text, const QString& title, Icon icon, Buttons buttons,
                           Answer defaultButton) override;

    void queueAnswer(Answer a) { m_answers.push_back(a); }
    const std::vector<Shown>& shown() const { return m_shown; }
    QStringList texts() const;
    void clear() { m_shown.clear(); }

private:
    Answer answer(Shown shown);

    std::vector<Shown> m_shown;
    std::deque<Answer> m_answers;
};

}  // namespace vts
