#pragma once

#include "PortFileDevice.h"
#include "Statuses.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

// The port file shared by the pager control and the dialer: fixed records of
// 772 bytes, record 1 the header, records 2.. one message each. Integers are
// little-endian and signed, texts Windows-1252, left-aligned, blank-padded
// and cut at their width.
namespace vts {

enum class PortStatus : std::int16_t {
    Idle = 0,
    Busy = 1,
    Sent = 2,
    Failed = 3,
    Cancelled = 4,
    ModemError = 5
};

struct PortRecord {
    static constexpr int kSize = 772;
    // Widths of the text fields.
    static constexpr int kMessageWidth = 500, kPhoneWidth = 30, kPinWidth = 20,
                         kModemInitWidth = 30, kModemDialWidth = 30, kComSettingsWidth = 20,
                         kReserved1Width = 30, kReserved2Width = 20, kUniqueIdWidth = 30,
                         kPasswordWidth = 6, kAsciiFileWidth = 30;
    // Byte offsets of the two fields the dialer writes in place.
    static constexpr int kStatusOffset = 634, kIndexOffset = 738;

    std::int16_t comPort = 0;
    QString message;  // texts as decoded: full width, padding included
    QString phoneNumber;
    QString pin;
    QString modemInitString;
    QString modemDialString;
    std::int16_t maxCharactersPerBlock = 0;
    QString comSettings;
    std::int16_t status = 0;
    QByteArray reserved1 = QByteArray(kReserved1Width, ' ');  // raw bytes, never interpreted
    QString reserved2;
    std::int16_t retries = 0;
    std::int16_t timeout = 0;
    std::int16_t debugMode = 0;
    QString uniqueId;
    std::int16_t windowState = 0;
    std::int16_t speakerState = 0;
    std::int16_t volumeLevel = 0;
    QString tapPassword;
    std::int16_t delay = 0;
    // As read: a value outside the three kinds is kept, so the dialer can
    // refuse it by number.
    PageKind kind = PageKind::Alphanumeric;
    std::int32_t index = 0;  // slot number (message) or message count (header)
    QString asciiFilename;

    // Exactly kSize bytes.
    QByteArray encode() const;
    // nullopt unless `bytes` holds exactly kSize bytes.
    static std::optional<PortRecord> decode(const QByteArray& bytes);
};

// Record-level access to a port file with POSIX advisory locks: a read holds
// a shared lock on the record, a write an exclusive one, so readers and
// writers in different processes never see half a record. Records are
// numbered from 1. Nothing here shortens a file.
namespace portfile {

// Messages the pager control holds at most, and so the most a batch (and
// the count in a header) can hold.
inline constexpr int kQueueSlots = 800;
// Port files (and so dialer runs at once) the pager control uses at most.
inline constexpr int kPortFiles = 8;

QString fileName(int portIndex);  // "mordax<N>.dat"

// Reads record r; nullopt when the file cannot be opened or holds no whole
// record r.
std::optional<QByteArray> readRecord(const QString& path, int r,
                                     PortFileDevice& device = PortFileDevice::system());
// Writes record r, creating the file when absent. False unless the whole
// record was written; a write that stops part-way leaves what it wrote.
bool writeRecord(const QString& path, int r, const QByteArray& bytes,
                 PortFileDevice& device = PortFileDevice::system());
// Number of whole records in the file (-1 when it cannot be opened).
int recordCount(const QString& path);

// Name of the lock file beside port file N: "mordax<N>.lck".
QString lockName(int portIndex);

}  // namespace portfile

// The hold on one port index. A dialer holds it for its whole run; the
// pager control takes it before it deletes, resets or reuses the port file,
// so a dialer of an earlier run (whose server died) can never write into a
// batch handed out since. It is an flock(2) on "mordax<N>.lck" beside the
// port file, which the kernel releases when the holder exits or dies; it is
// separate from the record locks on the port file itself, which every open
// and close of that file would otherwise release. The lock file is never
// deleted. Not copyable; releasing happens on destruction.
class PortLock final {
public:
    PortLock(const QString& dir, int portIndex);
    ~PortLock();
    PortLock(const PortLock&) = delete;
    PortLock& operator=(const PortLock&) = delete;

    // Takes the hold without waiting; true when held (also when already held).
    bool tryLock();
    bool held() const { return m_fd >= 0; }
    void release();

private:
    QString m_path;
    int m_fd = -1;
};
}  // namespace vts
