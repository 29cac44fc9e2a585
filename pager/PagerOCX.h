#pragma once

#include "PortActivity.h"
#include "PropertyBag.h"

#include <QObject>
#include <QSet>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace vts {
class EventLoop;
class Dialogs;
class Launcher;
class PortFileDevice;
class SendQueue;
}  // namespace vts

// The pager control: an 800-slot in-memory send queue, a port list of up to
// eight COM ports, and a one-second dispatch timer that hands batches to the
// dialer through the port files and raises one final event per message.
// (Public interface; the implementation is free to add private members.)
class PagerOCX : public QObject {
    Q_OBJECT
public:
    // Persisted properties, in the order they are saved.
    struct Properties {
        qint32 NumberOfRetries = 0, RetryDelay = 60, Timeout = 60, DebugMode = 0, DialingDelay = 2,
               WindowState = 0, VolumeLevel = 2, SpeakerState = 1, GroupTimeWindow = 5;
    };

    // `workingDir` holds the port files; the dialer is looked for in the
    // system directory. Creation deletes mordax1.dat..mordax8.dat, except a
    // file whose port a dialer still holds (see PortLock): that port is left
    // alone and not used until the hold ends.
    PagerOCX(vts::EventLoop& loop, vts::Dialogs& dialogs, vts::Launcher& launcher,
             const QString& workingDir, QObject* parent = nullptr);
    ~PagerOCX() override;

    void ShowAbout();
    // What ShowAbout shows. The widget library installs the about box when it
    // is loaded; without it ShowAbout shows the about text as a message box.
    static void setAboutPresenter(std::function<void(PagerOCX&)> presenter);

    // Persistence through the host's property bag: a new instance takes the
    // new-instance values; reading takes each entry as stored (no range
    // check), the read default for an absent one; writing saves the nine in
    // their order.
    void InitProperties();
    void ReadProperties(const vts::PropertyBag& bag);
    void WriteProperties(vts::PropertyBag& bag) const;

    // clang-format off
    qint32 NumberOfRetries() const;  void setNumberOfRetries(qint32 v);
    qint32 RetryDelay() const;       void setRetryDelay(qint32 v);
    qint32 Timeout() const;          void setTimeout(qint32 v);
    qint32 DebugMode() const;        void setDebugMode(qint32 v);
    qint32 DialingDelay() const;     void setDialingDelay(qint32 v);
    qint32 WindowState() const;      void setWindowState(qint32 v);
    qint32 VolumeLevel() const;      void setVolumeLevel(qint32 v);
    qint32 SpeakerState() const;     void setSpeakerState(qint32 v);
    qint32 GroupTimeWindow() const;  void setGroupTimeWindow(qint32 v);
    qint32 QueueCount() const;       void setQueueCount(qint32 v);    // refuses
    qint32 SubmitStatus() const;     void setSubmitStatus(qint32 v);  // refuses
    // clang-format on
    // The settable property at save position i (0 NumberOfRetries .. 8
    // GroupTimeWindow); setting goes through the same range check.
    qint32 propertyValue(int i) const;
    void setPropertyValue(int i, qint32 v);

    void ClearComPorts();
    void AddComPort(std::int16_t port);
    void ComPort(std::int16_t port);
    // Throws vts::conv::OverflowError when Delay's value does not fit 16 bits.
    void SendNumeric(const QString& Message, const QString& PhoneNumber, const QString& Delay,
                     const QString& UniqueID = {}, const QString& ComSettings = {},
                     const QString& ModemInitString = {}, const QString& ModemDialString = {});
    void SendMessage(const QString& Message, const QString& PhoneNumber, const QString& PIN,
                     std::int16_t MaxCharactersPerBlock = 0, const QString& UniqueID = {},
                     const QString& ComSettings = {}, const QString& ModemInitString = {},
                     const QString& ModemDialString = {}, const QString& TAPPassword = {});
    void SendAscii(const QString& Message, const QString& PhoneNumber, const QString& PIN,
                   const QString& AsciiFilename, std::int16_t MaxCharactersPerBlock = 0,
                   const QString& UniqueID = {}, const QString& ComSettings = {},
                   const QString& ModemInitString = {}, const QString& ModemDialString = {},
                   const QString& TAPPassword = {});

    // Stops dispatching for good (the host calls this before it closes its
    // stores); no event is raised afterwards.
    void stopDispatch();
    // While held no new dialer run starts; runs on the line are collected.
    void setDispatchHeld(bool held);
    // A tick of the dispatch is under way (its events may be running).
    bool isDispatching() const;
    // The orderly stop of the runs on the line (see Dispatcher::finishRuns).
    bool finishRuns(double maxSeconds);

    // For hosts and tests that look inside.
    const vts::SendQueue& queue() const;
    int NumPorts() const;
    std::int16_t portAt(int position) const;  // 1..8; 0 when never set
    // Port position 1..8: its run on the line and its last settled page;
    // whether a dialer of an earlier run still holds its file.
    vts::PortActivity portActivity(int position) const;
    bool portHeld(int position) const;
    // The port at `position` (1..8) as dispatch sees it: unusable until its
    // settings in calvex.ini change (e.g. "SIM refused PIN"), or passed over
    // by its routes (e.g. "route failover: cannot connect ..."); read-only.
    struct PortState {
        bool unusable = false;
        bool passedOver = false;
        QString reason;
    };
    PortState portState(int position) const;
    QString systemDirectory() const;
    // Tells which COM ports the calvex.ini at the given path gives a network
    // carrier: those take their batches without the modems' waits. Asked
    // again whenever the file changes; without it every port is a modem.
    void setNetworkPorts(std::function<QSet<int>(const QString& settingsPath)> probe);
    bool isNetworkPort(int position) const;
    QString workingDirectory() const;
    Properties properties() const;
    // Port-file reads and writes go through `device` (the file itself unless
    // a test puts one in that fails part-way).
    void setPortFileDevice(vts::PortFileDevice& device);

signals:
    void MessageFailed(const QString& UniqueID, const QString& Message, const QString& PhoneNumber,
                       const QString& PIN, std::int16_t ModemErrorFlag);
    void MessageSent(const QString& UniqueID, const QString& Message, const QString& PhoneNumber,
                     const QString& PIN);
    void MessageCancelled(const QString& UniqueID, const QString& Message,
                          const QString& PhoneNumber, const QString& PIN);
    // Why a page was not delivered, in words: raised just before its
    // MessageFailed or MessageCancelled (Retried false), or when a failed
    // attempt leaves it to be tried again (Retried true).
    void MessageCause(const QString& UniqueID, const QString& Cause, bool Retried);
    // A setter stored a new value: the host's saved form needs updating.
    void propertyChanged(const QString& name);
    // A line for the host's status list: a port held by a dialer of an
    // earlier run is not used (and, later, is free again).
    void notice(const QString& text);
    // A port file that a dialer outside this control held was let go (the
    // port index); it is reset right after.
    void portReleased(int port);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
