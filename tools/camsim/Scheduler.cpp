#include "Scheduler.h"

namespace camsim {

Scheduler::Scheduler() : m_thread([this] { Run(); }) {}

Scheduler::~Scheduler()
{
    Stop();
}

void Scheduler::At(Clock::time_point when, std::function<void()> task)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping)
            return;
        m_queue.push(Entry{when, m_nextOrder++, std::move(task)});
    }
    m_wake.notify_one();
}

void Scheduler::Stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_queue = {};
    }
    m_wake.notify_one();
    if (m_thread.joinable())
        m_thread.join();
}

void Scheduler::Run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (m_stopping)
            return;
        if (m_queue.empty()) {
            m_wake.wait(lock);
            continue;
        }
        auto when = m_queue.top().when;
        if (Clock::now() < when) {
            m_wake.wait_until(lock, when);
            continue;
        }
        std::function<void()> task = std::move(const_cast<Entry&>(m_queue.top()).task);
        m_queue.pop();
        lock.unlock();
        task();
        lock.lock();
    }
}

} // namespace camsim
