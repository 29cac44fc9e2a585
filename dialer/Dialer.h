#pragma once

#include "TapClient.h"
#include "TraceLog.h"
#include "Transport.h"

#include <PortRecord.h>

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <memory>
#include <optional>

// One dialer run over one port file: reads the batch the pager control
// wrote, delivers it in one call (plus one dial per numeric page), and
// writes each message's status and then the header's final status. The
// header never stays Busy once the run has read it: every path out of
// run(), including damaged files, missing devices and stop requests, ends
// with a final status.
namespace vts {

// Settings that do not travel in the port file, from calvex.ini in the
// working directory.
struct DialerOptions {
    TapTimings tap;
    double escapeGuard = 1.2;                            // silence around "+++", seconds
    double deviceWait = 300;                             // for another dialer to release the device
    double hangupReply = 3;                              // at most this long for each hang-up reply
    int snppMessMax = 128;                               // longer texts go by DATA
    QString wctpOriginator = QStringLiteral("vantrel");  // senderID of WCTP submissions
    QString gsmPin;                                      // the SIM's PIN, when it asks
    bool gsmReceipts = false;    // [gsm] receipts: status reports asked for and awaited
    double gsmReceiptWait = 15;  // [gsm] receipt_wait: seconds after the last page, 0 to 120
    // TLS of the kinds that speak it: a CA file or folder to trust instead
    // of the system's, and a client certificate with its key (PEM).
    struct Tls {
        QString caFile, caPath, certFile, keyFile;
    } tls;
    // [smtp]: pages as e-mail.
    struct Smtp {
        QString to = QStringLiteral("{pin}");  // {pin} and {phone} replaced
        QString from = QStringLiteral("vantrel@localhost");
        QString subject;
        bool starttls = false;
        QString user, password;
        Tls tls;
    } smtp;
    // [smpp]: pages as SMS through an SMS centre.
    struct Smpp {
        QString systemId, password, systemType, sourceAddr;
        int sourceTon = 0, sourceNpi = 0, destTon = 1, destNpi = 1;
        int window = 10;  // submits awaiting their reply
        bool registeredDelivery = false;
        double enquireLink = 30;  // seconds of silence before an enquire_link
        Tls tls;
    } smpp;
    qint64 traceLimit = TraceLog::kDefaultLimit;  // bytes of KRX<N>.log before it turns
    // The port's entry in calvex.ini (see PortTarget), else /dev/ttyS<n-1>.
    QString devicePath(int comPort) const;
    QString stateDir =
        QStringLiteral(".");           // the run's working directory, for state kept across runs
    QList<QPair<int, QString>> ports;  // COMn mappings

    static DialerOptions fromIni(const QString& path);
};

class Dialer final : public Batch {
public:
    Dialer(QString workDir, DialerOptions options);
    ~Dialer() override;

    // Exit status: 0 every message sent, 1 some failed, 2 nothing to do
    // (no such port file, or its header is not Busy).
    int run(int portIndex);

    // Text of a message made ready for the line: line breaks as LF,
    // trailing blanks and breaks removed, 7-bit.
    static QByteArray prepareText(const QString& text);
    // The same text before it is made 7-bit, for transports that carry Unicode.
    static QString prepareUnicode(const QString& text);
    // A dialable phone number (blanks, dashes, dots and brackets removed);
    // nullopt when it holds anything a dial command must not carry.
    static std::optional<QByteArray> dialableNumber(const QString& phone);
    // DTMF digits of a numeric page; empty when there are none.
    static QByteArray numericDigits(const QString& message);
    // Reads a page's text file: a regular file of at most kMaxFileBytes.
    static std::optional<QString> readTextFile(const QString& path, QString* why);
    static constexpr qint64 kMaxFileBytes = 16 * qint64{1024};

    // Batch: the status goes into the port file at once.
    void setStatus(Page& page, PortStatus status, const QString& why, bool final = false) override;
    void portFault(bool unusable, const QString& why) override;
    TraceLog& trace() override { return *m_trace; }
    void awaitReceipts(Page& page, const QStringList& messageIds) override;
    void receipt(const QString& messageId, bool delivered, const QString& reason) override;

private:
    bool writeStatus(int record, std::int16_t status);
    void finishHeader(std::int16_t status);
    void deliver(const QList<Page*>& pages);
    void failAll(const QList<Page*>& pages, PortStatus status, const QString& why);
    void note(const QJsonObject& note);

    QString m_dir;
    DialerOptions m_opt;
    QString m_path;
    QString m_causePath;  // mordax<N>.why: why each page was not delivered
    QList<Page> m_jobs;
    class TraceLog* m_trace = nullptr;
};

}  // namespace vts
