// Walks a command's arguments as options: "--name value" or "--name=value".
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace lynx::cli {

class OptionReader {
public:
    explicit OptionReader(const std::vector<std::string>& args) : m_args(args) {}

    // Moves to the next argument; false when there is none.
    bool Next()
    {
        if (m_next >= m_args.size())
            return false;
        m_name = m_args[m_next++];
        m_value.clear();
        m_hasInlineValue = false;
        if (auto eq = m_name.find('='); m_name.rfind("--", 0) == 0 && eq != std::string::npos) {
            m_value = m_name.substr(eq + 1);
            m_name.resize(eq);
            m_hasInlineValue = true;
        }
        return true;
    }

    // The option as given, without its "=value".
    const std::string& Name() const { return m_name; }
    bool HasInlineValue() const { return m_hasInlineValue; }

    // The option's value: after its '=', else the next argument. False, with
    // the reason in error, when there is none.
    bool TakeValue(std::string& value, std::string* error)
    {
        if (m_hasInlineValue) {
            value = m_value;
            return true;
        }
        if (m_next >= m_args.size()) {
            *error = m_name + " needs a value";
            return false;
        }
        value = m_args[m_next++];
        return true;
    }

    // The next argument when it is not an option (a list after one option).
    bool TakeFollowing(std::string& value)
    {
        if (m_next >= m_args.size() || m_args[m_next].rfind("--", 0) == 0)
            return false;
        value = m_args[m_next++];
        return true;
    }

private:
    const std::vector<std::string>& m_args;
    std::size_t m_next = 0;
    std::string m_name;
    std::string m_value;
    bool m_hasInlineValue = false;
};

} // namespace lynx::cli
