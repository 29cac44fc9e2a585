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
// reference and any +CMS ERROR go to the trace.
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

protected:
    bool open(const QList<Page*>& pages) override;
    Outcome send(Page& page) override;
    void close(const QList<Page*>& pages) override;

private:
    class AtChannel;

    SerialPort m_port;
    std::unique_ptr<Channel> m_channel;
    std::unique_ptr<AtChannel> m_at;
    int m_reference = 0;  // of the next long text's parts
};

}  // namespace vts
