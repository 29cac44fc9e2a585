#pragma once

#include <QObject>

class QSocketNotifier;

namespace vts {

// Turns SIGTERM and SIGINT into a Qt signal on the main thread. The signal
// handler only writes one byte into a self-pipe; a socket notifier on the
// other end wakes the event loop, so nothing polls. One instance per process.
class ShutdownSignals final : public QObject {
    Q_OBJECT
public:
    explicit ShutdownSignals(QObject* parent = nullptr);
    ~ShutdownSignals() override;
    bool isValid() const { return m_notifier != nullptr; }

signals:
    void stopRequested(int signalNumber);

private:
    void readPipe();
    QSocketNotifier* m_notifier = nullptr;
};

}  // namespace vts
