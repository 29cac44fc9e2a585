#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace vts {

// The one seam for message boxes and questions. Programs with a display use
// QtDialogs (common/gui), programs without one ConsoleDialogs, tests
// ScriptedDialogs. An empty title means the program's default title.
class Dialogs {
public:
    enum class Icon { None, Critical, Question, Exclamation, Information };
    enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel };
    enum class Answer { Ok, Cancel, Yes, No, Retry };

    virtual ~Dialogs() = default;
    virtual Answer show(const QString& text, const QString& title, Icon icon, Buttons buttons) = 0;
    // As show, with the button that Enter presses named. Boxes that nobody
    // answers from a keyboard (console, journal) have no default to set.
    virtual Answer showWithDefault(const QString& text, const QString& title, Icon icon,
                                   Buttons buttons, Answer defaultButton) {
        (void)defaultButton;
        return show(text, title, icon, buttons);
    }

    // Shorthands.
    void message(const QString& text, const QString& title = {}, Icon icon = Icon::None) {
        show(text, title, icon, Buttons::Ok);
    }
    bool askYesNo(const QString& text, const QString& title = {}, Icon icon = Icon::None) {
        return show(text, title, icon, Buttons::YesNo) == Answer::Yes;
    }
    // A Yes/No question whose default is No: a destructive Yes takes a
    // deliberate choice, never Enter alone.
    bool confirm(const QString& text, const QString& title = {}, Icon icon = Icon::None) {
        return showWithDefault(text, title, icon, Buttons::YesNo, Answer::No) == Answer::Yes;
    }
};

// Writes every box to standard error as "title: text" and answers with the
// default given at construction (Yes for questions unless told otherwise).
class ConsoleDialogs final : public Dialogs {
public:
    explicit ConsoleDialogs(Answer questionAnswer = Answer::Yes) : m_answer(questionAnswer) {}
    Answer show(const QString& text, const QString& title, Icon icon, Buttons buttons) override;
    void setDefaultTitle(const QString& t) { m_defaultTitle = t; }

private:
    Answer m_answer;
    QString m_defaultTitle;
};

}  // namespace vts
