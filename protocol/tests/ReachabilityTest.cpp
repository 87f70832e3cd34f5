#include "protocol/Reachability.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using lynx::platform::Ipv4Interface;
using namespace lynx::protocol;

namespace {

Ipv4Interface Card(const char* name, const char* address, unsigned prefix, bool up = true, bool loopback = false)
{
    Ipv4Interface card;
    card.name = name;
    card.address = address;
    card.prefixLength = prefix;
    card.up = up;
    card.loopback = loopback;
    card.broadcast = !loopback;
    return card;
}

// The names and addresses of the cards a reason names, "eth0 10.1.2.100/24".
std::vector<std::string> Named(const Reachability& reach)
{
    std::vector<std::string> named;
    for (const Ipv4Interface& card : reach.named)
        named.push_back(card.name + " " + card.address + "/" + std::to_string(card.prefixLength));
    return named;
}

const std::vector<Ipv4Interface> kSitePc = {
    Card("lo", "127.0.0.1", 8, true, true),
    Card("eth0", "192.168.50.100", 24),
    Card("eth1", "10.1.2.100", 24),
    Card("eth1", "172.20.0.9", 16),
    Card("eth2", "192.168.0.10", 24, false),  // down: its subnet reaches nothing
};

} // namespace

TEST(Reachability, AnAddressInTheSubnetOfSomeCardThatIsUpIsReachable)
{
    const struct {
        const char* ip;
        std::vector<Ipv4Interface> cards;
        bool reachable;
    } cases[] = {
        {"10.1.2.7", kSitePc, true},
        {"192.168.50.254", kSitePc, true},
        {"172.20.255.1", kSitePc, true},   // the second address of a card, a /16
        {"10.1.3.7", kSitePc, false},      // next door to a /24
        {"192.168.0.64", kSitePc, false},  // in the subnet of a card that is down
        {"127.0.0.2", kSitePc, true},      // loopback is a subnet the PC reaches
        {"not an address", kSitePc, false},
        {"", kSitePc, false},
        {"10.1.2.100", {Card("tun0", "10.1.2.100", 32)}, true},  // a /32 holds its own address...
        {"10.1.2.101", {Card("tun0", "10.1.2.100", 32)}, false}, // ... and no other
        {"203.0.113.9", {Card("eth0", "10.0.0.1", 0)}, true},    // a /0 holds everything
        {"203.0.113.9", {Card("eth0", "10.0.0.1", 1)}, false},   // a /1 half of it
        {"100.0.0.1", {Card("eth0", "10.0.0.1", 1)}, true},
        {"10.1.2.7", {}, false},                                 // a PC without cards
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReachabilityOf(c.ip, {}, c.cards).reachable, c.reachable) << c.ip;
}

TEST(Reachability, TheReasonNamesTheCardTheReportCameInOnElseThePcsCards)
{
    ReportArrival onEth1;
    onEth1.interfaceName = "eth1";
    onEth1.localAddress = "10.1.2.100";
    ReportArrival onGoneCard;
    onGoneCard.interfaceName = "eth9";
    const std::vector<Ipv4Interface> loopbackOnly = {Card("lo", "127.0.0.1", 8, true, true)};
    const struct {
        const char* what;
        ReportArrival arrival;
        std::vector<Ipv4Interface> cards;
        std::vector<std::string> named;
    } cases[] = {
        {"its card, with each of its addresses", onEth1, kSitePc, {"eth1 10.1.2.100/24", "eth1 172.20.0.9/16"}},
        {"card not known: the cards that are up, loopback left out", {}, kSitePc,
         {"eth0 192.168.50.100/24", "eth1 10.1.2.100/24", "eth1 172.20.0.9/16"}},
        {"card gone since", onGoneCard, kSitePc, {"eth0 192.168.50.100/24", "eth1 10.1.2.100/24", "eth1 172.20.0.9/16"}},
        {"loopback alone is still named", {}, loopbackOnly, {"lo 127.0.0.1/8"}},
        {"no card at all", onEth1, {}, {}},
    };
    for (const auto& c : cases) {
        const Reachability reach = ReachabilityOf("192.168.0.64", c.arrival, c.cards);
        EXPECT_FALSE(reach.reachable) << c.what;
        EXPECT_EQ(Named(reach), c.named) << c.what;
    }
    EXPECT_TRUE(ReachabilityOf("10.1.2.7", onEth1, kSitePc).named.empty()) << "a reachable camera names nothing";
}
