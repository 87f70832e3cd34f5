#include "protocol/DatagramInbox.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>

namespace lynx::protocol {

DatagramInbox::DatagramInbox(Wake wake, Prepare prepare) : m_prepare(std::move(prepare))
{
    if (wake == Wake::EventFd)
        m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

DatagramInbox::~DatagramInbox()
{
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

size_t DatagramInbox::Charge(const Datagram& datagram)
{
    return sizeof(Datagram) + datagram.body.size() + (datagram.report ? sizeof(DeviceRecord) : 0);
}

void DatagramInbox::Post(Datagram datagram)
{
    uint64_t generation = 0;
    if (m_prepare) {
        {
            std::lock_guard lock(m_mutex);
            generation = m_generation;
            ++m_preparing;
        }
        m_prepare(datagram);
    }
    bool first;
    {
        std::lock_guard lock(m_mutex);
        if (m_prepare) {
            // A drop made while it was being prepared forgets it as one made
            // after it was queued would have.
            const bool dropped = std::any_of(m_drops.begin(), m_drops.end(), [&](const auto& drop) {
                return drop.first > generation && drop.second(datagram);
            });
            if (--m_preparing == 0)
                m_drops.clear();
            if (dropped)
                return;
        }
        // A flood that outruns the owner must not take the PC's memory: what
        // finds the queue full is dropped, as the kernel drops what finds the
        // socket's buffer full.
        const size_t bytes = Charge(datagram);
        if (m_queuedBytes + bytes > kMaxQueuedBytes) {
            ++m_dropped;
            return;
        }
        m_queuedBytes += bytes;
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

uint64_t DatagramInbox::Dropped() const
{
    std::lock_guard lock(m_mutex);
    return m_dropped;
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
    // More is taken only once what was taken is applied: the two together
    // stay within twice the queue's bound.
    if (m_taken.empty()) {
        std::vector<Datagram> arrived;
        {
            std::lock_guard lock(m_mutex);
            arrived.swap(m_queue);
            m_queuedBytes = 0;
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
    std::lock_guard lock(m_mutex);
    return !m_queue.empty();
}

void DatagramInbox::Drop(const std::function<bool(const Datagram&)>& drop)
{
    {
        std::lock_guard lock(m_mutex);
        std::erase_if(m_queue, drop);
        m_queuedBytes = 0;
        for (const Datagram& datagram : m_queue)
            m_queuedBytes += Charge(datagram);
        ++m_generation;
        if (m_preparing > 0)
            m_drops.emplace_back(m_generation, drop);
    }
    std::erase_if(m_taken, drop);
}

} // namespace lynx::protocol
