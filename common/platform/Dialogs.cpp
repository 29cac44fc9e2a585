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

}  // namespace vts
