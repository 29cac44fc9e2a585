#include "PagerOCX.h"

#include "Conversions.h"
#include "Dialogs.h"
#include "EventLoop.h"
#include "Launcher.h"
#include "PagerProperties.h"
#include "Paths.h"
#include "PortBatch.h"
#include "PortRecord.h"
#include "SendQueue.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <array>
#include <optional>

using namespace vts;

namespace {

constexpr int kMaxPorts = portfile::kPortFiles;
constexpr int kPortFiles = portfile::kPortFiles;
const QString kMordax = QStringLiteral("Mordax");
const QString kDialer = QStringLiteral("calvex.exe");

// Positions of the properties in the definition table (save order).
enum PropertyIndex : int {
    kNumberOfRetries,
    kRetryDelay,
    kTimeout,
    kDebugMode,
    kDialingDelay,
    kWindowState,
    kVolumeLevel,
    kSpeakerState,
    kGroupTimeWindow
};

std::function<void(PagerOCX&)>& aboutPresenter() {
    static std::function<void(PagerOCX&)> presenter;
    return presenter;
}

}  // namespace

// Everything the control holds. `alive` outlives the Impl so that a tick can
// tell, after raising an event or yielding, whether the host destroyed the
// control meanwhile; `inTick` keeps a second tick from starting while one
// yields; `portOf[n]` names the port whose run holds slot n, so a record can
// only settle a message that this port's run was given.
struct PagerOCX::Impl {
    // What the control knows about the dialer run on one port index.
    struct PortRun {
        std::shared_ptr<ProcessHandle> dialer;
        bool startFailed = false;
        std::int16_t comPort = 0;  // the COM port the batch was written for
    };

    Impl(PagerOCX* owner, EventLoop& l, Dialogs& dl, Launcher& ln, const QString& wd)
        : q(owner),
          loop(l),
          dialogs(dl),
          launcher(ln),
          workingDir(QDir(wd.isEmpty() ? QDir::currentPath() : wd).absolutePath()) {}

    PagerOCX* q;
    EventLoop& loop;
    Dialogs& dialogs;
    Launcher& launcher;
    QString workingDir;
    QString systemDir;

    std::array<qint32, pagerprops::kCount> values{};
    qint32 submitStatus = 0;
    SendQueue queue;
    std::array<std::int16_t, kMaxPorts + 1> ports{};
    int numPorts = 0;
    PortRecord buffer;
    PortFileDevice* device = &PortFileDevice::system();
    std::unique_ptr<Timer> timer;
    std::optional<QDateTime> lastScan;
    bool inTick = false;
    bool stopped = false;
    std::array<PortRun, kMaxPorts + 1> runs;
    std::array<std::int8_t, SendQueue::kSlots + 1> portOf{};
    // Port indexes whose file a dialer outside this control holds; `told`
    // marks the ones the host has been told about.
    std::array<bool, kPortFiles + 1> held{};
    std::array<bool, kPortFiles + 1> told{};
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);

    QString portPath(int p) const { return QDir(workingDir).filePath(portfile::fileName(p)); }
    void deletePortFiles();

    // Port-file access through the single record buffer: a read that
    // succeeds replaces the buffer, a failed one leaves it alone.
    std::optional<PortRecord> readRecord(int p, int r);
    bool writeBuffer(int p, int r) {
        return portfile::writeRecord(portPath(p), r, buffer.encode(), *device);
    }
    void resetPort(int p);
    // Takes port p's lock, or marks the port held by another dialer (and
    // tells the host once); a port that is free again is reset and said so.
    bool lockPort(PortLock& lock, int p);
    void reportHeldPorts();

    void setValue(int i, qint32 v);
    void startTimer() {
        if (!stopped) {
            timer->setEnabled(true);
        }
    }
    void refuse(const QString& text) {
        dialogs.show(text, kMordax, Dialogs::Icon::Critical, Dialogs::Buttons::Ok);
    }
    bool dialerPresent() const { return !Launcher::resolveProgram(systemDir, kDialer).isEmpty(); }
    void place(int n, QueueSlot slot);
    // The checks and filling shared by the alphanumeric and file pages.
    void sendPage(QueueSlot slot);

    void Timer1_Timer();
    // Each returns false when the tick must end at once (the control was
    // destroyed or dispatching stopped from inside an event handler).
    bool collectResults();
    bool collectPort(int p);
    // Reports or reschedules slot s by `status` with the texts of `rec`;
    // false when the tick must end.
    bool settle(int s, const PortRecord& rec, std::int16_t status);
    void fillRecord(PortRecord& rec, int s, std::int16_t comPort) const;
    bool dispatchScan();
    int findFreePort();
    bool writeBatch(int p, const std::vector<int>& batch);
    bool waitDialingDelay();
    bool startDialer(int p);
    bool goOn(const std::shared_ptr<bool>& token) const { return *token && !stopped; }
};

void PagerOCX::Impl::deletePortFiles() {
    QDir dir(workingDir);
    const QStringList entries = dir.entryList(QDir::Files | QDir::Hidden);
    for (int p = 1; p <= kPortFiles; ++p) {
        const QString name = portfile::fileName(p);
        PortLock lock(workingDir, p);
        if (!lock.tryLock()) {
            held[static_cast<size_t>(p)] = true;  // a dialer still writes it
            continue;
        }
        for (const QString& e : entries) {
            if (e.compare(name, Qt::CaseInsensitive) == 0) {
                QFile::remove(dir.filePath(e));
            }
        }
    }
}

bool PagerOCX::Impl::lockPort(PortLock& lock, int p) {
    const auto i = static_cast<size_t>(p);
    if (!lock.tryLock()) {
        if (held[i] && !told[i]) {
            told[i] = true;
            emit q->notice(QStringLiteral("Error: %1 is still held by a dialer of an earlier run; "
                                          "port %2 is not used until it is released")
                               .arg(portfile::fileName(p))
                               .arg(p));
        }
        return false;
    }
    if (held[i]) {
        held[i] = false;
        if (told[i]) {
            emit q->notice(QStringLiteral("%1 was released; port %2 is used again")
                               .arg(portfile::fileName(p))
                               .arg(p));
        }
        told[i] = false;
        buffer.status = static_cast<std::int16_t>(PortStatus::Idle);
        buffer.index = 0;
        writeBuffer(p, 1);
    }
    return true;
}

void PagerOCX::Impl::reportHeldPorts() {
    const auto token = alive;
    for (int p = 1; p <= numPorts && *token; ++p) {
        if (held[static_cast<size_t>(p)]) {
            PortLock lock(workingDir, p);
            lockPort(lock, p);
        }
    }
}

std::optional<PortRecord> PagerOCX::Impl::readRecord(int p, int r) {
    const auto bytes = portfile::readRecord(portPath(p), r, *device);
    if (!bytes) {
        return std::nullopt;
    }
    auto rec = PortRecord::decode(*bytes);
    if (!rec) {
        return std::nullopt;
    }
    buffer = *rec;
    return rec;
}

void PagerOCX::Impl::resetPort(int p) {
    PortLock lock(workingDir, p);
    if (lock.tryLock()) {
        buffer.status = static_cast<std::int16_t>(PortStatus::Idle);
        writeBuffer(p, 1);  // a file that cannot be written is passed over
    } else {
        held[static_cast<size_t>(p)] = true;  // reset once the hold ends
    }
    runs[static_cast<size_t>(p)] = {};
    // A run the reset cut off is no longer this port's: its messages stay in
    // it, and a later batch on the port cannot settle them.
    for (auto& owner : portOf) {
        if (owner == p) {
            owner = 0;
        }
    }
}

void PagerOCX::Impl::setValue(int i, qint32 v) {
    const auto& def = pagerprops::definitions()[static_cast<size_t>(i)];
    if (v < def.min || v > def.max) {
        dialogs.show(QString::fromLatin1(def.rejection), QString(), Dialogs::Icon::None,
                     Dialogs::Buttons::Ok);
        return;
    }
    values[static_cast<size_t>(i)] = v;
    emit q->propertyChanged(QString::fromLatin1(def.name));
}

void PagerOCX::Impl::place(int n, QueueSlot slot) {
    slot.Retries = 0;
    slot.InProgress = false;
    slot.SubmitTime = loop.now();
    queue.at(n) = std::move(slot);
    portOf[static_cast<size_t>(n)] = 0;
    submitStatus = 0;
    startTimer();
}

void PagerOCX::Impl::sendPage(QueueSlot slot) {
    if (!dialerPresent()) {
        submitStatus = 1;
        return;
    }
    if (conv::trim(slot.Message).isEmpty()) {
        submitStatus = 2;
        return;
    }
    if (conv::trim(slot.PhoneNumber).isEmpty()) {
        submitStatus = 3;
        return;
    }
    if (conv::trim(slot.PIN).isEmpty()) {
        submitStatus = 4;
        return;
    }
    if (numPorts == 0) {
        submitStatus = 5;
        return;
    }
    const int n = queue.findFree();
    if (n == 0) {
        submitStatus = 6;
        startTimer();
        return;
    }
    place(n, std::move(slot));
}

// ---- The dispatch timer ------------------------------------------------------

void PagerOCX::Impl::Timer1_Timer() {
    if (inTick || stopped) {
        return;
    }
    inTick = true;
    const auto token = alive;
    timer->stop();
    loop.yield();
    if (!*token) {
        return;
    }

    bool goOnTick = !stopped && collectResults();
    if (!*token) {
        return;
    }

    if (goOnTick) {
        bool scan = true;
        const qint32 window = values[kGroupTimeWindow];
        if (window > 0) {
            const QDateTime now = loop.now();
            if (!lastScan) {
                lastScan = now;
            }
            if (EventLoop::secondsBetween(*lastScan, now) < window) {
                scan = false;
            }
        }
        if (scan) {
            goOnTick = dispatchScan();
            if (!*token) {
                return;
            }
        }
    }
    inTick = false;
    startTimer();
}

bool PagerOCX::Impl::collectResults() {
    const auto token = alive;
    reportHeldPorts();
    if (!goOn(token)) {
        return false;
    }
    // The port list may change inside an event handler; it is read afresh.
    for (int p = 1; p <= numPorts; ++p) {
        if (!collectPort(p)) {
            return false;
        }
        if (!goOn(token)) {
            return false;
        }
    }
    return true;
}

bool PagerOCX::Impl::collectPort(int p) {
    const auto token = alive;
    PortRun& run = runs[static_cast<size_t>(p)];
    // Asked before the header is read: a dialer that had already exited has
    // written everything it was ever going to write.
    const bool dialerGone = run.startFailed || (run.dialer && !run.dialer->isRunning());

    PortBatch batch(portPath(p), *device);
    if (!batch.headerRead()) {
        return true;  // unreadable: neither finished nor free
    }
    buffer = batch.header();
    if (dialerGone) {
        batch.markFailed();
    }
    if (!batch.finished()) {
        return true;
    }
    // The port is reset only once its dialer has let go of it; until then
    // the results wait for a later tick.
    PortLock lock(workingDir, p);
    if (!lockPort(lock, p)) {
        return true;
    }

    // All of the batch is read before anything is reported, so that a record
    // that cannot be read leaves the whole port for the next tick. A count
    // beyond the records in the file (a damaged file, finished as failed)
    // takes the records there are; the messages no record accounts for take
    // the batch status below.
    const bool readable = batch.readRecords();
    if (!batch.records().empty()) {
        buffer = batch.records().back().record;
    }
    if (!readable) {
        return true;
    }
    const PortRecord last =
        batch.records().empty() ? batch.header() : batch.records().back().record;

    for (const PortBatch::Entry& entry : batch.records()) {
        const PortRecord& rec = entry.record;
        const std::int16_t status = batch.statusOf(rec);
        const int s = rec.index;
        if (s < 1 || s > SendQueue::kSlots) {
            continue;
        }
        const QueueSlot& slot = queue.at(s);
        if (!slot.occupied() || !slot.InProgress || portOf[static_cast<size_t>(s)] != p) {
            continue;
        }
        if (!settle(s, rec, status)) {
            return false;
        }
    }
    // A message of this run that no record accounted for (the dialer changed
    // a count or an index, or the file lost records) takes the batch status,
    // so it is not stranded; but nothing says it was delivered, so a batch
    // that says "sent" counts it as failed (and so retried), never as sent.
    const std::int16_t unaccounted =
        batch.is(PortStatus::Sent) ? static_cast<std::int16_t>(PortStatus::Failed) : batch.status();
    for (int s = 1; s <= SendQueue::kSlots; ++s) {
        const QueueSlot& slot = queue.at(s);
        if (!slot.InProgress || portOf[static_cast<size_t>(s)] != p) {
            continue;
        }
        PortRecord rec;
        fillRecord(rec, s, run.comPort);
        rec = *PortRecord::decode(rec.encode());  // cut to the record widths
        if (!settle(s, rec, unaccounted)) {
            return false;
        }
    }

    buffer = last;
    buffer.status = static_cast<std::int16_t>(PortStatus::Idle);
    writeBuffer(p, 1);
    run = {};
    return true;
}

bool PagerOCX::Impl::settle(int s, const PortRecord& rec, std::int16_t status) {
    const auto token = alive;
    QueueSlot& slot = queue.at(s);
    const QString uid = conv::trim(rec.uniqueId), msg = conv::trim(rec.message),
                  phone = conv::trim(rec.phoneNumber), pin = conv::trim(rec.pin);
    bool release = false;
    switch (static_cast<PortStatus>(status)) {
        case PortStatus::Sent:
            emit q->MessageSent(uid, msg, phone, pin);
            release = true;
            break;
        case PortStatus::Cancelled:
            emit q->MessageCancelled(uid, msg, phone, pin);
            release = true;
            break;
        case PortStatus::Failed:
        case PortStatus::ModemError: {
            // The record's count is the dialer's copy; a value it mangled
            // falls back to the control's own.
            const std::int16_t tried =
                rec.retries >= 0 && rec.retries < 32767 ? rec.retries : slot.Retries;
            if (tried < values[kNumberOfRetries]) {
                slot.LastTry = loop.now();
                slot.Retries = static_cast<std::int16_t>(tried + 1);
            } else {
                const std::int16_t flag =
                    status == static_cast<std::int16_t>(PortStatus::ModemError) ? rec.comPort
                                                                                : std::int16_t{0};
                emit q->MessageFailed(uid, msg, phone, pin, flag);
                release = true;
            }
            break;
        }
        default:
            break;
    }
    if (!*token) {
        return false;
    }
    if (release) {
        queue.release(s);
    }
    slot.InProgress = false;
    portOf[static_cast<size_t>(s)] = 0;
    return !stopped;
}

bool PagerOCX::Impl::dispatchScan() {
    const auto token = alive;
    for (;;) {
        const QDateTime now = loop.now();
        const double retryDelay = values[kRetryDelay];
        const int picked = queue.pickOldestEligible(now, retryDelay);
        if (picked == 0) {
            break;
        }
        const int p = findFreePort();
        if (p == 0) {
            break;
        }
        const std::vector<int> batch =
            queue.gatherBatch(queue.at(picked).PhoneNumber, now, retryDelay);
        // Held from writing the batch until the dialer is started, which
        // then holds it for its run.
        PortLock lock(workingDir, p);
        if (!lockPort(lock, p) || !writeBatch(p, batch)) {
            break;
        }
        if (!waitDialingDelay()) {
            return false;
        }
        lock.release();
        if (!startDialer(p)) {
            return false;
        }
    }
    loop.yield();
    if (!goOn(token)) {
        return false;
    }
    lastScan = loop.now();
    return true;
}

int PagerOCX::Impl::findFreePort() {
    for (int p = 1; p <= numPorts; ++p) {
        if (held[static_cast<size_t>(p)]) {
            continue;
        }
        const auto header = readRecord(p, 1);
        if (header && header->status == static_cast<std::int16_t>(PortStatus::Idle)) {
            return p;
        }
    }
    return 0;
}

bool PagerOCX::Impl::writeBatch(int p, const std::vector<int>& batch) {
    // A batch that cannot be written whole is taken back: its messages stay
    // waiting and the port stays free.
    auto takeBack = [&](size_t upTo) {
        for (size_t i = 0; i < upTo; ++i) {
            queue.at(batch[i]).InProgress = false;
            portOf[static_cast<size_t>(batch[i])] = 0;
        }
        return false;
    };
    for (size_t k = 0; k < batch.size(); ++k) {
        const int s = batch[k];
        fillRecord(buffer, s, ports[static_cast<size_t>(p)]);
        if (!writeBuffer(p, static_cast<int>(k) + 2)) {
            return takeBack(k);
        }
        queue.at(s).InProgress = true;
        portOf[static_cast<size_t>(s)] = static_cast<std::int8_t>(p);
    }
    buffer.status = static_cast<std::int16_t>(PortStatus::Busy);
    buffer.index = static_cast<std::int32_t>(batch.size());
    if (!writeBuffer(p, 1)) {
        // A header write that stopped part-way may already say Busy, and no
        // dialer will ever finish it: the run counts as one that could not
        // start, so the next collection frees the port.
        runs[static_cast<size_t>(p)] = {};
        runs[static_cast<size_t>(p)].startFailed = true;
        return takeBack(batch.size());
    }
    runs[static_cast<size_t>(p)] = {};
    runs[static_cast<size_t>(p)].comPort = ports[static_cast<size_t>(p)];
    return true;
}

// Everything of a message record but Reserved1, which stays as `rec` holds it.
void PagerOCX::Impl::fillRecord(PortRecord& rec, int s, std::int16_t comPort) const {
    const QueueSlot& slot = queue.at(s);
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
    rec.timeout = static_cast<std::int16_t>(values[kTimeout]);
    rec.debugMode = static_cast<std::int16_t>(values[kDebugMode]);
    rec.windowState = static_cast<std::int16_t>(values[kWindowState]);
    rec.volumeLevel = static_cast<std::int16_t>(values[kVolumeLevel]);
    rec.speakerState = static_cast<std::int16_t>(values[kSpeakerState]);
    rec.status = static_cast<std::int16_t>(PortStatus::Busy);
    rec.index = s;
    rec.reserved2.clear();
}

bool PagerOCX::Impl::waitDialingDelay() {
    const auto token = alive;
    const QDateTime from = loop.now();
    for (;;) {
        // Read on every round: the host may change it while the tick waits.
        const double delay = values[kDialingDelay];
        const double passed = EventLoop::secondsBetween(from, loop.now());
        if (passed > delay) {
            return true;
        }
        loop.waitFor(std::max(delay - passed, 0.001));
        if (!goOn(token)) {
            return false;
        }
    }
}

bool PagerOCX::Impl::startDialer(int p) {
    const auto token = alive;
    Launcher::Request request;
    request.folder = systemDir;
    request.program = kDialer;
    request.arguments = {QStringLiteral(" %1").arg(p)};
    request.workingDirectory = workingDir;
    request.watch = true;
    PortRun& run = runs[static_cast<size_t>(p)];
    run.dialer = launcher.start(request);
    if (run.dialer) {
        return true;
    }
    run.startFailed = true;
    dialogs.show(QStringLiteral("Cannot create calvex process"), QStringLiteral("Error"),
                 Dialogs::Icon::Critical, Dialogs::Buttons::Ok);
    return goOn(token);
}

// ---- PagerOCX ------------------------------------------------------------------

PagerOCX::PagerOCX(EventLoop& loop, Dialogs& dialogs, Launcher& launcher, const QString& workingDir,
                   QObject* parent)
    : QObject(parent), d(std::make_unique<Impl>(this, loop, dialogs, launcher, workingDir)) {
    d->deletePortFiles();
    d->systemDir = paths::systemDirectory();
    d->timer = loop.createTimer(1000, [this] { d->Timer1_Timer(); });
    for (int i = 0; i < pagerprops::kCount; ++i) {
        d->values[static_cast<size_t>(i)] =
            pagerprops::definitions()[static_cast<size_t>(i)].newInstance;
    }
}

PagerOCX::~PagerOCX() {
    *d->alive = false;
    if (d->timer) {
        d->timer->stop();
    }
}

void PagerOCX::setAboutPresenter(std::function<void(PagerOCX&)> presenter) {
    aboutPresenter() = std::move(presenter);
}

void PagerOCX::ShowAbout() {
    if (aboutPresenter()) {
        aboutPresenter()(*this);
        return;
    }
    d->dialogs.show(QStringLiteral("Mordax\nAdding Paging Capabilities To Your Application"),
                    kMordax, Dialogs::Icon::None, Dialogs::Buttons::Ok);
}

void PagerOCX::InitProperties() {
    for (int i = 0; i < pagerprops::kCount; ++i) {
        d->values[static_cast<size_t>(i)] =
            pagerprops::definitions()[static_cast<size_t>(i)].newInstance;
    }
}

void PagerOCX::ReadProperties(const PropertyBag& bag) {
    for (int i = 0; i < pagerprops::kCount; ++i) {
        const auto& def = pagerprops::definitions()[static_cast<size_t>(i)];
        qint32 v = bag.read(QString::fromLatin1(def.name), def.readDefault);
        // Taken as stored, unchecked; only a value that cannot be held in
        // 16 bits falls back to the read default instead of being mangled.
        if (!def.wide && (v < -32768 || v > 32767)) {
            v = def.readDefault;
        }
        d->values[static_cast<size_t>(i)] = v;
    }
}

void PagerOCX::WriteProperties(PropertyBag& bag) const {
    for (int i = 0; i < pagerprops::kCount; ++i) {
        bag.write(QString::fromLatin1(pagerprops::definitions()[static_cast<size_t>(i)].name),
                  d->values[static_cast<size_t>(i)]);
    }
}

qint32 PagerOCX::NumberOfRetries() const { return d->values[kNumberOfRetries]; }
qint32 PagerOCX::RetryDelay() const { return d->values[kRetryDelay]; }
qint32 PagerOCX::Timeout() const { return d->values[kTimeout]; }
qint32 PagerOCX::DebugMode() const { return d->values[kDebugMode]; }
qint32 PagerOCX::DialingDelay() const { return d->values[kDialingDelay]; }
qint32 PagerOCX::WindowState() const { return d->values[kWindowState]; }
qint32 PagerOCX::VolumeLevel() const { return d->values[kVolumeLevel]; }
qint32 PagerOCX::SpeakerState() const { return d->values[kSpeakerState]; }
qint32 PagerOCX::GroupTimeWindow() const { return d->values[kGroupTimeWindow]; }
void PagerOCX::setNumberOfRetries(qint32 v) { d->setValue(kNumberOfRetries, v); }
void PagerOCX::setRetryDelay(qint32 v) { d->setValue(kRetryDelay, v); }
void PagerOCX::setTimeout(qint32 v) { d->setValue(kTimeout, v); }
void PagerOCX::setDebugMode(qint32 v) { d->setValue(kDebugMode, v); }
void PagerOCX::setDialingDelay(qint32 v) { d->setValue(kDialingDelay, v); }
void PagerOCX::setWindowState(qint32 v) { d->setValue(kWindowState, v); }
void PagerOCX::setVolumeLevel(qint32 v) { d->setValue(kVolumeLevel, v); }
void PagerOCX::setSpeakerState(qint32 v) { d->setValue(kSpeakerState, v); }
void PagerOCX::setGroupTimeWindow(qint32 v) { d->setValue(kGroupTimeWindow, v); }

qint32 PagerOCX::propertyValue(int i) const { return d->values.at(static_cast<size_t>(i)); }
void PagerOCX::setPropertyValue(int i, qint32 v) { d->setValue(i, v); }

qint32 PagerOCX::QueueCount() const { return d->queue.count(); }
void PagerOCX::setQueueCount(qint32) {
    d->dialogs.show(QStringLiteral("The QueueCount property is read only"), QString(),
                    Dialogs::Icon::None, Dialogs::Buttons::Ok);
}
qint32 PagerOCX::SubmitStatus() const { return d->submitStatus; }
void PagerOCX::setSubmitStatus(qint32) {
    d->dialogs.show(QStringLiteral("The SubmitState property is read only"), QString(),
                    Dialogs::Icon::None, Dialogs::Buttons::Ok);
}

void PagerOCX::ClearComPorts() { d->numPorts = 0; }

void PagerOCX::AddComPort(std::int16_t port) {
    if (port < 1 || port > 9) {
        d->refuse(
            QStringLiteral("Error: AddComPort method can only accept a number between 1 and 9"));
        return;
    }
    if (d->numPorts >= kMaxPorts) {
        return;
    }
    ++d->numPorts;
    d->ports[static_cast<size_t>(d->numPorts)] = port;
    d->resetPort(d->numPorts);
}

void PagerOCX::ComPort(std::int16_t port) {
    if (port < 1 || port > 9) {
        d->refuse(QStringLiteral("Error: ComPort method can only accept a number between 1 and 9"));
        return;
    }
    if (port != d->ports[1]) {
        d->resetPort(1);
    }
    d->numPorts = 1;
    d->ports[1] = port;
}

namespace {

// The numeric value of a delay text: leading blanks, then an optional sign,
// digits and a decimal part, read up to the first character that does not
// belong ("1 2" and "1e3" are 1); no leading number gives 0.
double numericDelay(const QString& text) {
    qsizetype i = 0;
    while (i < text.size() && text[i] == u' ') {
        ++i;
    }
    double sign = 1;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        sign = text[i++] == u'-' ? -1 : 1;
    }
    double value = 0;
    while (i < text.size() && text[i] >= u'0' && text[i] <= u'9') {
        value = value * 10 + (text[i++].unicode() - u'0');  // a long run ends up infinite
    }
    if (i < text.size() && text[i] == u'.') {
        double scale = 0.1;
        for (++i; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i, scale /= 10) {
            value += (text[i].unicode() - u'0') * scale;
        }
    }
    return sign * value;
}

}  // namespace

void PagerOCX::SendNumeric(const QString& Message, const QString& PhoneNumber, const QString& Delay,
                           const QString& UniqueID, const QString& ComSettings,
                           const QString& ModemInitString, const QString& ModemDialString) {
    if (conv::trim(Message).isEmpty()) {
        d->refuse(
            QStringLiteral("Error: The Message parameters in the SendNumeric method is empty."));
        d->submitStatus = 2;
        return;
    }
    if (conv::trim(PhoneNumber).isEmpty()) {
        d->refuse(
            QStringLiteral("Error: The PhoneNumber parameter in the SendNumeric method is empty."));
        d->submitStatus = 3;
        return;
    }
    if (d->numPorts == 0) {
        d->refuse(QStringLiteral("Error: SendNumeric method reports no Com port(s) defined"));
        d->submitStatus = 5;
        return;
    }
    const int n = d->queue.findFree();
    if (n == 0) {
        d->submitStatus = 6;
        d->startTimer();
        return;
    }
    // Converted before the slot is taken: an overflow leaves the queue as it was.
    const std::int16_t delay = conv::toInt16(numericDelay(Delay));
    QueueSlot slot;
    slot.Message = Message;
    slot.PhoneNumber = PhoneNumber;
    slot.UniqueID = UniqueID;
    slot.ComSettings = ComSettings;
    slot.ModemInitString = ModemInitString;
    slot.ModemDialString = ModemDialString;
    slot.Delay = delay;
    slot.Kind = QueueSlot::Numeric;
    d->place(n, std::move(slot));
}

namespace {

// The fields an alphanumeric page and a file page share.
QueueSlot textPageSlot(const QString& Message, const QString& PhoneNumber, const QString& PIN,
                       std::int16_t MaxCharactersPerBlock, const QString& UniqueID,
                       const QString& ComSettings, const QString& ModemInitString,
                       const QString& ModemDialString, const QString& TAPPassword) {
    QueueSlot slot;
    slot.Message = Message;
    slot.PhoneNumber = PhoneNumber;
    slot.PIN = PIN;
    slot.MaxCharactersPerBlock = MaxCharactersPerBlock;
    slot.UniqueID = UniqueID;
    slot.ComSettings = ComSettings;
    slot.ModemInitString = ModemInitString;
    slot.ModemDialString = ModemDialString;
    slot.TAPPassword = TAPPassword;
    return slot;
}

}  // namespace

void PagerOCX::SendMessage(const QString& Message, const QString& PhoneNumber, const QString& PIN,
                           std::int16_t MaxCharactersPerBlock, const QString& UniqueID,
                           const QString& ComSettings, const QString& ModemInitString,
                           const QString& ModemDialString, const QString& TAPPassword) {
    QueueSlot slot = textPageSlot(Message, PhoneNumber, PIN, MaxCharactersPerBlock, UniqueID,
                                  ComSettings, ModemInitString, ModemDialString, TAPPassword);
    slot.Kind = QueueSlot::Alpha;
    d->sendPage(std::move(slot));
}

void PagerOCX::SendAscii(const QString& Message, const QString& PhoneNumber, const QString& PIN,
                         const QString& AsciiFilename, std::int16_t MaxCharactersPerBlock,
                         const QString& UniqueID, const QString& ComSettings,
                         const QString& ModemInitString, const QString& ModemDialString,
                         const QString& TAPPassword) {
    QueueSlot slot = textPageSlot(Message, PhoneNumber, PIN, MaxCharactersPerBlock, UniqueID,
                                  ComSettings, ModemInitString, ModemDialString, TAPPassword);
    slot.AsciiFilename = AsciiFilename;
    slot.Kind = QueueSlot::AsciiFile;
    d->sendPage(std::move(slot));
}

void PagerOCX::stopDispatch() {
    d->stopped = true;
    d->timer->stop();
}

const SendQueue& PagerOCX::queue() const { return d->queue; }
int PagerOCX::NumPorts() const { return d->numPorts; }
std::int16_t PagerOCX::portAt(int position) const {
    if (position < 1 || position > kMaxPorts) {
        return 0;
    }
    return d->ports[static_cast<size_t>(position)];
}
QString PagerOCX::systemDirectory() const { return d->systemDir; }
QString PagerOCX::workingDirectory() const { return d->workingDir; }
void PagerOCX::setPortFileDevice(vts::PortFileDevice& device) { d->device = &device; }

PagerOCX::Properties PagerOCX::properties() const {
    Properties p;
    p.NumberOfRetries = d->values[kNumberOfRetries];
    p.RetryDelay = d->values[kRetryDelay];
    p.Timeout = d->values[kTimeout];
    p.DebugMode = d->values[kDebugMode];
    p.DialingDelay = d->values[kDialingDelay];
    p.WindowState = d->values[kWindowState];
    p.VolumeLevel = d->values[kVolumeLevel];
    p.SpeakerState = d->values[kSpeakerState];
    p.GroupTimeWindow = d->values[kGroupTimeWindow];
    return p;
}
