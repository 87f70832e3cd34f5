// The PC's own address towards a device, as the device sees it: the local end
// of a TCP connection to the device.
#pragma once

#include <chrono>
#include <string>

namespace lynx::upgrade {

// Connects to deviceIp:port (giving up after timeout, so an absent device
// cannot hold the caller) and returns the dotted local address of the socket,
// or an empty text when none was assigned.
std::string LocalAddressTowards(const std::string& deviceIp, int port,
                                std::chrono::milliseconds timeout = std::chrono::seconds(2));

} // namespace lynx::upgrade
