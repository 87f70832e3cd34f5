#include "cli/OptionReader.h"

#include "cli/InterfaceOption.h"
#include "platform/Numbers.h"
#include "protocol/SearchTiming.h"

#include <algorithm>

namespace lynx::cli {

bool OptionReader::Next()
{
    if (Failed() || m_next >= m_args.size())
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

bool OptionReader::Fail(std::string message)
{
    if (!Failed())
        m_error = std::move(message);
    return false;
}

bool OptionReader::Flag(bool& flag, bool value)
{
    if (m_hasInlineValue)
        return Fail(OptionMessage("%1 takes no value", m_name));
    flag = value;
    return true;
}

bool OptionReader::Append(std::vector<std::string>& values)
{
    if (!m_hasInlineValue && m_next < m_args.size())
        m_value = m_args[m_next++];
    if (m_value.empty())
        return Fail(OptionMessage("%1 needs a value", m_name));
    values.push_back(m_value);
    return true;
}

bool OptionReader::Value(std::string& value)
{
    if (!m_given.insert(m_name).second)
        return Fail(OptionMessage("%1 given twice", m_name));
    std::vector<std::string> taken;
    if (!Append(taken))
        return false;
    value = taken.front();
    return true;
}

bool OptionReader::Following(std::string& value)
{
    if (m_hasInlineValue || m_next >= m_args.size() || m_args[m_next].rfind("--", 0) == 0)
        return false;
    value = m_args[m_next++];
    return true;
}

bool OptionReader::ReadNumber(long long& value, long long least, long long most)
{
    std::string text;
    if (!Value(text))
        return false;
    const std::optional<long long> n = platform::WholeNumber(text);
    if (!n || *n < least)
        return Fail(least == LLONG_MIN
                        ? OptionMessage("%1 takes a whole number, not '%2'", m_name, text)
                        : OptionMessage("%1 takes a whole number of at least %2, not '%3'", m_name, std::to_string(least), text));
    value = std::min(*n, most);
    return true;
}

bool OptionReader::Seconds(int& value, long long least)
{
    long long n = 0;
    if (!ReadNumber(n, least, protocol::kMaxSearchSeconds))
        return false;
    value = static_cast<int>(std::max(n, 1LL));
    return true;
}

bool OptionReader::Interface(std::vector<std::string>& names)
{
    if (!Append(names))
        return false;
    std::string error;
    return CheckInterfaceNames({names.back()}, &error) || Fail(error);
}

bool OptionReader::Unknown()
{
    return Fail(OptionMessage("unknown option '%1'", m_name));
}

bool OptionReader::Require(std::initializer_list<std::pair<std::string_view, const std::string*>> options)
{
    for (const auto& [name, value] : options)
        if (value->empty())
            return Fail(OptionMessage("%1 is required", std::string(name)));
    return true;
}

bool OptionReader::ValueOf(std::initializer_list<std::pair<std::string_view, std::string*>> options)
{
    for (const auto& [name, value] : options) {
        if (Is(name)) {
            Value(*value);
            return true;
        }
    }
    return false;
}

bool OptionReader::Shared(std::vector<std::string>& interfaces, bool& help)
{
    if (Is("--interface"))
        Interface(interfaces);
    else if (IsHelp())
        Flag(help);
    else
        return false;
    return true;
}

} // namespace lynx::cli
