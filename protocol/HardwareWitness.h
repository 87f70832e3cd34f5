// The second witness of a report: the hardware address it came from, as the
// PC's neighbour table holds it for the sender's IPv4 address. The protocol
// carries no proof of who speaks, but a real camera reports its own card's
// MAC, keeps that card when its address changes, and no two senders claim one
// MAC on a sound LAN. The rule below marks as hearsay a report whose card
// contradicts that; where the table knows nothing it says nothing.
#pragma once

#include "platform/NeighbourTable.h"

#include <cstdint>
#include <mutex>
#include <string_view>
#include <unordered_map>

namespace lynx::protocol {

// What the card a report came from says of it.
struct HardwareVerdict {
    platform::HardwareAddress sender = 0;  // the card it came from; 0 when not known
    bool disowned = false;                 // the card contradicts the MAC the report claims
};

// The rule, with what it has learnt of each camera's card since it was made:
// a report is hearsay when its card is known and either
//   - another card has been the camera's before (a camera keeps its card when
//     its address changes), or
//   - the card is not the MAC it claims and answers for no other address (a
//     bridge, a router answering for the addresses behind it, several cameras
//     behind one card: these answer for several, and are believed).
// A report from the card it claims is always the camera's own: only a host
// that forges its hardware address can send one. A card that is another
// camera's own, known as such, is taken for a neighbour entry not yet renewed
// after two cameras swapped addresses, or for the one entry of an address
// several cameras hold (fresh from the factory), and said nothing of. Safe to
// use from several threads.
class HardwareWitness {
public:
    // The most cameras whose card is remembered; beyond it the rule learns no
    // more cards (it still judges by those it knows).
    static constexpr size_t kRemembered = 65536;

    // The verdict on a report claiming the MAC claimedMac that came from
    // sender (IPv4, host byte order); learns the camera's card from a report
    // it believes.
    HardwareVerdict Judge(std::string_view claimedMac, uint32_t sender);
    // The same with the table's answer for the sender given.
    HardwareVerdict Judge(std::string_view claimedMac, const platform::NeighbourSighting& sighting);
    // The card the table holds for sender; 0 when not known.
    platform::HardwareAddress CardOf(uint32_t sender);

private:
    platform::NeighbourCache m_neighbours;
    std::mutex m_mutex;
    std::unordered_map<platform::HardwareAddress, platform::HardwareAddress> m_cardOf;  // claimed MAC -> card
};

} // namespace lynx::protocol
