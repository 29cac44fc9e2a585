#include "EndpointKinds.h"

#include "GsmModem.h"
#include "SimModem.h"
#include "SmppSession.h"
#include "SmtpSession.h"
#include "SnppSession.h"
#include "TapTcpSession.h"
#include "WctpSession.h"

#include <array>

namespace vts::sim {

namespace {

// The Hayes modem as a session on its pseudo-terminal.
class ModemSession final : public Session {
public:
    explicit ModemSession(const EndpointContext& c)
        : m_modem(c.com, c.scenario, c.timings, c.guard, c.sink) {}
    void receive(const QByteArray& bytes, double now) override { m_modem.receive(bytes, now); }
    void tick(double now) override {
        m_now = now;
        m_modem.tick(now);
    }
    double nextDeadline() const override { return m_modem.nextDeadline(); }
    // The bytes due by the last tick.
    QByteArray takeOutput() override { return m_modem.takeOutput(m_now); }
    bool wantsClose() const override { return false; }
    void closed(double now) override { m_modem.lineClosed(now); }

private:
    SimModem m_modem;
    double m_now = 0;
};

const std::array kKinds{
    EndpointKind{"ports", "COM port numbers, e.g. 1,2.", "1", true, "%1",
                 [](const EndpointContext& c) -> SessionFactory {
                     return [c](double) { return std::make_unique<ModemSession>(c); };
                 }},
    EndpointKind{"tcp", "COM ports served by a paging terminal on a TCP port.", nullptr, false,
                 "tcp:127.0.0.1:%1",
                 [](const EndpointContext& c) -> SessionFactory {
                     return [c](double now) {
                         return std::make_unique<TapTcpSession>(c.com, c.scenario.forPort(c.com),
                                                                c.timings, now, c.sink);
                     };
                 }},
    EndpointKind{"snpp", "COM ports served by an SNPP server.", nullptr, false, "snpp:127.0.0.1:%1",
                 [](const EndpointContext& c) -> SessionFactory {
                     return [c](double now) {
                         return std::make_unique<SnppSession>(c.com, c.scenario.forPort(c.com), now,
                                                              c.sink);
                     };
                 }},
    EndpointKind{"wctp", "COM ports served by a WCTP endpoint.", nullptr, false,
                 "wctp:http://127.0.0.1:%1/wctp",
                 [](const EndpointContext& c) -> SessionFactory {
                     // The endpoint counts pages and stays down across connections.
                     auto state = std::make_shared<WctpSession::PortState>();
                     return [c, state](double now) {
                         return std::make_unique<WctpSession>(c.com, c.scenario.forPort(c.com),
                                                              *state, now, c.sink);
                     };
                 }},
    EndpointKind{"gsm", "COM ports with a simulated GSM modem.", nullptr, true, "gsm:%1",
                 [](const EndpointContext& c) -> SessionFactory {
                     return [c](double) {
                         return std::make_unique<GsmModem>(c.com, c.scenario, c.sink);
                     };
                 }},
    EndpointKind{
        "smpp", "COM ports served by an SMS centre over SMPP.", nullptr, false, "smpp:127.0.0.1:%1",
        [](const EndpointContext& c) -> SessionFactory {
            return [c](double now) {
                return std::make_unique<SmppSession>(c.com, c.scenario.forPort(c.com), now, c.sink);
            };
        }},
    EndpointKind{"smtp", "COM ports served by a mail server taking pages.", nullptr, false,
                 "smtp:127.0.0.1:%1",
                 [](const EndpointContext& c) -> SessionFactory {
                     return [c](double now) {
                         return std::make_unique<SmtpSession>(c.com, c.scenario.forPort(c.com), now,
                                                              c.sink);
                     };
                 }},
};

}  // namespace

std::span<const EndpointKind> endpointKinds() { return kKinds; }

}  // namespace vts::sim
