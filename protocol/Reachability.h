// Whether the PC can reach a camera at the address it reports. A search and an
// address change go by broadcast and reach a camera whatever its address; the
// upgrade request, the firmware download, the web page and the details by
// address go to the address itself, which the PC reaches only in the subnet of
// one of its cards. A camera fresh from the factory, or moved from another
// site, answers the broadcast from an address outside all of them.
#pragma once

#include "platform/NetworkInterfaces.h"
#include "protocol/DeviceTable.h"

#include <string_view>
#include <vector>

namespace lynx::protocol {

struct Reachability {
    bool reachable = true;
    // When not reachable, the cards to name in the reason: every address of
    // the card the report came in on or, when that card is not known, of the
    // PC's cards that are up and not loopback (every card when none is).
    std::vector<platform::Ipv4Interface> named;
};

// Whether ip (dotted) lies in the subnet of address/prefixLength; false when
// either cannot be read.
bool InSubnet(std::string_view ip, std::string_view address, unsigned prefixLength);

// The camera at deviceIp is reachable when its address lies in the subnet of
// some card of the PC that is up (cards: as platform::Ipv4Interfaces gives
// them); arrival tells which card its report came in on.
Reachability ReachabilityOf(std::string_view deviceIp, const ReportArrival& arrival,
                            const std::vector<platform::Ipv4Interface>& cards);

} // namespace lynx::protocol
