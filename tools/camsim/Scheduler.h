// Runs small tasks at a later time on one thread of its own: delayed answers,
// the end of a restart, the end of an install. Tasks still waiting when the
// scheduler stops are dropped.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <queue>
#include <thread>
#include <vector>

namespace camsim {

class Scheduler {
public:
    using Clock = std::chrono::steady_clock;

    Scheduler();
    ~Scheduler();
    Scheduler(const Scheduler&) = delete;
    Scheduler& operator=(const Scheduler&) = delete;

    void At(Clock::time_point when, std::function<void()> task);
    void After(std::chrono::milliseconds delay, std::function<void()> task) { At(Clock::now() + delay, std::move(task)); }
    // Drops what waits and joins the thread; a task that runs is finished first.
    void Stop();

private:
    struct Entry {
        Clock::time_point when;
        uint64_t order;
        std::function<void()> task;
    };
    struct Later {
        bool operator()(const Entry& a, const Entry& b) const
        {
            return a.when != b.when ? a.when > b.when : a.order > b.order;
        }
    };

    void Run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::priority_queue<Entry, std::vector<Entry>, Later> m_queue;
    uint64_t m_nextOrder = 0;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace camsim
