#include "protocol/DatagramInbox.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>

namespace lynx::protocol {

namespace {

// What the preparing thread hands over at once: the owner starts on a burst's
// first reports while the rest are still being prepared, and a Drop never
// waits for more than this many preparations.
constexpr size_t kPrepareChunk = 64;

} // namespace

DatagramInbox::DatagramInbox(Wake wake, Prepare prepare) : m_prepare(std::move(prepare))
{
    if (wake == Wake::EventFd)
        m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_prepare)
        m_preparer = std::thread([this] { PrepareLoop(); });
}

DatagramInbox::~DatagramInbox()
{
    if (m_preparer.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_arrived.notify_all();
        m_preparer.join();
    }
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

size_t DatagramInbox::Charge(const Datagram& datagram)
{
    return sizeof(Datagram) + datagram.body.size() + (datagram.report ? sizeof(DeviceRecord) : 0);
}

void DatagramInbox::WakeOwnerLocked()
{
    // Written under the lock: the owner closes the fd only once no callback
    // can post any more and the preparing thread has ended, and never while
    // one is inside.
    if (m_wakeFd >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t written = ::write(m_wakeFd, &one, sizeof one);
    }
    m_ready.notify_all();
}

void DatagramInbox::Post(Datagram datagram)
{
    std::lock_guard lock(m_mutex);
    // A flood that outruns the owner must not take the PC's memory: what
    // finds the queue full is dropped, as the kernel drops what finds the
    // socket's buffer full.
    const size_t bytes = Charge(datagram);
    if (m_queuedBytes + bytes > kMaxQueuedBytes) {
        ++m_dropped;
        return;
    }
    m_queuedBytes += bytes;
    const bool first = m_queue.empty();
    m_queue.push_back(std::move(datagram));
    if (!first)
        return;
    if (m_prepare)
        m_arrived.notify_one();
    else
        WakeOwnerLocked();
}

void DatagramInbox::PrepareLoop()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_arrived.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
        if (m_stopping)
            return;
        std::vector<Datagram> taken;
        taken.swap(m_queue);
        m_takenGeneration = m_generation;
        m_drops.clear();  // every drop so far has seen what it took
        lock.unlock();
        std::vector<size_t> charges;
        for (size_t begin = 0; begin < taken.size(); begin += kPrepareChunk) {
            const size_t end = std::min(taken.size(), begin + kPrepareChunk);
            charges.clear();
            for (size_t i = begin; i < end; ++i) {
                charges.push_back(Charge(taken[i]));
                m_prepare(taken[i]);
            }
            lock.lock();
            const bool wasEmpty = m_prepared.empty();
            for (size_t i = begin; i < end; ++i) {
                m_queuedBytes -= charges[i - begin];
                Datagram& datagram = taken[i];
                // A drop made while it was being prepared forgets it as one
                // made before it arrived would have.
                const bool dropped = std::any_of(m_drops.begin(), m_drops.end(), [&](const auto& drop) {
                    return drop.first > m_takenGeneration && drop.second(datagram);
                });
                if (dropped)
                    continue;
                m_queuedBytes += Charge(datagram);
                m_prepared.push_back(std::move(datagram));
            }
            if (wasEmpty && !m_prepared.empty())
                WakeOwnerLocked();
            if (m_stopping)
                return;
            if (end < taken.size())
                lock.unlock();
        }
    }
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
    const std::vector<Datagram>& waiting = m_prepare ? m_prepared : m_queue;
    return m_ready.wait_until(lock, deadline, [&waiting] { return !waiting.empty(); });
}

bool DatagramInbox::Apply(const std::function<void(Datagram&)>& apply, std::chrono::nanoseconds budget)
{
    // More is taken only once what was taken is applied: the two together
    // stay within twice the queue's bound.
    if (m_taken.empty()) {
        std::vector<Datagram> arrived;
        {
            std::lock_guard lock(m_mutex);
            std::vector<Datagram>& waiting = m_prepare ? m_prepared : m_queue;
            for (const Datagram& datagram : waiting)
                m_queuedBytes -= Charge(datagram);
            arrived.swap(waiting);
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
    return !(m_prepare ? m_prepared : m_queue).empty();
}

void DatagramInbox::Drop(const std::function<bool(const Datagram&)>& drop)
{
    {
        std::lock_guard lock(m_mutex);
        const auto forget = [&](const Datagram& datagram) {
            if (!drop(datagram))
                return false;
            m_queuedBytes -= Charge(datagram);
            return true;
        };
        std::erase_if(m_queue, forget);
        std::erase_if(m_prepared, forget);
        ++m_generation;
        if (m_prepare)
            m_drops.emplace_back(m_generation, drop);
    }
    std::erase_if(m_taken, drop);
}

} // namespace lynx::protocol
