#include "protocol/DatagramInbox.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>

namespace lynx::protocol {

DatagramInbox::DatagramInbox(Wake wake)
{
    if (wake == Wake::EventFd)
        m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

DatagramInbox::~DatagramInbox()
{
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

void DatagramInbox::Post(Datagram datagram)
{
    bool first;
    {
        std::lock_guard lock(m_mutex);
        first = m_queue.empty();
        m_queue.push_back(std::move(datagram));
        // Written under the lock: the owner closes the fd only once no
        // callback can post any more, and never while one is inside.
        if (first && m_wakeFd >= 0) {
            const uint64_t one = 1;
            [[maybe_unused]] ssize_t written = ::write(m_wakeFd, &one, sizeof one);
        }
    }
    if (first)
        m_ready.notify_all();
}

void DatagramInbox::ClearWake()
{
    if (m_wakeFd < 0)
        return;
    uint64_t count = 0;
    [[maybe_unused]] ssize_t got = ::read(m_wakeFd, &count, sizeof count);
}

bool DatagramInbox::WaitUntil(Clock::time_point deadline)
{
    if (!m_taken.empty())
        return true;
    std::unique_lock lock(m_mutex);
    return m_ready.wait_until(lock, deadline, [this] { return !m_queue.empty(); });
}

bool DatagramInbox::Apply(const std::function<void(Datagram&)>& apply, std::chrono::nanoseconds budget)
{
    {
        std::vector<Datagram> arrived;
        {
            std::lock_guard lock(m_mutex);
            arrived.swap(m_queue);
        }
        for (Datagram& datagram : arrived)
            m_taken.push_back(std::move(datagram));
    }
    const Clock::time_point start = Clock::now();
    while (!m_taken.empty()) {
        Datagram datagram = std::move(m_taken.front());
        m_taken.pop_front();
        apply(datagram);
        if (!m_taken.empty() && Clock::now() - start >= budget)
            return true;
    }
    return false;
}

void DatagramInbox::Drop(const std::function<bool(const Datagram&)>& drop)
{
    {
        std::lock_guard lock(m_mutex);
        std::erase_if(m_queue, drop);
    }
    std::erase_if(m_taken, drop);
}

} // namespace lynx::protocol
