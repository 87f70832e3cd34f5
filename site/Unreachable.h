// Why the PC cannot reach a camera at the address it reports, in the user's
// language: "不在本机网段：网卡 eth0 为 10.1.2.100/24". The window's list,
// its batch upgrade and lynx-cli's commands all say it the same way.
#pragma once

#include "platform/NetworkInterfaces.h"
#include "protocol/DeviceRecord.h"
#include "protocol/Reachability.h"

#include <functional>
#include <string>
#include <vector>

namespace lynx::site {

// The reason for a camera judged unreachable (UTF-8, translated); empty for
// a reachable one.
std::string UnreachableText(const protocol::Reachability& reach);

// Where the PC's cards are read from: platform::Ipv4Interfaces unless a
// test has put cards of its own in place (an empty function restores it).
using CardsProvider = std::function<std::vector<platform::Ipv4Interface>()>;
CardsProvider SetCardsProvider(CardsProvider provider);

// The PC's cards as they were when it was made, so that a list of cameras is
// judged against one reading of them.
class CardSubnets {
public:
    CardSubnets();  // the cards as they are now
    explicit CardSubnets(std::vector<platform::Ipv4Interface> cards) : m_cards(std::move(cards)) {}

    // Empty when the PC reaches the camera at its address; otherwise why not.
    std::string UnreachableReason(const DeviceRecord& record, const protocol::ReportArrival& arrival) const;
    bool Reachable(const DeviceRecord& record, const protocol::ReportArrival& arrival) const
    {
        return UnreachableReason(record, arrival).empty();
    }

private:
    std::vector<platform::Ipv4Interface> m_cards;
};

} // namespace lynx::site
