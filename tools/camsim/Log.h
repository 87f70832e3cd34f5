// One line per event on stderr, when asked for; safe from any thread. A test
// may take the lines instead (the sink gets each whole line, without its end).
#pragma once

#include <functional>
#include <string>

namespace camsim {

class Log {
public:
    using Sink = std::function<void(const std::string&)>;

    explicit Log(bool verbose, Sink sink = {}) : m_verbose(verbose), m_sink(std::move(sink)) {}
    bool verbose() const { return m_verbose; }
    void Event(const std::string& line) const;   // only with --verbose
    void Always(const std::string& line) const;  // errors and timing lines

private:
    bool m_verbose;
    Sink m_sink;
};

} // namespace camsim
