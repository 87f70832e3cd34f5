#include "upgrade/LocalAddress.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "protocol/Transport.h"

#include <cerrno>

namespace lynx::upgrade {

namespace {

// The dotted local address a socket was given, empty while it has none.
std::string BoundAddress(int fd)
{
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0 || local.sin_addr.s_addr == INADDR_ANY)
        return {};
    char text[INET_ADDRSTRLEN] = {};
    return ::inet_ntop(AF_INET, &local.sin_addr, text, sizeof text) ? text : std::string();
}

} // namespace

std::string LocalAddressTowards(const std::string& deviceIp, int port, std::chrono::milliseconds timeout)
{
    sockaddr_in device{};
    device.sin_family = AF_INET;
    device.sin_port = htons(static_cast<uint16_t>(port));
    if (port <= 0 || port > 65535 || ::inet_pton(AF_INET, deviceIp.c_str(), &device.sin_addr) != 1)
        return {};
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
    if (fd < 0)
        return {};
    // Whether the device accepts does not matter: the kernel picks the local
    // address when the connection is attempted.
    if (::connect(fd, reinterpret_cast<sockaddr*>(&device), sizeof device) != 0 && errno == EINPROGRESS) {
        pollfd wait{fd, POLLOUT, 0};
        int n;
        do {
            n = ::poll(&wait, 1, static_cast<int>(timeout.count()));
        } while (n < 0 && errno == EINTR);
    }
    const std::string address = BoundAddress(fd);
    ::close(fd);
    return address;
}

std::string RouteSourceTowards(const std::string& deviceIp)
{
    sockaddr_in device{};
    device.sin_family = AF_INET;
    device.sin_port = htons(protocol::kProbePort);
    if (::inet_pton(AF_INET, deviceIp.c_str(), &device.sin_addr) != 1)
        return {};
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return {};
    const std::string address =
        ::connect(fd, reinterpret_cast<sockaddr*>(&device), sizeof device) == 0 ? BoundAddress(fd) : std::string();
    ::close(fd);
    return address;
}

LocalAddressFinder::LocalAddressFinder(Probe probe) : m_probe(std::move(probe))
{
    if (!m_probe)
        m_probe = [](const std::string& ip) { return LocalAddressTowards(ip, protocol::kProbePort); };
}

std::string LocalAddressFinder::Towards(const std::string& deviceIp)
{
    const std::string route = RouteSourceTowards(deviceIp);
    if (route.empty())
        return m_probe(deviceIp);
    const auto known = m_byRoute.find(route);
    if (known != m_byRoute.end())
        return known->second;
    const std::string learnt = m_probe(deviceIp);
    m_byRoute.emplace(route, learnt);
    return learnt;
}

} // namespace lynx::upgrade
