#include "IntakeProtocols.h"

#include "HttpSession.h"
#include "SmtpSession.h"
#include "SnppSession.h"

#include <array>

namespace vts::gate {

namespace {

template <class T>
std::unique_ptr<Session> make(PageSubmitter& desk, const QString& peer, const Session::Io& io) {
    return std::make_unique<T>(desk, peer, io);
}

const std::array kProtocols{
    IntakeProtocol{"SNPP", "snpp", &GatewayConfig::snpp, make<SnppSession>},
    IntakeProtocol{"SMTP", "smtp", &GatewayConfig::smtp, make<SmtpSession>},
    IntakeProtocol{"HTTP", "http", &GatewayConfig::http, make<HttpSession>},
};

}  // namespace

std::span<const IntakeProtocol> intakeProtocols() { return kProtocols; }

const IntakeProtocol* intakeProtocolOf(const QString& section) {
    for (const IntakeProtocol& p : kProtocols) {
        if (section == QLatin1String(p.section)) {
            return &p;
        }
    }
    return nullptr;
}

}  // namespace vts::gate
