// The PC's IPv4 network interfaces, read afresh at every call (a cable
// plugged in, or a card brought up, since the last call counts).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace lynx::platform {

struct Ipv4Interface {
    std::string name;      // "eth1"
    unsigned index = 0;    // as if_nametoindex gives it
    std::string address;   // dotted IPv4
    unsigned prefixLength = 32;  // of its subnet, from the netmask: 24 for 255.255.255.0
    bool up = false;
    bool loopback = false;
    bool broadcast = false;       // the interface can broadcast
    bool pointToPoint = false;
};

// Every IPv4 address of every interface, in the system's interface order (an
// interface with two addresses appears twice); nothing when the interfaces
// cannot be read.
std::optional<std::vector<Ipv4Interface>> Ipv4Interfaces();

// The interfaces a search or an address change is broadcast on: up, not
// loopback, broadcast-capable, once each (with its first address), in
// interface order. Point-to-point links (VPN tunnels and the like) are left
// out: they have no segment of cameras to broadcast to, and a broadcast into
// a tunnel would leave the site.
std::vector<Ipv4Interface> BroadcastInterfaces();

} // namespace lynx::platform
