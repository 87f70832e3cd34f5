// The PC's network cards as a test gives them, in place of the machine's,
// for whatever judges a camera by the subnets of the PC's cards
// (site::CardSubnets); the machine's again at the end of the scope.
#pragma once

#include "site/Unreachable.h"

#include <initializer_list>
#include <string>
#include <tuple>
#include <vector>

namespace lynx::test {

class PcCards {
public:
    // Each card: its name, its address and the length of its subnet's prefix.
    PcCards(std::initializer_list<std::tuple<const char*, const char*, unsigned>> cards)
    {
        std::vector<platform::Ipv4Interface> list;
        for (const auto& [name, address, prefix] : cards) {
            platform::Ipv4Interface card;
            card.name = name;
            card.address = address;
            card.prefixLength = prefix;
            card.up = card.broadcast = true;
            list.push_back(card);
        }
        m_previous = site::SetCardsProvider([list] { return list; });
    }
    ~PcCards() { site::SetCardsProvider(m_previous); }
    PcCards(const PcCards&) = delete;
    PcCards& operator=(const PcCards&) = delete;

private:
    site::CardsProvider m_previous;
};

} // namespace lynx::test
