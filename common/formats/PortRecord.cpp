#include "PortRecord.h"

#include "TextFile.h"

#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace vts {
namespace {

void putInt16(char* p, std::int16_t v) {
    const auto u = static_cast<std::uint16_t>(v);
    p[0] = static_cast<char>(u & 0xFF);
    p[1] = static_cast<char>(u >> 8);
}
void putInt32(char* p, std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((u >> (8 * i)) & 0xFF);
}
std::int16_t getInt16(const char* p) {
    const auto u = static_cast<std::uint16_t>(static_cast<unsigned char>(p[0]) |
                                              (static_cast<unsigned char>(p[1]) << 8));
    return static_cast<std::int16_t>(u);
}
std::int32_t getInt32(const char* p) {
    std::uint32_t u = 0;
    for (int i = 0; i < 4; ++i)
        u |= static_cast<std::uint32_t>(static_cast<unsigned char>(p[i])) << (8 * i);
    return static_cast<std::int32_t>(u);
}
void putText(char* p, int width, const QString& s) {
    QByteArray b = text::toWin1252(s);
    if (b.size() > width) b.truncate(width);
    std::memset(p, ' ', static_cast<size_t>(width));
    std::memcpy(p, b.constData(), static_cast<size_t>(b.size()));
}
QString getText(const char* p, int width) { return text::fromWin1252(QByteArray(p, width)); }

// Field offsets.
enum : int {
    oComPort = 0,
    oMessage = 2,
    oPhone = 502,
    oPin = 532,
    oInit = 552,
    oDial = 582,
    oMaxChars = 612,
    oComSettings = 614,
    oStatus = PortRecord::kStatusOffset,
    oReserved1 = 636,
    oReserved2 = 666,
    oRetries = 686,
    oTimeout = 688,
    oDebug = 690,
    oUniqueId = 692,
    oWindowState = 722,
    oSpeaker = 724,
    oVolume = 726,
    oPassword = 728,
    oDelay = 734,
    oKind = 736,
    oIndex = PortRecord::kIndexOffset,
    oAscii = 742
};

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

bool lockRange(int fd, short type, off_t start, off_t len) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = start;
    fl.l_len = len;
    while (::fcntl(fd, F_SETLKW, &fl) == -1) {
        if (errno != EINTR) return false;
    }
    return true;
}

}  // namespace

ssize_t PortFileDevice::readAt(int fd, void* data, size_t size, off_t offset) {
    return ::pread(fd, data, size, offset);
}

ssize_t PortFileDevice::writeAt(int fd, const void* data, size_t size, off_t offset) {
    return ::pwrite(fd, data, size, offset);
}

PortFileDevice& PortFileDevice::system() {
    static PortFileDevice device;
    return device;
}

QByteArray PortRecord::encode() const {
    QByteArray out(kSize, ' ');
    char* p = out.data();
    putInt16(p + oComPort, comPort);
    putText(p + oMessage, kMessageWidth, message);
    putText(p + oPhone, kPhoneWidth, phoneNumber);
    putText(p + oPin, kPinWidth, pin);
    putText(p + oInit, kModemInitWidth, modemInitString);
    putText(p + oDial, kModemDialWidth, modemDialString);
    putInt16(p + oMaxChars, maxCharactersPerBlock);
    putText(p + oComSettings, kComSettingsWidth, comSettings);
    putInt16(p + oStatus, status);
    QByteArray r1 = reserved1.left(kReserved1Width);
    r1.append(QByteArray(kReserved1Width - r1.size(), ' '));
    std::memcpy(p + oReserved1, r1.constData(), kReserved1Width);
    putText(p + oReserved2, kReserved2Width, reserved2);
    putInt16(p + oRetries, retries);
    putInt16(p + oTimeout, timeout);
    putInt16(p + oDebug, debugMode);
    putText(p + oUniqueId, kUniqueIdWidth, uniqueId);
    putInt16(p + oWindowState, windowState);
    putInt16(p + oSpeaker, speakerState);
    putInt16(p + oVolume, volumeLevel);
    putText(p + oPassword, kPasswordWidth, tapPassword);
    putInt16(p + oDelay, delay);
    putInt16(p + oKind, toInt(kind));
    putInt32(p + oIndex, index);
    putText(p + oAscii, kAsciiFileWidth, asciiFilename);
    return out;
}

std::optional<PortRecord> PortRecord::decode(const QByteArray& bytes) {
    if (bytes.size() != kSize) return std::nullopt;
    const char* p = bytes.constData();
    PortRecord r;
    r.comPort = getInt16(p + oComPort);
    r.message = getText(p + oMessage, kMessageWidth);
    r.phoneNumber = getText(p + oPhone, kPhoneWidth);
    r.pin = getText(p + oPin, kPinWidth);
    r.modemInitString = getText(p + oInit, kModemInitWidth);
    r.modemDialString = getText(p + oDial, kModemDialWidth);
    r.maxCharactersPerBlock = getInt16(p + oMaxChars);
    r.comSettings = getText(p + oComSettings, kComSettingsWidth);
    r.status = getInt16(p + oStatus);
    r.reserved1 = QByteArray(p + oReserved1, kReserved1Width);
    r.reserved2 = getText(p + oReserved2, kReserved2Width);
    r.retries = getInt16(p + oRetries);
    r.timeout = getInt16(p + oTimeout);
    r.debugMode = getInt16(p + oDebug);
    r.uniqueId = getText(p + oUniqueId, kUniqueIdWidth);
    r.windowState = getInt16(p + oWindowState);
    r.speakerState = getInt16(p + oSpeaker);
    r.volumeLevel = getInt16(p + oVolume);
    r.tapPassword = getText(p + oPassword, kPasswordWidth);
    r.delay = getInt16(p + oDelay);
    r.kind = static_cast<PageKind>(getInt16(p + oKind));
    r.index = getInt32(p + oIndex);
    r.asciiFilename = getText(p + oAscii, kAsciiFileWidth);
    return r;
}

namespace portfile {

QString fileName(int portIndex) { return QStringLiteral("mordax%1.dat").arg(portIndex); }

std::optional<QByteArray> readRecord(const QString& path, int r, PortFileDevice& device) {
    if (r < 1) return std::nullopt;
    Fd f;
    f.fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (f.fd < 0) return std::nullopt;
    const off_t start = static_cast<off_t>(r - 1) * PortRecord::kSize;
    if (!lockRange(f.fd, F_RDLCK, start, PortRecord::kSize)) return std::nullopt;
    QByteArray buf(PortRecord::kSize, '\0');
    ssize_t got = 0;
    while (got < PortRecord::kSize) {
        const ssize_t n = device.readAt(f.fd, buf.data() + got,
                                        static_cast<size_t>(PortRecord::kSize - got), start + got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;  // closing the descriptor releases the lock
        got += n;
    }
    return buf;
}

bool writeRecord(const QString& path, int r, const QByteArray& bytes, PortFileDevice& device) {
    if (r < 1 || bytes.size() != PortRecord::kSize) return false;
    Fd f;
    f.fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (f.fd < 0) return false;
    const off_t start = static_cast<off_t>(r - 1) * PortRecord::kSize;
    if (!lockRange(f.fd, F_WRLCK, start, PortRecord::kSize)) return false;
    ssize_t put = 0;
    while (put < PortRecord::kSize) {
        const ssize_t n = device.writeAt(f.fd, bytes.constData() + put,
                                         static_cast<size_t>(PortRecord::kSize - put), start + put);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        put += n;
    }
    return true;
}

int recordCount(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return -1;
    return static_cast<int>(st.st_size / PortRecord::kSize);
}

QString lockName(int portIndex) { return QStringLiteral("mordax%1.lck").arg(portIndex); }

}  // namespace portfile

PortLock::PortLock(const QString& dir, int portIndex)
    : m_path(dir + u'/' + portfile::lockName(portIndex)) {}

PortLock::~PortLock() { release(); }

bool PortLock::tryLock() {
    if (m_fd >= 0) return true;
    // Close-on-exec: a dialer started while the control holds the lock must
    // not inherit it.
    const int fd =
        ::open(QFile::encodeName(m_path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    int rc = 0;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

void PortLock::release() {
    if (m_fd >= 0) {
        ::close(m_fd);  // closing the descriptor drops the flock
        m_fd = -1;
    }
}

}  // namespace vts
