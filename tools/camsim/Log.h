// One line per event on stderr, when asked for; safe from any thread.
#pragma once

#include <string>

namespace camsim {

class Log {
public:
    explicit Log(bool verbose) : m_verbose(verbose) {}
    bool verbose() const { return m_verbose; }
    void Event(const std::string& line) const;   // only with --verbose
    void Always(const std::string& line) const;  // errors and timing lines

private:
    bool m_verbose;
};

} // namespace camsim
