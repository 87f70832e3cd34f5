#include "Log.h"

#include <chrono>
#include <cstdio>
#include <mutex>

namespace camsim {

namespace {
std::mutex g_lineMutex;
}

void Log::Event(const std::string& line) const
{
    if (m_verbose)
        Always(line);
}

void Log::Always(const std::string& line) const
{
    using namespace std::chrono;
    auto ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "camsim %lld.%03lld ", static_cast<long long>(ms / 1000),
                  static_cast<long long>(ms % 1000));
    std::lock_guard lock(g_lineMutex);
    if (m_sink) {
        m_sink(stamp + line);
        return;
    }
    std::fprintf(stderr, "%s%s\n", stamp, line.c_str());
    std::fflush(stderr);
}

} // namespace camsim
