#include "ResultJournal.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

namespace vts {

ResultJournal::ResultJournal(const QString& workingDir)
    : m_path(QDir(workingDir).filePath(QString::fromLatin1(kFileName))) {}

void ResultJournal::load() {
    m_entries.clear();
    QFile f(m_path);
    if (!f.open(QIODevice::ReadOnly)) {
        return;
    }
    // A journal is a handful of lines; anything longer is not one of ours.
    const QByteArray bytes = f.read(qint64{1024} * 1024);
    for (const QByteArray& line : bytes.split('\n')) {
        const QList<QByteArray> parts = line.trimmed().split(' ');
        if (parts.size() < 2) {
            continue;
        }
        bool idOk = false, statusOk = false;
        Entry e;
        e.id = parts.at(0).toLongLong(&idOk);
        const int status = parts.at(1).toInt(&statusOk);
        if (!idOk || !statusOk || e.id <= 0 || status < toInt(LogStatus::Sent) ||
            status > toInt(LogStatus::Cancelled)) {
            continue;
        }
        e.status = static_cast<LogStatus>(status);
        if (parts.size() > 2) {
            e.name = QString::fromUtf8(QByteArray::fromPercentEncoding(parts.at(2)));
        }
        m_entries.removeIf([&e](const Entry& old) { return old.id == e.id; });
        m_entries.append(e);
    }
}

bool ResultJournal::add(const Entry& entry) {
    for (Entry& e : m_entries) {
        if (e.id == entry.id) {
            e = entry;
            return save();
        }
    }
    m_entries.append(entry);
    return save();
}

bool ResultJournal::remove(qint64 id) {
    m_entries.removeIf([id](const Entry& e) { return e.id == id; });
    return save();
}

bool ResultJournal::holdsFile(const QString& name) const {
    for (const Entry& e : m_entries) {
        if (!e.name.isEmpty() && e.name.compare(name, Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

bool ResultJournal::save() const {
    if (m_entries.isEmpty()) {
        return !QFile::exists(m_path) || QFile::remove(m_path);
    }
    QByteArray out;
    for (const Entry& e : m_entries) {
        out += QByteArray::number(e.id) + ' ' + QByteArray::number(toInt(e.status)) + ' ' +
               e.name.toUtf8().toPercentEncoding() + '\n';
    }
    // Written beside and renamed over, so a crash leaves the old or the new
    // journal, never half of one.
    QSaveFile f(m_path);
    if (!f.open(QIODevice::WriteOnly)) {
        return false;
    }
    return f.write(out) == out.size() && f.commit();
}

}  // namespace vts
