#include "PagerOCX.h"

#include "Conversions.h"
#include "Dialogs.h"
#include "Dispatcher.h"
#include "EventLoop.h"
#include "Launcher.h"
#include "PagerProperties.h"
#include "Paths.h"

#include <QDir>

using namespace vts;
using namespace vts::pagerprops;

namespace {

const QString kMordax = QStringLiteral("Mordax");
const QString kDialer = QStringLiteral("calvex.exe");

std::function<void(PagerOCX&)>& aboutPresenter() {
    static std::function<void(PagerOCX&)> presenter;
    return presenter;
}

}  // namespace

// What the control holds behind its face: the property values, the last
// submission's status and the dispatcher, whose events it raises as the
// control's signals.
struct PagerOCX::Impl final : Dispatcher::Host {
    Impl(PagerOCX* owner, EventLoop& loop, Dialogs& dl, Launcher& launcher, const QString& wd)
        : q(owner),
          dialogs(dl),
          workingDir(QDir(wd.isEmpty() ? QDir::currentPath() : wd).absolutePath()),
          dispatcher(loop, dl, launcher, workingDir, values, *this) {}

    PagerOCX* q;
    Dialogs& dialogs;
    QString workingDir;
    QString systemDir;
    Values values{};
    qint32 submitStatus = 0;
    Dispatcher dispatcher;

    void messageSent(const QString& uid, const QString& msg, const QString& phone,
                     const QString& pin) override {
        emit q->MessageSent(uid, msg, phone, pin);
    }
    void messageCancelled(const QString& uid, const QString& msg, const QString& phone,
                          const QString& pin) override {
        emit q->MessageCancelled(uid, msg, phone, pin);
    }
    void messageFailed(const QString& uid, const QString& msg, const QString& phone,
                       const QString& pin, std::int16_t flag) override {
        emit q->MessageFailed(uid, msg, phone, pin, flag);
    }
    void notice(const QString& text) override { emit q->notice(text); }
    void messageCause(const QString& uid, const QString& cause, bool retried) override {
        emit q->MessageCause(uid, cause, retried);
    }

    void setValue(int i, qint32 v);
    void refuse(const QString& text) {
        dialogs.show(text, kMordax, Dialogs::Icon::Critical, Dialogs::Buttons::Ok);
    }
    bool dialerPresent() const { return !Launcher::resolveProgram(systemDir, kDialer).isEmpty(); }
    void place(int n, QueueSlot slot) {
        submitStatus = 0;
        dispatcher.place(n, std::move(slot));
    }
    // The checks and filling shared by the alphanumeric and file pages.
    void sendPage(QueueSlot slot);
};

void PagerOCX::Impl::setValue(int i, qint32 v) {
    const auto& def = definitions()[static_cast<size_t>(i)];
    if (v < def.min || v > def.max) {
        dialogs.show(QString::fromLatin1(def.rejection), QString(), Dialogs::Icon::None,
                     Dialogs::Buttons::Ok);
        return;
    }
    values[static_cast<size_t>(i)] = v;
    emit q->propertyChanged(QString::fromLatin1(def.name));
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
    if (dispatcher.numPorts() == 0) {
        submitStatus = 5;
        return;
    }
    const int n = dispatcher.queue().findFree();
    if (n == 0) {
        submitStatus = 6;
        dispatcher.startTimer();
        return;
    }
    place(n, std::move(slot));
}

// ---- PagerOCX ------------------------------------------------------------------

PagerOCX::PagerOCX(EventLoop& loop, Dialogs& dialogs, Launcher& launcher, const QString& workingDir,
                   QObject* parent)
    : QObject(parent), d(std::make_unique<Impl>(this, loop, dialogs, launcher, workingDir)) {
    d->dispatcher.ports().deletePortFiles();
    d->dispatcher.ports().onReleased = [this](int port) { emit portReleased(port); };
    d->systemDir = paths::systemDirectory();
    d->dispatcher.setSystemDirectory(d->systemDir);
    for (int i = 0; i < kCount; ++i) {
        d->values[static_cast<size_t>(i)] = definitions()[static_cast<size_t>(i)].newInstance;
    }
}

PagerOCX::~PagerOCX() = default;

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
    for (int i = 0; i < kCount; ++i) {
        d->values[static_cast<size_t>(i)] = definitions()[static_cast<size_t>(i)].newInstance;
    }
}

void PagerOCX::ReadProperties(const PropertyBag& bag) {
    for (int i = 0; i < kCount; ++i) {
        const auto& def = definitions()[static_cast<size_t>(i)];
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
    for (int i = 0; i < kCount; ++i) {
        bag.write(QString::fromLatin1(definitions()[static_cast<size_t>(i)].name),
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

void PagerOCX::setNetworkPorts(std::function<QSet<int>(const QString& settingsPath)> probe) {
    d->dispatcher.setNetworkPorts(std::move(probe));
}

bool PagerOCX::isNetworkPort(int position) const { return d->dispatcher.isNetworkPort(position); }

qint32 PagerOCX::QueueCount() const { return d->dispatcher.queue().count(); }
void PagerOCX::setQueueCount(qint32) {
    d->dialogs.show(QStringLiteral("The QueueCount property is read only"), QString(),
                    Dialogs::Icon::None, Dialogs::Buttons::Ok);
}
qint32 PagerOCX::SubmitStatus() const { return d->submitStatus; }
void PagerOCX::setSubmitStatus(qint32) {
    d->dialogs.show(QStringLiteral("The SubmitState property is read only"), QString(),
                    Dialogs::Icon::None, Dialogs::Buttons::Ok);
}

void PagerOCX::ClearComPorts() { d->dispatcher.clearPorts(); }

void PagerOCX::AddComPort(std::int16_t port) {
    if (port < 1 || port > 9) {
        d->refuse(
            QStringLiteral("Error: AddComPort method can only accept a number between 1 and 9"));
        return;
    }
    d->dispatcher.addPort(port);
}

void PagerOCX::ComPort(std::int16_t port) {
    if (port < 1 || port > 9) {
        d->refuse(QStringLiteral("Error: ComPort method can only accept a number between 1 and 9"));
        return;
    }
    d->dispatcher.setOnlyPort(port);
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
    if (d->dispatcher.numPorts() == 0) {
        d->refuse(QStringLiteral("Error: SendNumeric method reports no Com port(s) defined"));
        d->submitStatus = 5;
        return;
    }
    const int n = d->dispatcher.queue().findFree();
    if (n == 0) {
        d->submitStatus = 6;
        d->dispatcher.startTimer();
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

void PagerOCX::stopDispatch() { d->dispatcher.stop(); }
void PagerOCX::setDispatchHeld(bool held) { d->dispatcher.setHeld(held); }
bool PagerOCX::isDispatching() const { return d->dispatcher.inTick(); }
bool PagerOCX::finishRuns(double maxSeconds) { return d->dispatcher.finishRuns(maxSeconds); }

const SendQueue& PagerOCX::queue() const { return d->dispatcher.queue(); }
int PagerOCX::NumPorts() const { return d->dispatcher.numPorts(); }
std::int16_t PagerOCX::portAt(int position) const { return d->dispatcher.portAt(position); }
vts::PortActivity PagerOCX::portActivity(int position) const {
    return d->dispatcher.activity(position);
}
bool PagerOCX::portHeld(int position) const {
    return position >= 1 && position <= vts::Dispatcher::kMaxPorts &&
           d->dispatcher.ports().isHeld(position);
}
PagerOCX::PortState PagerOCX::portState(int position) const {
    const auto st = d->dispatcher.portState(position);
    return {st.unusable, st.passedOver, st.reason};
}
QString PagerOCX::systemDirectory() const { return d->systemDir; }
QString PagerOCX::workingDirectory() const { return d->workingDir; }
void PagerOCX::setPortFileDevice(vts::PortFileDevice& device) {
    d->dispatcher.ports().setDevice(device);
}

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
