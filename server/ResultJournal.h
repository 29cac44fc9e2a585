#pragma once

#include "Statuses.h"

#include <QList>
#include <QString>

#include <vector>

namespace vts {

// Results the log could not take when they arrived (the store locked by
// another program, the disk full). They are kept in memory and in a file in
// the working directory, so that a crash before the log takes writes again
// loses none of them. The file is a reserve made when the server starts: a
// fixed number of fixed-size slots whose blocks are allocated up front, one
// result per slot ("ID status name", padded with blanks), written in place
// and flushed. A result can therefore be kept when the disk has no room
// left for anything else. Slots are blanked when their result is recorded;
// the file stays for the next outage.
class ResultJournal final {
public:
    static constexpr const char* kFileName = "vtsresults.jnl";
    static constexpr int kSlotBytes = 768;  // room for the widest log UniqueID, escaped
    static constexpr int kSlots = 2048;

    struct Entry {
        qint64 id = 0;
        LogStatus status = LogStatus::Sent;  // the log row's result: sent, failed or cancelled
        QString name;                        // the message file, when known
    };

    explicit ResultJournal(const QString& workingDir);
    ~ResultJournal();
    ResultJournal(const ResultJournal&) = delete;
    ResultJournal& operator=(const ResultJournal&) = delete;

    // Reads what a previous run left (lines that do not parse are skipped)
    // and makes the reserve: the file with every slot allocated, the results
    // read in its first slots. False when the reserve cannot be made (the
    // disk already full): results are then kept in memory, and in the file
    // as far as it has room.
    bool load();
    // Keeps a result (a later one for the same ID replaces it). False when
    // it could not be written to the file: it is then kept in memory only.
    bool add(const Entry& entry);
    // False when the slot could not be blanked.
    bool remove(qint64 id);

    const QList<Entry>& entries() const { return m_entries; }
    bool isEmpty() const { return m_entries.isEmpty(); }
    bool holdsFile(const QString& name) const;
    QString path() const { return m_path; }
    // Slots of the reserve not holding a result (0 without a reserve).
    int freeSlots() const;
    bool hasReserve() const { return m_fd >= 0 && m_reserved; }

private:
    bool writeSlot(int slot, const QByteArray& bytes);
    static QByteArray encode(const Entry& e);
    int slotOf(qint64 id) const;

    QString m_path;
    QList<Entry> m_entries;
    std::vector<qint64> m_slots;  // the ID each slot holds, 0 when free
    int m_fd = -1;
    bool m_reserved = false;
};

}  // namespace vts
