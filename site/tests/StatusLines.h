// The lines an MQTT publisher says (broker lost, back, events dropped), kept
// for a test's checks.
#pragma once

#include "site/MqttPublisher.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

namespace lynx::test {

class StatusLines {
public:
    site::MqttPublisher::StatusCallback Callback()
    {
        return [this](const std::string& line) {
            std::lock_guard lock(m_mutex);
            m_lines.push_back(line);
        };
    }
    // How many lines hold part ("" for all of them).
    size_t Count(const std::string& part) const
    {
        std::lock_guard lock(m_mutex);
        return std::count_if(m_lines.begin(), m_lines.end(),
                             [&](const std::string& line) { return line.find(part) != std::string::npos; });
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

} // namespace lynx::test
