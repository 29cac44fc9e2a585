#include "TraceLog.h"

#include "Tap.h"

#include <QDateTime>

namespace vts {

bool TraceLog::open(const QString& path) {
    m_file.setFileName(path);
    return m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text);
}

void TraceLog::line(const QString& prefix, const QString& text) {
    if (!m_file.isOpen()) {
        return;
    }
    const QString stamp =
        QDateTime::currentDateTime().toString(QStringLiteral("MM/dd/yyyy HH:mm:ss.zzz"));
    m_file.write((stamp + u' ' + prefix + u' ' + text + u'\n').toUtf8());
    m_file.flush();
}

void TraceLog::note(const QString& text) { line(QStringLiteral("--"), text); }
void TraceLog::sent(const QByteArray& bytes) { line(QStringLiteral("->"), tap::describe(bytes)); }
void TraceLog::received(const QByteArray& bytes) {
    line(QStringLiteral("<-"), tap::describe(bytes));
}

}  // namespace vts
