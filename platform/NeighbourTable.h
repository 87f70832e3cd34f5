// The PC's neighbour table (ARP): the hardware address the PC holds for an
// IPv4 address on one of its links, as `ip neigh` shows it. A datagram's
// sender address says nothing of where it came from; the table says which
// card last answered for that address. Read through a cache, since it is
// asked once per received report.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace lynx::platform {

// A 48-bit hardware address in its low bits, the first byte highest; 0 is none.
using HardwareAddress = uint64_t;

struct Neighbour {
    uint32_t ipv4 = 0;               // host byte order
    HardwareAddress hardware = 0;
};

// "02:1a:…" in lower case, as `ip neigh` prints it; empty for 0.
std::string HardwareText(HardwareAddress hardware);
// The hardware address in a MAC text of twelve hex digits (any separators or
// none); 0 when the text holds no such address.
HardwareAddress ParseHardware(std::string_view text);

// The entries of the system's table that hold a hardware address (reachable,
// stale, being checked, or fixed), from every link; nothing when the table
// cannot be read. Each system has its own implementation.
std::vector<Neighbour> ReadSystemNeighbourTable();

// The dump behind a seam, for tests: a handler of their own answers instead of
// the system's table (an empty one restores it).
using NeighbourTableHandler = std::function<std::vector<Neighbour>()>;
NeighbourTableHandler SetNeighbourTableHandler(NeighbourTableHandler handler);
// The table as the seam gives it.
std::vector<Neighbour> ReadNeighbourTable();

// What the table says of one sender.
struct NeighbourSighting {
    HardwareAddress hardware = 0;  // 0: the table holds no entry for it
    uint32_t addressesAtHardware = 0;  // how many of the table's IPv4 addresses that card answers for
};

// The table as last read, read again on a miss or once it is older than
// kFreshFor, but never more often than once each kRefreshEvery: a burst of
// reports from thousands of senders costs a few reads, never one each. Safe to
// ask from several threads.
class NeighbourCache {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kRefreshEvery{250};
    static constexpr std::chrono::milliseconds kFreshFor{2000};

    NeighbourSighting Lookup(uint32_t ipv4);
    // How often the table has been read, for tests of the bound.
    uint64_t Reads() const;

private:
    void Refresh(Clock::time_point now);

    mutable std::mutex m_mutex;
    std::unordered_map<uint32_t, HardwareAddress> m_byAddress;
    std::unordered_map<HardwareAddress, uint32_t> m_addressesAt;
    std::optional<Clock::time_point> m_readAt;
    uint64_t m_reads = 0;
};

} // namespace lynx::platform
