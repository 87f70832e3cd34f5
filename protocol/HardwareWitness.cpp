#include "protocol/HardwareWitness.h"

namespace lynx::protocol {

HardwareVerdict HardwareWitness::Judge(std::string_view claimedMac, uint32_t sender)
{
    if (sender == 0)
        return {};
    return Judge(claimedMac, m_neighbours.Lookup(sender));
}

platform::HardwareAddress HardwareWitness::CardOf(uint32_t sender)
{
    return sender == 0 ? 0 : m_neighbours.Lookup(sender).hardware;
}

HardwareVerdict HardwareWitness::Judge(std::string_view claimedMac, const platform::NeighbourSighting& sighting)
{
    const platform::HardwareAddress card = sighting.hardware;
    const platform::HardwareAddress claimed = platform::ParseHardware(claimedMac);
    if (card == 0 || claimed == 0)
        return {card, false};
    std::lock_guard lock(m_mutex);
    const auto learn = [&] {
        if (m_cardOf.size() < kRemembered || m_cardOf.count(claimed))
            m_cardOf[claimed] = card;
    };
    if (card == claimed) {
        learn();
        return {card, false};
    }
    // A card known as another camera's own says nothing of this report: the
    // table's one entry for the address is that camera's, left by two
    // cameras that swapped addresses, or by another camera at the same
    // address (cameras fresh from the factory all answer from one).
    const auto owner = m_cardOf.find(card);
    if (owner != m_cardOf.end() && owner->second == card)
        return {card, false};
    const auto before = m_cardOf.find(claimed);
    if (before != m_cardOf.end() && before->second != card)
        return {card, true};
    if (before == m_cardOf.end() && sighting.addressesAtHardware < 2)
        return {card, true};
    learn();
    return {card, false};
}

} // namespace lynx::protocol
