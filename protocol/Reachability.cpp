#include "protocol/Reachability.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>

namespace lynx::protocol {

namespace {

std::optional<uint32_t> HostOrder(std::string_view dotted)
{
    in_addr address{};
    if (::inet_pton(AF_INET, std::string(dotted).c_str(), &address) != 1)
        return std::nullopt;
    return ntohl(address.s_addr);
}

std::vector<platform::Ipv4Interface> CardsNamed(const ReportArrival& arrival,
                                                const std::vector<platform::Ipv4Interface>& cards)
{
    std::vector<platform::Ipv4Interface> named;
    if (!arrival.interfaceName.empty()) {
        std::copy_if(cards.begin(), cards.end(), std::back_inserter(named),
                     [&](const platform::Ipv4Interface& card) { return card.name == arrival.interfaceName; });
        // A card gone since its report came leaves the PC's cards to name.
        if (!named.empty())
            return named;
    }
    std::copy_if(cards.begin(), cards.end(), std::back_inserter(named),
                 [](const platform::Ipv4Interface& card) { return card.up && !card.loopback; });
    return named.empty() ? cards : named;
}

} // namespace

bool InSubnet(std::string_view ip, std::string_view address, unsigned prefixLength)
{
    const std::optional<uint32_t> host = HostOrder(ip), card = HostOrder(address);
    if (!host || !card)
        return false;
    const uint32_t mask = prefixLength == 0 ? 0 : prefixLength >= 32 ? ~0u : ~0u << (32 - prefixLength);
    return (*host & mask) == (*card & mask);
}

Reachability ReachabilityOf(std::string_view deviceIp, const ReportArrival& arrival,
                            const std::vector<platform::Ipv4Interface>& cards)
{
    const bool inSome = std::any_of(cards.begin(), cards.end(), [&](const platform::Ipv4Interface& card) {
        return card.up && InSubnet(deviceIp, card.address, card.prefixLength);
    });
    if (inSome)
        return {};
    return {false, CardsNamed(arrival, cards)};
}

} // namespace lynx::protocol
