// The cameras' TCP port 8021: the tool connects to it only to learn which of
// its own addresses reaches a camera, so every connection is accepted and
// closed at once. One thread serves the listening sockets of all cameras.
#pragma once

#include "Log.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace camsim {

class ProbeListener {
public:
    ProbeListener(uint16_t port, const Log& log);
    ~ProbeListener();
    ProbeListener(const ProbeListener&) = delete;
    ProbeListener& operator=(const ProbeListener&) = delete;

    bool Start();
    void Stop();
    // Listens on ip:port; false when the address cannot be bound (not local).
    bool Open(const std::string& ip);
    void Close(const std::string& ip);
    size_t Count() const;

private:
    void Run();
    void Wake();

    uint16_t m_port;
    const Log& m_log;
    int m_wakeFd = -1;
    mutable std::mutex m_mutex;
    std::map<std::string, int> m_sockets;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace camsim
