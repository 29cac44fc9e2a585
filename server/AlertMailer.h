#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace vts {

// One alert e-mail as the server hands it over.
struct AlertMail {
    QString recipientList;  // addresses separated by ","; empty entries are skipped
    QString subject;
    QString body;    // one line
    QString server;  // "host" or "host:port" (port 25 when left out)
};

// Sends alert e-mail over SMTP with libcurl on a worker thread of its own, so
// the server's thread never waits for a mail server. Mails are sent one at a
// time in the order handed over; each attempt is bounded by the time-out.
// The outcome of every mail arrives as mailFinished on the thread that owns
// this object. At most kMaxWaiting mails wait; beyond that a mail is refused
// at once (reported as a failure).
class AlertMailer final : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxWaiting = 32;
    // Shown as the sender; the envelope sender is kEnvelopeFrom.
    static inline const QString kSenderName = QStringLiteral("VT Server");
    static inline const QString kEnvelopeFrom = QStringLiteral("vtserver@localhost");

    explicit AlertMailer(QObject* parent = nullptr);
    // Waits for the mail being sent (at most the time-out); drops the rest.
    ~AlertMailer() override;

    void setTimeoutSeconds(int seconds) { m_timeoutSeconds = seconds; }
    void send(const AlertMail& mail);

    // Addresses of a recipient list, empty entries left out.
    static QStringList recipients(const QString& list);
    // Splits "host[:port]"; false for anything else (blanks, slashes, '@'...).
    static bool parseServer(const QString& server, QString* host, int* port);
    // The message text handed to the mail server (headers and body, CR LF).
    static QByteArray compose(const AlertMail& mail, const QString& date);

signals:
    void mailFinished(bool ok, const QString& error, const QString& recipientList);

private:
    void run();
    // Returns an empty text on success, else the reason.
    QString deliver(const AlertMail& mail);
    void finish(bool ok, const QString& error, const QString& recipients);

    int m_timeoutSeconds = 8;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<AlertMail> m_waiting;
    bool m_stopping = false;
    std::thread m_worker;
};

}  // namespace vts
