#include "ScriptedDialogs.h"

namespace vts {

Dialogs::Answer ScriptedDialogs::show(const QString& text, const QString& title, Icon icon,
                                      Buttons buttons) {
    return answer({text, title, icon, buttons, std::nullopt});
}

Dialogs::Answer ScriptedDialogs::showWithDefault(const QString& text, const QString& title,
                                                 Icon icon, Buttons buttons, Answer defaultButton) {
    return answer({text, title, icon, buttons, defaultButton});
}

Dialogs::Answer ScriptedDialogs::answer(Shown shown) {
    const Buttons buttons = shown.buttons;
    m_shown.push_back(std::move(shown));
    if (!m_answers.empty()) {
        Answer a = m_answers.front();
        m_answers.pop_front();
        return a;
    }
    switch (buttons) {
        case Buttons::YesNo:
        case Buttons::YesNoCancel:
            return Answer::Yes;
        case Buttons::RetryCancel:
            return Answer::Cancel;
        default:
            return Answer::Ok;
    }
}

QStringList ScriptedDialogs::texts() const {
    QStringList out;
    for (const auto& s : m_shown) out << s.text;
    return out;
}

}  // namespace vts
