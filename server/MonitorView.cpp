#include "MonitorView.h"

#include <cstdio>

namespace vts {

void ConsoleMonitorView::showVisualAlert(const QString& text) {
    QString oneLine = text;
    oneLine.replace(QStringLiteral("\r\n"), QStringLiteral(" / "));
    const QByteArray bytes = (QStringLiteral("Vantrel Server Alert! ") + oneLine).toLocal8Bit();
    std::fprintf(stderr, "%s\n", bytes.constData());
    std::fflush(stderr);
}

}  // namespace vts
