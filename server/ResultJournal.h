#pragma once

#include "Statuses.h"

#include <QList>
#include <QString>

namespace vts {

// Results the log could not take when they arrived (the store locked by
// another program, the disk full). They are kept in memory and in a small
// file in the working directory, one line per result ("ID status name"),
// so that a crash before the log takes writes again loses none of them.
// The file is rewritten whole on every change and removed once empty.
class ResultJournal final {
public:
    static constexpr const char* kFileName = "vtsresults.jnl";

    struct Entry {
        qint64 id = 0;
        LogStatus status = LogStatus::Sent;  // the log row's result: sent, failed or cancelled
        QString name;                        // the message file, when known
    };

    explicit ResultJournal(const QString& workingDir);

    // Reads what a previous run left; lines that do not parse are skipped.
    void load();
    // Keeps a result (a later one for the same ID replaces it). False when
    // the file could not be written: the result is then kept in memory only.
    bool add(const Entry& entry);
    // False when the file could not be rewritten.
    bool remove(qint64 id);

    const QList<Entry>& entries() const { return m_entries; }
    bool isEmpty() const { return m_entries.isEmpty(); }
    bool holdsFile(const QString& name) const;
    QString path() const { return m_path; }

private:
    bool save() const;

    QString m_path;
    QList<Entry> m_entries;
};

}  // namespace vts
