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
    std::lock_guard lock(g_lineMutex);
    std::fprintf(stderr, "camsim %lld.%03lld %s\n", static_cast<long long>(ms / 1000),
                 static_cast<long long>(ms % 1000), line.c_str());
    std::fflush(stderr);
}

} // namespace camsim
