#include "ProbeListener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

namespace camsim {

ProbeListener::ProbeListener(uint16_t port, const Log& log) : m_port(port), m_log(log) {}

ProbeListener::~ProbeListener()
{
    Stop();
}

bool ProbeListener::Start()
{
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wakeFd < 0)
        return false;
    m_thread = std::thread([this] { Run(); });
    return true;
}

void ProbeListener::Stop()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping && !m_thread.joinable())
            return;
        m_stopping = true;
    }
    Wake();
    if (m_thread.joinable())
        m_thread.join();
    std::lock_guard lock(m_mutex);
    for (auto& [ip, fd] : m_sockets)
        ::close(fd);
    m_sockets.clear();
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
    m_wakeFd = -1;
}

void ProbeListener::Wake()
{
    if (m_wakeFd >= 0) {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(m_wakeFd, &one, sizeof one);
    }
}

bool ProbeListener::Open(const std::string& ip)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(m_port);
    if (::inet_pton(AF_INET, ip.c_str(), &address.sin_addr) != 1)
        return false;
    {
        std::lock_guard lock(m_mutex);
        if (m_sockets.count(ip))
            return true;
    }
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 64) != 0) {
        ::close(fd);
        return false;
    }
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping) {
            ::close(fd);
            return false;
        }
        m_sockets[ip] = fd;
    }
    Wake();
    return true;
}

void ProbeListener::Close(const std::string& ip)
{
    std::lock_guard lock(m_mutex);
    auto it = m_sockets.find(ip);
    if (it == m_sockets.end())
        return;
    // Closed under the lock: the serving thread only touches descriptors it
    // took under the same lock, and rebuilds its set after the wake-up.
    ::shutdown(it->second, SHUT_RDWR);
    ::close(it->second);
    m_sockets.erase(it);
    Wake();
}

size_t ProbeListener::Count() const
{
    std::lock_guard lock(m_mutex);
    return m_sockets.size();
}

void ProbeListener::Run()
{
    std::vector<pollfd> fds;
    for (;;) {
        fds.clear();
        fds.push_back({m_wakeFd, POLLIN, 0});
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping)
                return;
            for (auto& [ip, fd] : m_sockets)
                fds.push_back({fd, POLLIN, 0});
        }
        if (::poll(fds.data(), fds.size(), -1) < 0)
            continue;
        if (fds[0].revents) {
            uint64_t count;
            [[maybe_unused]] ssize_t n = ::read(m_wakeFd, &count, sizeof count);
            continue;  // the set may have changed: rebuild it first
        }
        std::lock_guard lock(m_mutex);
        for (size_t i = 1; i < fds.size(); ++i) {
            if (!(fds[i].revents & POLLIN))
                continue;
            bool stillOurs = false;
            for (auto& [ip, fd] : m_sockets)
                stillOurs = stillOurs || fd == fds[i].fd;
            if (!stillOurs)
                continue;
            int client;
            while ((client = ::accept4(fds[i].fd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0)
                ::close(client);
        }
    }
}

} // namespace camsim
