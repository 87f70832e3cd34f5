#include "site/Failure.h"

#include "addressing/Messages.h"
#include "platform/Translation.h"
#include "protocol/DiscoverySession.h"
#include "protocol/Messages.h"
#include "upgrade/FirmwareFile.h"  // the two texts only: the check itself is the upgrade's

namespace lynx::site {

std::string FailureText(Failure failure)
{
    switch (failure) {
    case Failure::None:
        return {};
    case Failure::NoCard:
        return "the search request went out on no network interface (no network, or a cable out?)";
    case Failure::SendFailed:
        return platform::TrUtf8(addressing::msg::kChangeFailed);
    case Failure::PortsTaken:
        return platform::TrUtf8(protocol::msg::kPortsTaken);
    case Failure::NoReportPort:
        return "cannot receive on UDP port " + std::to_string(protocol::kReportPort);
    case Failure::NoFileServer:
        return "no port from 9000 up is free for the firmware server";
    case Failure::FirmwareUnreadable:
        return platform::TrUtf8(upgrade::kFirmwareUnreadable);
    case Failure::FirmwareNotZip:
        return platform::TrUtf8(upgrade::kFirmwareNotZip);
    }
    return {};
}

Failure StartServers(protocol::DiscoverySession& session, bool serveUpdates)
{
    if (session.StartServers(serveUpdates) && !session.PortTaken())
        return Failure::None;
    return session.PortTaken() ? Failure::PortsTaken : Failure::NoReportPort;
}

} // namespace lynx::site
