#include "cli/SearchCommand.h"

#include "cli/Commands.h"
#include "cli/InterfaceOption.h"
#include "cli/OptionReader.h"
#include "platform/Numbers.h"
#include "platform/Translation.h"
#include "protocol/DiscoverySession.h"
#include "protocol/Messages.h"

#include <chrono>
#include <cstdio>
#include <iostream>

namespace lynx::cli {

int ClampSearchSeconds(long long seconds)
{
    if (seconds < 1)
        return 1;
    if (seconds > protocol::kMaxSearchSeconds)
        return protocol::kMaxSearchSeconds;
    return static_cast<int>(seconds);
}

std::string ServerFailureText(const protocol::DiscoverySession& session)
{
    if (session.PortTaken())
        return platform::TrUtf8(protocol::msg::kPortsTaken);
    return "cannot receive on UDP port " + std::to_string(protocol::kReportPort);
}

const char* SearchUsage()
{
    return R"(usage: lynx-cli search [--seconds N] [--no-ip-filter] [--no-mac-filter]
                       [--format table|json|csv] [--interface NAME ...]
                       [--max-devices N] [--timing]

Broadcasts one search on the LAN, waits N seconds (default 12, brought into
1..3600) and prints the cameras that answered, under the window's rules:
  --no-ip-filter   also list a device whose IP address is listed already
  --no-mac-filter  also list a device whose MAC is listed already
                   (with both filters on, a device is dropped when its IP and
                   its MAC equal those of a listed one; MACs are compared
                   whole, whatever their separators and letter case)
  --format         table (default), json (every record field) or csv; json
                   and csv also say where each report came in ("interface",
                   "localAddress")
  --interface NAME search on this network card only (repeat for more); by
                   default every card that can broadcast
  --max-devices N  list at most N cameras (default 65536, 0: no limit); the
                   reports beyond are counted, and the exit status is 1
  --timing         print on stderr when the last row was listed
The exit status is 1 when the search went out on no network card.
)";
}

std::optional<SearchOptions> ParseSearchOptions(const std::vector<std::string>& args, std::string* error)
{
    SearchOptions options;
    OptionReader reader(args);
    std::string value;
    while (reader.Next()) {
        const std::string& a = reader.Name();
        if (a == "--seconds") {
            if (!reader.TakeValue(value, error))
                return std::nullopt;
            const std::optional<long long> n = platform::WholeNumber(value);
            if (!n) {
                *error = "--seconds takes a whole number, not '" + value + "'";
                return std::nullopt;
            }
            options.seconds = ClampSearchSeconds(*n);
        } else if (a == "--max-devices") {
            if (!reader.TakeValue(value, error))
                return std::nullopt;
            const std::optional<long long> n = platform::WholeNumber(value);
            if (!n || *n < 0) {
                *error = "--max-devices takes a whole number of at least 0, not '" + value + "'";
                return std::nullopt;
            }
            options.maxDevices = static_cast<size_t>(*n);
        } else if (a == "--interface") {
            if (!reader.TakeValue(value, error))
                return std::nullopt;
            options.interfaces.push_back(value);
        } else if (a == "--format") {
            if (!reader.TakeValue(value, error))
                return std::nullopt;
            if (value == "table")
                options.format = OutputFormat::Table;
            else if (value == "json")
                options.format = OutputFormat::Json;
            else if (value == "csv")
                options.format = OutputFormat::Csv;
            else {
                *error = "--format takes table, json or csv, not '" + value + "'";
                return std::nullopt;
            }
        } else if (reader.HasInlineValue()) {
            *error = a + " takes no value";
            return std::nullopt;
        } else if (a == "--no-ip-filter")
            options.filter.hideSameIp = false;
        else if (a == "--no-mac-filter")
            options.filter.hideSameMac = false;
        else if (a == "--timing")
            options.timing = true;
        else if (a == "--help" || a == "-h")
            options.help = true;
        else {
            *error = "unknown option '" + a + "'";
            return std::nullopt;
        }
    }
    if (!CheckInterfaceNames(options.interfaces, error))
        return std::nullopt;
    return options;
}

int RunSearchCommand(const Arguments& args)
{
    std::string error;
    auto options = ParseSearchOptions(args, &error);
    if (!options) {
        std::cerr << "lynx-cli search: " << error << "\n" << platform::TrUtf8(SearchUsage());
        return kExitUsage;
    }
    if (options->help) {
        std::cout << platform::TrUtf8(SearchUsage());
        return kExitOk;
    }
    protocol::InitTransport();
    protocol::DiscoverySession session;
    if (!session.StartServers(false)) {
        // Listing nothing would look like a LAN without cameras: say it failed.
        std::cerr << "lynx-cli search: " << ServerFailureText(session) << "\n";
        return kExitFailed;
    }
    session.SetInterfaces(options->interfaces);
    session.Table().SetCapacity(options->maxDevices);
    if (!session.Search()) {
        std::cerr << "lynx-cli search: the search request went out on no network interface "
                     "(no network, or a cable out?)\n";
        return kExitFailed;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options->seconds);
    session.CollectUntil(deadline, options->filter);
    const auto ended = std::chrono::steady_clock::now();
    const std::vector<protocol::DeviceRow> rows = session.Table().Rows();
    if (options->timing) {
        if (auto last = session.LastRowAdded()) {
            double at = std::chrono::duration<double>(last->time_since_epoch()).count();
            std::fprintf(stderr, "timing: last row listed at %.6f (%zu rows)\n", at, rows.size());
        } else {
            std::fprintf(stderr, "timing: no row listed\n");
        }
        std::fprintf(stderr, "timing: %llu datagrams received, %llu reports applied\n",
                     static_cast<unsigned long long>(session.Delivered()),
                     static_cast<unsigned long long>(session.ReportsApplied()));
        std::fprintf(stderr, "timing: the search ended %.1f ms after its deadline\n",
                     std::chrono::duration<double, std::milli>(ended - deadline).count());
    }
    std::cout << FormatRows(options->format, rows) << std::flush;
    // A list cut at its limit is no complete list: said, and not a success.
    if (const uint64_t dropped = session.Table().Dropped()) {
        std::cerr << "lynx-cli search: the list is full at " << options->maxDevices << " cameras; " << dropped
                  << " more reports were not listed (--max-devices)\n";
        return kExitFailed;
    }
    return kExitOk;
}

} // namespace lynx::cli
