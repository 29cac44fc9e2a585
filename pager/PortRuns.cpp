#include "PortRuns.h"

#include "CauseFile.h"
#include "Dialogs.h"
#include "Launcher.h"
#include "PortBatch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace vts {

namespace {
const QString kDialer = QStringLiteral("calvex.exe");
constexpr std::int16_t status(PortStatus s) { return static_cast<std::int16_t>(s); }
}  // namespace

PortRuns::PortRuns(Dialogs& dialogs, Launcher& launcher, QString workingDir,
                   std::function<void(const QString&)> notice)
    : m_dialogs(dialogs),
      m_launcher(launcher),
      m_workingDir(std::move(workingDir)),
      m_notice(std::move(notice)) {}

PortRuns::~PortRuns() { *m_alive = false; }

QString PortRuns::portPath(int p) const {
    return QDir(m_workingDir).filePath(portfile::fileName(p));
}

std::optional<PortRecord> PortRuns::readRecord(int p, int r) {
    const auto bytes = portfile::readRecord(portPath(p), r, *m_device);
    if (!bytes) {
        return std::nullopt;
    }
    auto rec = PortRecord::decode(*bytes);
    if (!rec) {
        return std::nullopt;
    }
    m_buffer = *rec;
    return rec;
}

bool PortRuns::writeBuffer(int p, int r) {
    return portfile::writeRecord(portPath(p), r, m_buffer.encode(), *m_device);
}

QString PortRuns::causeOf(int s, PortStatus st) const {
    if (const auto it = m_causes.constFind(s); it != m_causes.constEnd()) return *it;
    if (!m_causeFallback.isEmpty()) return m_causeFallback;
    switch (st) {
        case PortStatus::Cancelled:
            return QStringLiteral("cancelled");
        case PortStatus::ModemError:
            return QStringLiteral("modem error");
        default:
            return QStringLiteral("not confirmed by the dialer");
    }
}

void PortRuns::deletePortFiles() {
    QDir dir(m_workingDir);
    const QStringList entries = dir.entryList(QDir::Files | QDir::Hidden);
    for (int p = 1; p <= kPorts; ++p) {
        const QString name = portfile::fileName(p);
        PortLock lock(m_workingDir, p);
        if (!lock.tryLock()) {
            m_held[static_cast<size_t>(p)] = true;  // a dialer still writes it
            continue;
        }
        const QString causes = causefile::fileName(p);
        for (const QString& e : entries) {
            if (e.compare(name, Qt::CaseInsensitive) == 0 ||
                e.compare(causes, Qt::CaseInsensitive) == 0) {
                QFile::remove(dir.filePath(e));
            }
        }
    }
}

bool PortRuns::lock(PortLock& lock, int p) {
    const auto i = static_cast<size_t>(p);
    if (!lock.tryLock()) {
        if (m_held[i] && !m_told[i]) {
            m_told[i] = true;
            m_notice(QStringLiteral("Error: %1 is still held by a dialer of an earlier run; "
                                    "port %2 is not used until it is released")
                         .arg(portfile::fileName(p))
                         .arg(p));
        }
        return false;
    }
    if (m_held[i]) {
        m_held[i] = false;
        if (onReleased) {
            const auto token = m_alive;
            onReleased(p);
            if (!*token) {
                return false;
            }
        }
        if (m_told[i]) {
            m_notice(QStringLiteral("%1 was released; port %2 is used again")
                         .arg(portfile::fileName(p))
                         .arg(p));
        }
        m_told[i] = false;
        m_buffer.status = status(PortStatus::Idle);
        m_buffer.index = 0;
        writeBuffer(p, 1);
    }
    return true;
}

void PortRuns::reportHeld(int numPorts) {
    const auto token = m_alive;
    for (int p = 1; p <= numPorts && *token; ++p) {
        if (m_held[static_cast<size_t>(p)]) {
            PortLock hold(m_workingDir, p);
            lock(hold, p);
        }
    }
}

void PortRuns::reset(int p) {
    PortLock lock(m_workingDir, p);
    if (lock.tryLock()) {
        m_buffer.status = status(PortStatus::Idle);
        writeBuffer(p, 1);  // a file that cannot be written is passed over
    } else {
        m_held[static_cast<size_t>(p)] = true;  // reset once the hold ends
    }
    m_runs[static_cast<size_t>(p)] = {};
    // A run the reset cut off is no longer this port's: its messages stay in
    // it, and a later batch on the port cannot settle them.
    for (auto& owner : m_portOf) {
        if (owner == p) {
            owner = 0;
        }
    }
}

int PortRuns::findFree(int numPorts, const std::function<bool(int)>& usable) {
    for (int p = 1; p <= numPorts; ++p) {
        if ((!usable || usable(p)) && isFree(p)) {
            return p;
        }
    }
    return 0;
}

bool PortRuns::isFree(int p) {
    if (p < 1 || p > kPorts || m_held[static_cast<size_t>(p)]) {
        return false;
    }
    const auto header = readRecord(p, 1);
    return header && header->status == status(PortStatus::Idle);
}

bool PortRuns::writeBatch(int p, std::int16_t comPort, const std::vector<int>& batch,
                          SendQueue& queue, const RecordSettings& settings) {
    auto takeBack = [&](size_t upTo) {
        for (size_t i = 0; i < upTo; ++i) {
            queue.at(batch[i]).InProgress = false;
            release(batch[i]);
        }
        return false;
    };
    for (size_t k = 0; k < batch.size(); ++k) {
        const int s = batch[k];
        fillRecord(m_buffer, queue.at(s), s, comPort, settings);
        if (!writeBuffer(p, static_cast<int>(k) + 2)) {
            return takeBack(k);
        }
        queue.at(s).InProgress = true;
        m_portOf[static_cast<size_t>(s)] = static_cast<std::int8_t>(p);
    }
    m_buffer.status = status(PortStatus::Busy);
    m_buffer.index = static_cast<std::int32_t>(batch.size());
    Run& run = m_runs[static_cast<size_t>(p)];
    run = {};
    if (!writeBuffer(p, 1)) {
        // A header write that stopped part-way may already say Busy, and no
        // dialer will ever finish it: the run counts as one that could not
        // start, so the next collection frees the port.
        run.startFailed = true;
        return takeBack(batch.size());
    }
    run.comPort = comPort;
    run.written = true;
    return true;
}

void PortRuns::withdraw(int p, SendQueue& queue) {
    Run& run = m_runs[static_cast<size_t>(p)];
    if (!run.written) {
        return;
    }
    for (int s = 1; s <= SendQueue::kSlots; ++s) {
        if (portOf(s) == p && queue.at(s).InProgress) {
            queue.at(s).InProgress = false;
            release(s);
        }
    }
    PortLock hold(m_workingDir, p);
    if (hold.tryLock()) {
        m_buffer.status = status(PortStatus::Idle);
        m_buffer.index = 0;
        writeBuffer(p, 1);
    }
    run = {};
}

void PortRuns::stopRuns(bool force) {
    for (Run& run : m_runs) {
        if (run.dialer && run.dialer->isRunning()) {
            run.dialer->stop(force);
        }
    }
}

void PortRuns::watch(int p, const QDateTime& now, double limitSeconds, double graceSeconds) {
    Run& run = m_runs[static_cast<size_t>(p)];
    if (!run.dialer || !run.dialer->isRunning()) {
        return;
    }
    const QFileInfo info(portPath(p));
    const QByteArray sign = QByteArray::number(info.lastModified().toMSecsSinceEpoch()) + ' ' +
                            QByteArray::number(info.size());
    if (sign != run.lastSign || !run.lastChange.isValid()) {
        run.lastSign = sign;
        run.lastChange = now;
        return;
    }
    const double silent = static_cast<double>(run.lastChange.msecsTo(now)) / 1000.0;
    if (!run.stopAsked) {
        if (silent > limitSeconds) {
            run.stopAsked = now;
            m_notice(QStringLiteral("Error: the dialer on port %1 has written nothing to %2 for "
                                    "%3 seconds; it is stopped and its unfinished pages are "
                                    "retried")
                         .arg(p)
                         .arg(portfile::fileName(p))
                         .arg(static_cast<int>(silent)));
            run.dialer->stop(false);
        }
    } else if (static_cast<double>(run.stopAsked->msecsTo(now)) / 1000.0 > graceSeconds) {
        run.dialer->stop(true);
    }
}

bool PortRuns::anyRun() const {
    for (const Run& run : m_runs) {
        if (run.dialer || run.startFailed || run.written) {
            return true;
        }
    }
    return false;
}

bool PortRuns::onLine(int p) const {
    if (p < 1 || p > kPorts) {
        return false;
    }
    const Run& run = m_runs[static_cast<size_t>(p)];
    return run.dialer || run.startFailed || run.written;
}

void PortRuns::fillRecord(PortRecord& rec, const QueueSlot& slot, int s, std::int16_t comPort,
                          const RecordSettings& settings) {
    rec.comPort = comPort;
    rec.message = slot.Message;
    rec.phoneNumber = slot.PhoneNumber;
    rec.pin = slot.PIN;
    rec.modemInitString = slot.ModemInitString;
    rec.modemDialString = slot.ModemDialString;
    rec.comSettings = slot.ComSettings;
    rec.maxCharactersPerBlock = slot.MaxCharactersPerBlock;
    rec.retries = slot.Retries;
    rec.uniqueId = slot.UniqueID;
    rec.tapPassword = slot.TAPPassword;
    rec.kind = slot.Kind;
    rec.delay = slot.Delay;
    rec.asciiFilename = slot.AsciiFilename;
    rec.timeout = settings.timeout;
    rec.debugMode = settings.debugMode;
    rec.windowState = settings.windowState;
    rec.volumeLevel = settings.volumeLevel;
    rec.speakerState = settings.speakerState;
    rec.status = status(PortStatus::Busy);
    rec.index = s;
    rec.reserved2.clear();
}

bool PortRuns::startDialer(int p, const QString& systemDir) {
    Launcher::Request request;
    request.folder = systemDir;
    request.program = kDialer;
    request.arguments = {QStringLiteral(" %1").arg(p)};
    request.workingDirectory = m_workingDir;
    request.watch = true;
    Run& run = m_runs[static_cast<size_t>(p)];
    run.written = false;
    run.dialer = m_launcher.start(request);
    if (run.dialer) {
        return true;
    }
    run.startFailed = true;
    m_dialogs.show(QStringLiteral("Cannot create calvex process"), QStringLiteral("Error"),
                   Dialogs::Icon::Critical, Dialogs::Buttons::Ok);
    return false;
}

bool PortRuns::collect(int p, SendQueue& queue, const RecordSettings& settings,
                       const Settle& settle, bool stopping) {
    Run& run = m_runs[static_cast<size_t>(p)];
    // Asked before the header is read: a dialer that had already exited has
    // written everything it was ever going to write.
    const bool dialerGone = run.startFailed || (run.dialer && !run.dialer->isRunning());

    PortBatch batch(portPath(p), *m_device);
    if (!batch.headerRead()) {
        return true;  // unreadable: neither finished nor free
    }
    m_buffer = batch.header();
    if (dialerGone) {
        batch.markGone(stopping ? PortStatus::Cancelled : PortStatus::Failed);
    }
    if (!batch.finished()) {
        return true;
    }
    // The port is reset only once its dialer has let go of it; until then
    // the results wait for a later tick.
    PortLock hold(m_workingDir, p);
    if (!lock(hold, p)) {
        return true;
    }

    // All of the batch is read before anything is reported, so that a record
    // that cannot be read leaves the whole port for the next tick. A count
    // beyond the records in the file (a damaged file, finished as failed)
    // takes the records there are; the messages no record accounts for take
    // the batch status below.
    const bool readable = batch.readRecords();
    if (!batch.records().empty()) {
        m_buffer = batch.records().back().record;
    }
    if (!readable) {
        return true;
    }
    const PortRecord last =
        batch.records().empty() ? batch.header() : batch.records().back().record;
    const QString causePath = QDir(m_workingDir).filePath(causefile::fileName(p));
    causefile::Causes causes = causefile::read(causePath);
    m_causes = std::move(causes.pages);
    m_final = std::move(causes.final);
    m_fault = causes.port;
    m_faultWhy = causes.portWhy;
    m_causeFallback =
        !run.dialer && run.startFailed ? QStringLiteral("dialer could not be started") : QString();
    // Read once: the causes leave with the batch, whatever the settling does.
    // The control may be gone when a handler returns.
    struct Forget {
        PortRuns* self;
        std::shared_ptr<bool> alive;
        QString path;
        ~Forget() {
            QFile::remove(path);
            if (!*alive) return;
            self->m_causes.clear();
            self->m_final.clear();
            self->m_fault = causefile::PortFault::None;
            self->m_faultWhy.clear();
            self->m_causeFallback.clear();
        }
    } forget{this, m_alive, causePath};
    if (onRunEnded) {
        const auto token = m_alive;
        onRunEnded(p, m_fault, m_faultWhy);
        if (!*token) {
            return false;
        }
    }

    for (const PortBatch::Entry& entry : batch.records()) {
        const PortRecord& rec = entry.record;
        const int s = rec.index;
        if (s < 1 || s > SendQueue::kSlots) {
            continue;
        }
        const QueueSlot& slot = queue.at(s);
        if (!slot.occupied() || !slot.InProgress || portOf(s) != p) {
            continue;
        }
        if (!settle(s, rec, batch.statusOf(rec))) {
            return false;
        }
    }
    // A message of this run that no record accounted for (the dialer changed
    // a count or an index, or the file lost records) takes the batch status,
    // so it is not stranded; but nothing says it was delivered, so a batch
    // that says "sent" counts it as failed (and so retried), never as sent.
    const std::int16_t unaccounted = stopping                     ? status(PortStatus::Cancelled)
                                     : batch.is(PortStatus::Sent) ? status(PortStatus::Failed)
                                                                  : batch.status();
    for (int s = 1; s <= SendQueue::kSlots; ++s) {
        const QueueSlot& slot = queue.at(s);
        if (!slot.InProgress || portOf(s) != p) {
            continue;
        }
        PortRecord rec;
        fillRecord(rec, slot, s, run.comPort, settings);
        rec = *PortRecord::decode(rec.encode());  // cut to the record widths
        if (!settle(s, rec, unaccounted)) {
            return false;
        }
    }

    m_buffer = last;
    m_buffer.status = status(PortStatus::Idle);
    writeBuffer(p, 1);
    run = {};
    return true;
}

}  // namespace vts
