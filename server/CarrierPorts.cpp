#include "CarrierPorts.h"

#include "Dialer.h"
#include "Transport.h"

namespace vts {

QSet<int> networkComPorts(const QString& settingsPath) {
    const DialerOptions options = DialerOptions::fromIni(settingsPath);
    QSet<int> network;
    for (int com = 1; com <= 99; ++com) {
        const auto target = PortTarget::parse(options.devicePath(com), nullptr);
        if (target && target->kind != PortTarget::Kind::Modem &&
            target->kind != PortTarget::Kind::Gsm) {
            network.insert(com);
        }
    }
    return network;
}

}  // namespace vts
