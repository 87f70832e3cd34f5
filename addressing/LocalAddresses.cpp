#include "addressing/LocalAddresses.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <mutex>

namespace lynx::addressing {

namespace {

std::mutex g_providerMutex;
LocalAddressProvider g_provider;

std::optional<std::vector<std::string>> InterfaceAddresses()
{
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return std::nullopt;
    std::vector<std::string> addresses;
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET)
            continue;
        if ((entry->ifa_flags & IFF_UP) == 0 || (entry->ifa_flags & IFF_LOOPBACK) != 0)
            continue;
        char text[INET_ADDRSTRLEN] = {};
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        if (::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr)
            addresses.emplace_back(text);
    }
    ::freeifaddrs(list);
    return addresses;
}

} // namespace

std::optional<std::vector<std::string>> LocalIpv4Addresses()
{
    LocalAddressProvider provider;
    {
        std::lock_guard lock(g_providerMutex);
        provider = g_provider;
    }
    return provider ? provider() : InterfaceAddresses();
}

LocalAddressProvider SetLocalAddressProvider(LocalAddressProvider provider)
{
    std::lock_guard lock(g_providerMutex);
    LocalAddressProvider previous = std::move(g_provider);
    g_provider = std::move(provider);
    return previous;
}

} // namespace lynx::addressing
