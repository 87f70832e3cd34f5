#include "addressing/LocalAddresses.h"

#include "platform/NetworkInterfaces.h"

#include <mutex>

namespace lynx::addressing {

namespace {

std::mutex g_providerMutex;
LocalAddressProvider g_provider;

std::optional<std::vector<std::string>> InterfaceAddresses()
{
    auto interfaces = platform::Ipv4Interfaces();
    if (!interfaces)
        return std::nullopt;
    std::vector<std::string> addresses;
    for (const platform::Ipv4Interface& item : *interfaces) {
        if (item.up && !item.loopback)
            addresses.push_back(item.address);
    }
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
