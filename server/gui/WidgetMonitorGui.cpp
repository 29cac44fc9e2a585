// The window plug-in's entry point: the server's face on a display, made of
// Qt Widgets and Qt Multimedia, which the program itself does not link.
#include "MonitorCore.h"
#include "MonitorGui.h"
#include "MultimediaSound.h"
#include "QtDialogs.h"
#include "WidgetMonitorView.h"
#include "frmMonitor.h"

#include <QApplication>

namespace vts {

namespace {

// The QApplication first, so the windows, boxes and sound made on it go
// before it does.
class WidgetMonitorGui final : public MonitorGui {
public:
    WidgetMonitorGui(int& argc, char** argv) : m_app(argc, argv) {
        QApplication::setQuitOnLastWindowClosed(false);
        m_sound = std::make_unique<MultimediaSound>();
    }

    Dialogs& dialogs() override { return m_dialogs; }
    MonitorView& view() override { return m_view; }
    AlertSound& sound() override { return *m_sound; }

    std::unique_ptr<QObject> createWindow(MonitorCore& core) override {
        auto form = std::make_unique<frmMonitor>(core);
        m_view.setMonitor(form.get());
        m_dialogs.setParent(form.get());
        QObject::connect(form.get(), &QObject::destroyed, &m_app, [this] {
            m_view.setMonitor(nullptr);
            m_dialogs.setParent(nullptr);
        });
        return form;
    }

private:
    QApplication m_app;
    QtDialogs m_dialogs;
    WidgetMonitorView m_view;
    std::unique_ptr<MultimediaSound> m_sound;
};

}  // namespace

}  // namespace vts

extern "C" __attribute__((visibility("default"))) vts::MonitorGui* vtsCreateMonitorGui(
    int& argc, char** argv) {
    return new vts::WidgetMonitorGui(argc, argv);
}
