#include "platform/NeighbourTable.h"

#include "platform/Seam.h"

#include <cctype>
#include <cstdio>

namespace lynx::platform {

using Handler = Seam<NeighbourTableHandler, struct NeighbourTableService>;

std::string HardwareText(HardwareAddress hardware)
{
    if (hardware == 0)
        return {};
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", static_cast<unsigned>(hardware >> 40) & 255,
                  static_cast<unsigned>(hardware >> 32) & 255, static_cast<unsigned>(hardware >> 24) & 255,
                  static_cast<unsigned>(hardware >> 16) & 255, static_cast<unsigned>(hardware >> 8) & 255,
                  static_cast<unsigned>(hardware) & 255);
    return text;
}

HardwareAddress ParseHardware(std::string_view text)
{
    HardwareAddress value = 0;
    int digits = 0;
    for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (std::isxdigit(u)) {
            if (++digits > 12)
                return 0;
            value = (value << 4) | static_cast<HardwareAddress>(std::isdigit(u) ? u - '0' : std::tolower(u) - 'a' + 10);
        } else if (c != ':' && c != '-' && c != '.') {
            return 0;
        }
    }
    return digits == 12 ? value : 0;
}

NeighbourTableHandler SetNeighbourTableHandler(NeighbourTableHandler handler)
{
    return Handler::Replace(std::move(handler));
}

std::vector<Neighbour> ReadNeighbourTable()
{
    if (Handler::Current())
        return Handler::Current()();
    return ReadSystemNeighbourTable();
}

NeighbourSighting NeighbourCache::Lookup(uint32_t ipv4)
{
    std::lock_guard lock(m_mutex);
    const Clock::time_point now = Clock::now();
    auto found = m_byAddress.find(ipv4);
    const bool stale = !m_readAt || now - *m_readAt >= kFreshFor;
    if ((found == m_byAddress.end() || stale) && (!m_readAt || now - *m_readAt >= kRefreshEvery)) {
        Refresh(now);
        found = m_byAddress.find(ipv4);
    }
    if (found == m_byAddress.end())
        return {};
    return {found->second, m_addressesAt[found->second]};
}

uint64_t NeighbourCache::Reads() const
{
    std::lock_guard lock(m_mutex);
    return m_reads;
}

void NeighbourCache::Refresh(Clock::time_point now)
{
    m_byAddress.clear();
    m_addressesAt.clear();
    for (const Neighbour& entry : ReadNeighbourTable()) {
        if (entry.hardware == 0 || !m_byAddress.emplace(entry.ipv4, entry.hardware).second)
            continue;
        ++m_addressesAt[entry.hardware];
    }
    m_readAt = now;
    ++m_reads;
}

} // namespace lynx::platform
