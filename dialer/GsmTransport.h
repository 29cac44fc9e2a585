#pragma once

#include "Line.h"
#include "Transport.h"

#include <memory>

// Pages as SMS through a GSM modem: the record's PIN field holds the
// mobile number (the paging service's number is not dialled). PDU mode;
// the SIM's PIN from calvex.ini when the modem asks for it, sent at most
// once for a given PIN: a refused one is remembered in calvex-pin.refused
// in the working directory and the port reported unusable until [gsm] pin
// changes; one AT+CMGS per
// part of a long text; a retry sends only the parts the network has not
// accepted, under the same concatenation reference. The modem's message
// reference and any +CMS ERROR go to the trace. With [gsm] receipts on,
// each part asks the centre for a status report (TP-SRR) and the modem is
// told to pass reports to the line (+CDS); each report becomes a delivery
// note, and after the last page the run waits up to [gsm] receipt_wait
// seconds for the reports of its parts still awaited.
namespace vts {

class GsmTransport final : public Transport {
public:
    GsmTransport(PortTarget target, const DialerOptions& options);
    ~GsmTransport() override;
    PortTarget::Kind kind() const override { return PortTarget::Kind::Gsm; }

    // Whether a +CMS ERROR code refuses the recipient for good.
    static bool numberRefused(int cmsCode);
    // The file of refused SIM PINs (one salted hash per device): whether
    // `pin` was refused on `device`, and remembering it (an empty `pin`
    // forgets the device's entry once a PIN was taken).
    static bool refusedPinIs(const QString& path, const QString& device, const QString& pin);
    static bool rememberRefusedPin(const QString& path, const QString& device, const QString& pin);

    // The message ID a part is followed by: the COM port, the modem's
    // message reference and the last digits of the recipient, which a
    // status report carries too ("gsm:COM3:17:12345678"). Only the last
    // eight digits count, so "+4915112345678" and "015112345678" (the same
    // handset written nationally) give one ID.
    static QString messageId(int comPort, int reference, const QByteArray& recipient);

protected:
    bool open(const QList<Page*>& pages) override;
    Outcome send(Page& page) override;
    void close(const QList<Page*>& pages) override;

private:
    class AtChannel;
    struct Verdict {
        QString messageId;
        bool delivered = false;
        QString reason;
    };
    // Decodes the status reports the line brought and queues their verdicts.
    void readReports();
    // Hands the queued verdicts on as receipts: those of parts recorded as
    // awaiting, and those of parts of earlier runs (not sent in this one).
    void passVerdicts();
    // After the last page: waits up to [gsm] receipt_wait for the reports
    // of this run's awaited parts.
    void awaitReports();

    SerialPort m_port;
    std::unique_ptr<Channel> m_channel;
    std::unique_ptr<AtChannel> m_at;
    int m_reference = 0;     // of the next long text's parts
    bool m_reports = false;  // the parts ask for status reports and the modem passes them on
    bool m_lineLost = false;
    QStringList m_sent;      // message IDs of the parts this run sent
    QStringList m_awaiting;  // of those, the ones recorded as awaiting and not settled yet
    QList<Verdict> m_verdicts;
};

}  // namespace vts
