// The one reader of every command's options: "--name value" or "--name=value",
// flags without a value, options that may be repeated, whole numbers, the
// network cards. The first fault ends the reading, with its reason in Error().
#pragma once

#include "cli/Commands.h"
#include "platform/Translation.h"

#include <QString>

#include <climits>
#include <cstddef>
#include <initializer_list>
#include <utility>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace lynx::cli {

// A message about the options in the language chosen: source (English, as the
// help is) translated, its %1, %2... filled in with values in one pass, so that
// a value holding "%1" stays as typed.
template <class... Texts>
std::string OptionMessage(const char* source, const Texts&... values)
{
    if constexpr (sizeof...(values) == 0)
        return platform::TrUtf8(source);
    else
        return platform::Tr(source).arg(QString::fromStdString(values)...).toStdString();
}

class OptionReader {
public:
    explicit OptionReader(const Arguments& args) : m_args(args) {}

    // Moves to the next option; false at the end or once a fault was found.
    bool Next();
    // Whether the option at hand is name.
    bool Is(std::string_view name) const { return m_name == name; }
    bool IsHelp() const { return m_name == "--help" || m_name == "-h"; }

    // Each of these takes the option at hand and is false after a fault.
    // An option without a value: flag becomes value.
    bool Flag(bool& flag, bool value = true);
    // The value, after '=' or as the next word, never empty; an option read so
    // may not be given twice.
    bool Value(std::string& value);
    // When the option at hand is one of these names: its value into the string
    // that goes with it (as Value does), and true.
    bool ValueOf(std::initializer_list<std::pair<std::string_view, std::string*>> options);
    // When the option at hand is --interface or --help: read, and true.
    bool Shared(std::vector<std::string>& interfaces, bool& help);
    // A value of an option that may be repeated.
    bool Append(std::vector<std::string>& values);
    // The next word when it is not an option (a list after one option).
    bool Following(std::string& value);
    // A whole number of at least least (LLONG_MIN: any); one above most is brought down to most.
    template <class Int>
    bool Number(Int& value, long long least, long long most)
    {
        long long n = 0;
        if (!ReadNumber(n, least, most))
            return false;
        value = static_cast<Int>(n);
        return true;
    }
    // Search seconds: a whole number of at least least, brought into 1..3600
    // (a search shorter than a second would miss every camera, one longer
    // than an hour is a typing error; the window's limit too).
    bool Seconds(int& value, long long least = LLONG_MIN);
    // --interface NAME: a name none of this PC's IPv4 cards has is a fault.
    bool Interface(std::vector<std::string>& names);
    // The option at hand is none the command knows.
    bool Unknown();
    // A required option left out ("--file is required"): each name whose value is empty.
    bool Require(std::initializer_list<std::pair<std::string_view, const std::string*>> options);
    bool Fail(std::string message);

    // What was read, or nullopt with the fault in *error.
    template <class Options>
    std::optional<Options> Result(Options options, std::string* error) const
    {
        if (!Failed())
            return options;
        *error = m_error;
        return std::nullopt;
    }

    bool Failed() const { return !m_error.empty(); }
    const std::string& Error() const { return m_error; }

private:
    bool ReadNumber(long long& value, long long least, long long most);

    const Arguments& m_args;
    std::size_t m_next = 0;
    std::string m_name;
    std::string m_value;
    bool m_hasInlineValue = false;
    std::set<std::string> m_given;
    std::string m_error;
};

} // namespace lynx::cli
