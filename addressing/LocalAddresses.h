// The PC's own IPv4 addresses, from which the batch plan is proposed. They are
// read from the network interfaces (up, not loopback, in interface order):
// resolving the host name instead mostly yields a loopback address on Linux
// (127.0.1.1) and would propose the loopback network.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace lynx::addressing {

// Dotted IPv4 addresses, in interface order; nothing when the interfaces
// cannot be read.
std::optional<std::vector<std::string>> LocalIpv4Addresses();

using LocalAddressProvider = std::function<std::optional<std::vector<std::string>>()>;
// Replaces the interface lookup (null restores it); returns the previous one.
LocalAddressProvider SetLocalAddressProvider(LocalAddressProvider provider);

} // namespace lynx::addressing
