// The PC's own address towards a device, as the device sees it: the local end
// of a TCP connection to the device.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <string>

namespace lynx::upgrade {

// Connects to deviceIp:port (giving up after timeout, so an absent device
// cannot hold the caller) and returns the dotted local address of the socket,
// or an empty text when none was assigned.
std::string LocalAddressTowards(const std::string& deviceIp, int port,
                                std::chrono::milliseconds timeout = std::chrono::seconds(2));

// The source address the PC's routes give a datagram to deviceIp, found at
// once and with nothing sent (a UDP socket's connect only looks the route up);
// empty when there is no route.
std::string RouteSourceTowards(const std::string& deviceIp);

// The PC's address towards each camera of one batch, learnt by the TCP
// connect once per network card: the cameras the routes send out of one card
// share its answer, so a camera whose port 8021 is filtered costs the
// connect's time-out once per card and batch, not once per camera.
class LocalAddressFinder {
public:
    using Probe = std::function<std::string(const std::string& deviceIp)>;
    // probe: the TCP connect (LocalAddressTowards on port 8021 by default).
    explicit LocalAddressFinder(Probe probe = {});
    std::string Towards(const std::string& deviceIp);

private:
    Probe m_probe;
    std::map<std::string, std::string> m_byRoute;  // a route's source address -> what the probe learnt
};

} // namespace lynx::upgrade
