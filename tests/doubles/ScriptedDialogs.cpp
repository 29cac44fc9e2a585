#include "ScriptedDialogs.h"

namespace vts {

Dialogs::Answer ScriptedDialogs::show(const QString& text, const QString& title, Icon icon,
                                      Buttons buttons) {
    m_shown.push_back({text, title, icon, buttons});
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
