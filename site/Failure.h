// What can go wrong in a site's jobs, each with the one text every front end
// shows for it.
#pragma once

#include <string>

namespace lynx::protocol {
class DiscoverySession;
}

namespace lynx::site {

enum class Failure {
    None,
    NoCard,              // the request went out on no network card (no network, a cable out)
    SendFailed,          // an address change could not be sent
    PortsTaken,          // another program holds 19027 or 8025
    NoReportPort,        // the report port could not be opened for another reason
    NoFileServer,        // no TCP port from 9000 up for the firmware server
    FirmwareUnreadable,  // the firmware file cannot be read; its path follows the text
    FirmwareNotZip,      // the firmware file is no zip archive; its path follows the text
};

// The failure's text in the selected language (UTF-8); empty for None.
std::string FailureText(Failure failure);

// Starts the session's servers (the update port's too when serveUpdates):
// None, PortsTaken when another program holds a port, else NoReportPort.
Failure StartServers(protocol::DiscoverySession& session, bool serveUpdates);

} // namespace lynx::site
