#include "TraceLog.h"

#include "Tap.h"

#include <QDateTime>

#include <algorithm>

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
    QString shown = text;
    for (const auto& [from, to] : m_masks) {
        shown.replace(from, to);
    }
    const QByteArray bytes = (stamp + u' ' + prefix + u' ' + shown + u'\n').toUtf8();
    makeRoom(bytes.size());
    m_file.write(bytes);
    m_file.flush();
}

void TraceLog::addMask(const QString& shown, const QString& masked) {
    if (shown.isEmpty() || shown == masked) {
        return;
    }
    m_masks.append({shown, masked});
    // The longest first, so that a form inside another is not left half shown.
    std::sort(m_masks.begin(), m_masks.end(),
              [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
}

void TraceLog::makeRoom(qint64 bytes) {
    if (m_file.size() == 0 || m_file.size() + bytes <= m_limit) return;
    const QString path = m_file.fileName();
    m_file.close();
    QFile::remove(olderCopy(path));
    QFile::rename(path, olderCopy(path));
    // When the move failed the trace starts over in place, still bounded.
    m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text);
}

void TraceLog::note(const QString& text) { line(QStringLiteral("--"), text); }
void TraceLog::sent(const QByteArray& bytes) { line(QStringLiteral("->"), tap::describe(bytes)); }
void TraceLog::received(const QByteArray& bytes) {
    line(QStringLiteral("<-"), tap::describe(bytes));
}

}  // namespace vts
