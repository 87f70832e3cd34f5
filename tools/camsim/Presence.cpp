#include "Presence.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <stdexcept>

namespace camsim {

namespace {

std::optional<long long> WholeNumber(const std::string& text, long long low, long long high)
{
    long long value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < low || value > high)
        return std::nullopt;
    return value;
}

constexpr long long kLongestMs = 24LL * 3600 * 1000;

int Millis(const std::string& option, const std::string& whole, const std::string& text)
{
    auto value = WholeNumber(text, 0, kLongestMs);
    if (!value)
        throw std::invalid_argument(option + " '" + whole + "': '" + text +
                                    "' is not a time in milliseconds (0 to 86400000)");
    return static_cast<int>(*value);
}

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    size_t begin = 0;
    for (;;) {
        size_t end = text.find(separator, begin);
        parts.push_back(text.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
        if (end == std::string::npos)
            return parts;
        begin = end + 1;
    }
}

// The twelve hex digits of a MAC, upper case, whatever separated them.
std::string MacDigits(const std::string& mac)
{
    std::string digits;
    for (char c : mac)
        if (std::isxdigit(static_cast<unsigned char>(c)))
            digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        else if (c != ':' && c != '-' && c != '.')
            return {};
    return digits.size() == 12 ? digits : std::string();
}

} // namespace

std::vector<LeaveSpec> ParseLeaveSpecs(const std::string& text)
{
    std::vector<LeaveSpec> specs;
    for (const std::string& one : Split(text, ',')) {
        const size_t at = one.find('@');
        if (at == std::string::npos || at == 0)
            throw std::invalid_argument("--leave '" + one + "': write WHO@AT[+FOR] (WHO a camera's number or MAC, "
                                        "AT and FOR in milliseconds)");
        LeaveSpec spec;
        spec.who = one.substr(0, at);
        const size_t plus = one.find('+', at);
        spec.atMs = Millis("--leave", one, one.substr(at + 1, plus == std::string::npos ? plus : plus - at - 1));
        if (plus != std::string::npos)
            spec.forMs = Millis("--leave", one, one.substr(plus + 1));
        if (!WholeNumber(spec.who, 1, 1000000) && MacDigits(spec.who).empty())
            throw std::invalid_argument("--leave '" + one + "': '" + spec.who +
                                        "' is neither a camera's number (1 for the first) nor a MAC");
        specs.push_back(std::move(spec));
    }
    return specs;
}

ChurnSpec ParseChurnSpec(const std::string& text)
{
    const std::vector<std::string> parts = Split(text, ':');
    if (parts.size() != 3 && parts.size() != 4)
        throw std::invalid_argument("--churn '" + text + "': write PERCENT:MINMS:MAXMS[:SEED]");
    ChurnSpec spec;
    const std::string& percent = parts[0];
    auto [end, error] = std::from_chars(percent.data(), percent.data() + percent.size(), spec.percent);
    if (percent.empty() || error != std::errc() || end != percent.data() + percent.size() ||
        !(spec.percent > 0 && spec.percent <= 100))
        throw std::invalid_argument("--churn '" + text + "': the share of cameras is a percentage above 0, at most 100");
    spec.minMs = Millis("--churn", text, parts[1]);
    spec.maxMs = Millis("--churn", text, parts[2]);
    if (spec.minMs < 1 || spec.maxMs < spec.minMs)
        throw std::invalid_argument("--churn '" + text + "': the times need 1 <= MINMS <= MAXMS");
    if (parts.size() == 4) {
        auto seed = WholeNumber(parts[3], 0, UINT32_MAX);
        if (!seed)
            throw std::invalid_argument("--churn '" + text + "': the seed is a number from 0 to 4294967295");
        spec.seed = static_cast<uint32_t>(*seed);
    }
    return spec;
}

std::optional<size_t> FindCamera(const std::string& who, const std::vector<CameraConfig>& cameras)
{
    if (auto number = WholeNumber(who, 1, 1000000))
        return static_cast<size_t>(*number) <= cameras.size() ? std::optional<size_t>(*number - 1) : std::nullopt;
    const std::string wanted = MacDigits(who);
    if (wanted.empty())
        return std::nullopt;
    for (size_t i = 0; i < cameras.size(); ++i)
        if (MacDigits(cameras[i].mac) == wanted)
            return i;
    return std::nullopt;
}

size_t ChurnCount(size_t count, double percent)
{
    return std::min(count, static_cast<size_t>(std::ceil(static_cast<double>(count) * percent / 100.0 - 1e-9)));
}

} // namespace camsim
