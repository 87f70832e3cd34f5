#include "platform/NetworkInterfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <bit>

namespace lynx::platform {

std::optional<std::vector<Ipv4Interface>> Ipv4Interfaces()
{
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return std::nullopt;
    std::vector<Ipv4Interface> interfaces;
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET || entry->ifa_name == nullptr)
            continue;
        Ipv4Interface item;
        item.name = entry->ifa_name;
        item.index = ::if_nametoindex(entry->ifa_name);
        char text[INET_ADDRSTRLEN] = {};
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        if (::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) == nullptr)
            continue;
        item.address = text;
        if (entry->ifa_netmask != nullptr && entry->ifa_netmask->sa_family == AF_INET) {
            const auto* mask = reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask);
            item.prefixLength = static_cast<unsigned>(std::popcount(ntohl(mask->sin_addr.s_addr)));
        }
        item.up = (entry->ifa_flags & IFF_UP) != 0;
        item.loopback = (entry->ifa_flags & IFF_LOOPBACK) != 0;
        item.broadcast = (entry->ifa_flags & IFF_BROADCAST) != 0;
        item.pointToPoint = (entry->ifa_flags & IFF_POINTOPOINT) != 0;
        interfaces.push_back(std::move(item));
    }
    ::freeifaddrs(list);
    return interfaces;
}

std::vector<Ipv4Interface> BroadcastInterfaces()
{
    std::vector<Ipv4Interface> chosen;
    for (const Ipv4Interface& item : Ipv4Interfaces().value_or(std::vector<Ipv4Interface>{})) {
        if (!item.up || item.loopback || !item.broadcast || item.pointToPoint || item.index == 0)
            continue;
        const bool seen = std::any_of(chosen.begin(), chosen.end(),
                                      [&](const Ipv4Interface& other) { return other.index == item.index; });
        if (!seen)
            chosen.push_back(item);
    }
    return chosen;
}

} // namespace lynx::platform
