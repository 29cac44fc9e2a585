#include "QtDialogs.h"

#include <QApplication>
#include <QMessageBox>

namespace vts {

namespace {

QMessageBox::StandardButton standardButton(Dialogs::Answer a) {
    switch (a) {
        case Dialogs::Answer::Yes:
            return QMessageBox::Yes;
        case Dialogs::Answer::No:
            return QMessageBox::No;
        case Dialogs::Answer::Cancel:
            return QMessageBox::Cancel;
        case Dialogs::Answer::Retry:
            return QMessageBox::Retry;
        case Dialogs::Answer::Ok:
            break;
    }
    return QMessageBox::Ok;
}

}  // namespace

Dialogs::Answer QtDialogs::show(const QString& text, const QString& title, Icon icon,
                                Buttons buttons) {
    return run(text, title, icon, buttons, std::nullopt);
}

Dialogs::Answer QtDialogs::showWithDefault(const QString& text, const QString& title, Icon icon,
                                           Buttons buttons, Answer defaultButton) {
    return run(text, title, icon, buttons, defaultButton);
}

Dialogs::Answer QtDialogs::run(const QString& text, const QString& title, Icon icon,
                               Buttons buttons, std::optional<Answer> defaultButton) {
    QMessageBox box(m_parent);
    box.setText(text);
    box.setWindowTitle(title.isEmpty() ? QApplication::applicationName() : title);
    switch (icon) {
        case Icon::Critical:
            box.setIcon(QMessageBox::Critical);
            break;
        case Icon::Question:
            box.setIcon(QMessageBox::Question);
            break;
        case Icon::Exclamation:
            box.setIcon(QMessageBox::Warning);
            break;
        case Icon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case Icon::None:
            box.setIcon(QMessageBox::NoIcon);
            break;
    }
    switch (buttons) {
        case Buttons::Ok:
            box.setStandardButtons(QMessageBox::Ok);
            break;
        case Buttons::OkCancel:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            break;
        case Buttons::YesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            break;
        case Buttons::YesNoCancel:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            break;
        case Buttons::RetryCancel:
            box.setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel);
            break;
    }
    if (defaultButton) {
        box.setDefaultButton(standardButton(*defaultButton));
    }
    switch (box.exec()) {
        case QMessageBox::Yes:
            return Answer::Yes;
        case QMessageBox::No:
            return Answer::No;
        case QMessageBox::Cancel:
            return Answer::Cancel;
        case QMessageBox::Retry:
            return Answer::Retry;
        default:
            return Answer::Ok;
    }
}

}  // namespace vts
