#include "Dialogs.h"

#include <QCoreApplication>

#include <cstdio>

namespace vts {

Dialogs::Answer ConsoleDialogs::show(const QString& text, const QString& title, Icon,
                                     Buttons buttons) {
    QString t = title;
    if (t.isEmpty()) t = m_defaultTitle;
    if (t.isEmpty() && QCoreApplication::instance()) t = QCoreApplication::applicationName();
    const QByteArray line = (t.isEmpty() ? text : t + ": " + text).toLocal8Bit();
    std::fprintf(stderr, "%s\n", line.constData());
    std::fflush(stderr);
    switch (buttons) {
        case Buttons::Ok:
            return Answer::Ok;
        case Buttons::OkCancel:
            return m_answer == Answer::No || m_answer == Answer::Cancel ? Answer::Cancel
                                                                        : Answer::Ok;
        case Buttons::RetryCancel:
            return Answer::Cancel;
        default:
            return m_answer;
    }
}

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
