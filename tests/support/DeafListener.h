// A TCP listener that never accepts, for tests of a client's bounded end: a
// broker whose accept queue is full. Linux answers no SYN while the queue
// is full, so a client's connect hangs as it would on a real overloaded host.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

namespace lynx::test {

class DeafListener {
public:
    // Listening on ip with room for exactly one connection in its queue;
    // filled: that room already taken, so that no SYN is answered at all.
    DeafListener(const std::string& ip, bool filled)
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        ::inet_pton(AF_INET, ip.c_str(), &address.sin_addr);
        socklen_t length = sizeof address;
        m_ok = m_listener >= 0 && ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
               ::listen(m_listener, 0) == 0 &&
               ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) == 0;
        m_port = ntohs(address.sin_port);
        if (m_ok && filled) {
            const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            m_ok = filler >= 0 && ::connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
            m_fillers.push_back(filler);
        }
    }
    ~DeafListener()
    {
        for (int fd : m_fillers)
            if (fd >= 0)
                ::close(fd);
        if (m_listener >= 0)
            ::close(m_listener);
    }
    DeafListener(const DeafListener&) = delete;
    DeafListener& operator=(const DeafListener&) = delete;

    bool ok() const { return m_ok; }
    uint16_t port() const { return m_port; }

private:
    int m_listener = -1;
    std::vector<int> m_fillers;
    uint16_t m_port = 0;
    bool m_ok = false;
};

} // namespace lynx::test
