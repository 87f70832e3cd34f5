// The neighbour table on Linux: one RTM_GETNEIGH dump over netlink, as
// `ip -4 neigh` reads it.
#include "platform/NeighbourTable.h"

#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <cstring>

namespace lynx::platform {

namespace {

// The states in which an entry's hardware address is the card that last
// answered for the address.
constexpr uint16_t kKnownStates = NUD_REACHABLE | NUD_STALE | NUD_DELAY | NUD_PROBE | NUD_PERMANENT | NUD_NOARP;

class NetlinkSocket {
public:
    NetlinkSocket() : m_fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE))
    {
        // A dump of the kernel's own table answers at once; never wait long.
        const timeval limit{0, 200000};
        if (m_fd >= 0)
            ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    }
    ~NetlinkSocket()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    NetlinkSocket(const NetlinkSocket&) = delete;
    NetlinkSocket& operator=(const NetlinkSocket&) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

bool RequestDump(int fd)
{
    struct {
        nlmsghdr header;
        ndmsg body;
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(ndmsg));
    request.header.nlmsg_type = RTM_GETNEIGH;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = 1;
    request.body.ndm_family = AF_INET;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    return ::sendto(fd, &request, request.header.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) ==
           static_cast<ssize_t>(request.header.nlmsg_len);
}

// One entry of the dump; false when it holds no usable address.
bool ReadEntry(const nlmsghdr* message, Neighbour& entry)
{
    const auto* body = static_cast<const ndmsg*>(NLMSG_DATA(message));
    if (body->ndm_family != AF_INET || !(body->ndm_state & kKnownStates))
        return false;
    int left = static_cast<int>(RTM_PAYLOAD(message));
    bool haveIp = false, haveHardware = false;
    for (const rtattr* a = RTM_RTA(body); RTA_OK(a, left); a = RTA_NEXT(a, left)) {
        if (a->rta_type == NDA_DST && RTA_PAYLOAD(a) == 4) {
            uint32_t network = 0;
            std::memcpy(&network, RTA_DATA(a), 4);
            entry.ipv4 = ntohl(network);
            haveIp = true;
        } else if (a->rta_type == NDA_LLADDR && RTA_PAYLOAD(a) == 6) {
            const auto* bytes = static_cast<const unsigned char*>(RTA_DATA(a));
            entry.hardware = 0;
            for (int i = 0; i < 6; ++i)
                entry.hardware = (entry.hardware << 8) | bytes[i];
            haveHardware = entry.hardware != 0;
        }
    }
    return haveIp && haveHardware;
}

} // namespace

std::vector<Neighbour> ReadSystemNeighbourTable()
{
    std::vector<Neighbour> table;
    NetlinkSocket socket;
    if (socket.fd() < 0 || !RequestDump(socket.fd()))
        return table;
    alignas(nlmsghdr) char buffer[32768];
    for (;;) {
        const ssize_t n = ::recv(socket.fd(), buffer, sizeof buffer, 0);
        if (n <= 0)
            return table;
        int left = static_cast<int>(n);
        for (auto* m = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(m, left); m = NLMSG_NEXT(m, left)) {
            if (m->nlmsg_type == NLMSG_DONE || m->nlmsg_type == NLMSG_ERROR)
                return table;
            Neighbour entry;
            if (m->nlmsg_type == RTM_NEWNEIGH && ReadEntry(m, entry))
                table.push_back(entry);
        }
    }
}

} // namespace lynx::platform
