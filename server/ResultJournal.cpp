#include "ResultJournal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

namespace vts {

namespace {

// Parses one journal line; false for a blank or foreign one.
bool parseLine(const QByteArray& line, ResultJournal::Entry* out) {
    const QList<QByteArray> parts = line.trimmed().split(' ');
    if (parts.size() < 2) {
        return false;
    }
    bool idOk = false, statusOk = false;
    ResultJournal::Entry e;
    e.id = parts.at(0).toLongLong(&idOk);
    const int status = parts.at(1).toInt(&statusOk);
    if (!idOk || !statusOk || e.id <= 0 || status < toInt(LogStatus::Sent) ||
        status > toInt(LogStatus::Cancelled)) {
        return false;
    }
    e.status = static_cast<LogStatus>(status);
    if (parts.size() > 2) {
        e.name = QString::fromUtf8(QByteArray::fromPercentEncoding(parts.at(2)));
    }
    *out = e;
    return true;
}

QByteArray blankSlot() {
    QByteArray b(ResultJournal::kSlotBytes, ' ');
    b[ResultJournal::kSlotBytes - 1] = '\n';
    return b;
}

}  // namespace

ResultJournal::ResultJournal(const QString& workingDir)
    : m_path(QDir(workingDir).filePath(QString::fromLatin1(kFileName))),
      m_slots(static_cast<size_t>(kSlots), 0) {}

ResultJournal::~ResultJournal() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

QByteArray ResultJournal::encode(const Entry& e) {
    QByteArray line = QByteArray::number(e.id) + ' ' + QByteArray::number(toInt(e.status)) + ' ' +
                      e.name.toUtf8().toPercentEncoding();
    if (line.size() > kSlotBytes - 1) {
        // A name too long for a slot is left out: the result still counts.
        line = QByteArray::number(e.id) + ' ' + QByteArray::number(toInt(e.status));
    }
    QByteArray slot = blankSlot();
    slot.replace(0, line.size(), line);
    return slot;
}

bool ResultJournal::load() {
    m_entries.clear();
    std::fill(m_slots.begin(), m_slots.end(), 0);
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_reserved = false;
    bool slotted = false;  // the file is a reserve of this layout
    {
        QFile f(m_path);
        if (f.open(QIODevice::ReadOnly)) {
            slotted = f.size() == qint64{kSlots} * kSlotBytes;
            // Lines of any length: a journal written before the reserve
            // existed has no slots.
            const QByteArray bytes = f.read(qint64{kSlots} * kSlotBytes * 2);
            int slot = -1;
            for (const QByteArray& line : bytes.split('\n')) {
                ++slot;
                Entry e;
                if (!parseLine(line, &e)) {
                    continue;
                }
                if (slotted && slot < kSlots) {
                    m_slots[static_cast<size_t>(slot)] = e.id;
                }
                m_entries.removeIf([&e](const Entry& old) { return old.id == e.id; });
                m_entries.append(e);
            }
        }
    }
    while (m_entries.size() > kSlots) {
        m_entries.removeFirst();  // cannot happen with our own files
    }

    // The reserve is made beside and renamed over, so a crash leaves the
    // old journal or the new one, and the results read stay in it.
    const QString temp = m_path + QStringLiteral(".new");
    const QByteArray tempName = QFile::encodeName(temp);
    const int fd = ::open(tempName.constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0660);
    bool made = fd >= 0 && ::posix_fallocate(fd, 0, off_t{kSlots} * kSlotBytes) == 0;
    if (made) {
        QByteArray all;
        all.reserve(qsizetype{kSlots} * kSlotBytes);
        for (int i = 0; i < kSlots; ++i) {
            all += i < m_entries.size() ? encode(m_entries.at(i)) : blankSlot();
        }
        made = ::pwrite(fd, all.constData(), static_cast<size_t>(all.size()), 0) == all.size() &&
               ::fdatasync(fd) == 0 &&
               ::rename(tempName.constData(), QFile::encodeName(m_path).constData()) == 0;
    }
    if (made) {
        m_fd = fd;
        m_reserved = true;
        std::fill(m_slots.begin(), m_slots.end(), 0);
        for (int i = 0; i < m_entries.size(); ++i) {
            m_slots[static_cast<size_t>(i)] = m_entries.at(i).id;
        }
        const int dir = ::open(QFile::encodeName(QFileInfo(m_path).absolutePath()).constData(),
                               O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
        return true;
    }
    if (fd >= 0) {
        ::close(fd);
    }
    ::unlink(tempName.constData());
    // No room for a new reserve: a reserve of the last run is written in
    // place; a file of another layout is left as it is and results are kept
    // in memory.
    if (slotted) {
        m_fd = ::open(QFile::encodeName(m_path).constData(), O_RDWR | O_CLOEXEC);
        m_reserved = m_fd >= 0;
    }
    return false;
}

int ResultJournal::slotOf(qint64 id) const {
    for (size_t i = 0; i < m_slots.size(); ++i) {
        if (m_slots[i] == id) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int ResultJournal::freeSlots() const {
    if (!hasReserve()) {
        return 0;
    }
    return static_cast<int>(std::count(m_slots.begin(), m_slots.end(), 0));
}

bool ResultJournal::writeSlot(int slot, const QByteArray& bytes) {
    if (m_fd < 0 || slot < 0) {
        return false;
    }
    const auto off = static_cast<off_t>(slot) * kSlotBytes;
    return ::pwrite(m_fd, bytes.constData(), static_cast<size_t>(bytes.size()), off) ==
               bytes.size() &&
           ::fdatasync(m_fd) == 0;
}

bool ResultJournal::add(const Entry& entry) {
    bool replaced = false;
    for (Entry& e : m_entries) {
        if (e.id == entry.id) {
            e = entry;
            replaced = true;
        }
    }
    if (!replaced) {
        m_entries.append(entry);
    }
    int slot = slotOf(entry.id);
    if (slot < 0) {
        slot = slotOf(0);
    }
    if (slot < 0 || !writeSlot(slot, encode(entry))) {
        return false;
    }
    m_slots[static_cast<size_t>(slot)] = entry.id;
    return true;
}

bool ResultJournal::remove(qint64 id) {
    m_entries.removeIf([id](const Entry& e) { return e.id == id; });
    const int slot = slotOf(id);
    if (slot < 0) {
        return true;
    }
    if (!writeSlot(slot, blankSlot())) {
        return false;
    }
    m_slots[static_cast<size_t>(slot)] = 0;
    return true;
}

bool ResultJournal::holdsFile(const QString& name) const {
    for (const Entry& e : m_entries) {
        if (!e.name.isEmpty() && e.name.compare(name, Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace vts
