#include "cli/SearchCommand.h"

#include "cli/Commands.h"
#include "cli/LiveLine.h"
#include "cli/OptionReader.h"
#include "cli/TerminalText.h"
#include "platform/Translation.h"
#include "site/HearsaySenders.h"
#include "site/SearchFlow.h"

#include <chrono>
#include <climits>
#include <cstdio>
#include <iostream>

namespace lynx::cli {

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

bool ReadFormat(const std::string& text, OutputFormat& format, OptionReader& reader)
{
    if (text == "table")
        format = OutputFormat::Table;
    else if (text == "json")
        format = OutputFormat::Json;
    else if (text == "csv")
        format = OutputFormat::Csv;
    else
        return reader.Fail(OptionMessage("--format takes table, json or csv, not '%1'", text));
    return true;
}

std::optional<SearchOptions> ParseSearchOptions(const std::vector<std::string>& args, std::string* error)
{
    SearchOptions options;
    OptionReader reader(args);
    std::string format;
    while (reader.Next()) {
        if (reader.Shared(options.interfaces, options.help))
            continue;
        if (reader.Is("--seconds"))
            reader.Seconds(options.seconds);
        else if (reader.Is("--max-devices"))
            reader.Number(options.maxDevices, 0, LLONG_MAX);
        else if (reader.Is("--format"))
            reader.Value(format) && ReadFormat(format, options.format, reader);
        else if (reader.Is("--no-ip-filter"))
            reader.Flag(options.filter.hideSameIp, false);
        else if (reader.Is("--no-mac-filter"))
            reader.Flag(options.filter.hideSameMac, false);
        else if (reader.Is("--timing"))
            reader.Flag(options.timing);
        else
            reader.Unknown();
    }
    return reader.Result(options, error);
}

int RunSearchCommand(const Arguments& args)
{
    std::string error;
    auto options = ParseSearchOptions(args, &error);
    if (!options)
        return BadOptions(std::cerr, "search", error);
    if (options->help)
        return ShowUsage(std::cout, SearchUsage());
    protocol::InitTransport();
    protocol::DiscoverySession session;
    site::SearchRequest request;
    request.seconds = options->seconds;
    request.interfaces = options->interfaces;
    request.filter = options->filter;
    request.capacity = options->maxDevices;
    LiveLine live;
    const site::SearchResult found = site::Search(session, request, SearchEvents(&live));
    live.Clear();
    // Listing nothing would look like a LAN without cameras: say it failed.
    if (!found.ok())
        return Failed(std::cerr, "search", site::FailureText(found.failure));
    if (options->timing) {
        if (auto last = session.LastRowAdded()) {
            double at = std::chrono::duration<double>(last->time_since_epoch()).count();
            std::fprintf(stderr, "timing: last row listed at %.6f (%zu rows)\n", at, found.rows.size());
        } else {
            std::fprintf(stderr, "timing: no row listed\n");
        }
        std::fprintf(stderr, "timing: %llu datagrams received, %llu reports applied\n",
                     static_cast<unsigned long long>(session.Delivered()),
                     static_cast<unsigned long long>(session.ReportsApplied()));
        std::fprintf(stderr, "timing: the search ended %.1f ms after its deadline\n",
                     std::chrono::duration<double, std::milli>(found.ended - found.deadline).count());
    }
    WriteRows(std::cout, options->format, found.rows);
    std::cout << std::flush;
    for (const std::string& note : site::HearsaySenders().NotesOf(session.Table()))
        std::cerr << TerminalText(note) << "\n";
    // A list cut at its limit is no complete list: said, and not a success.
    if (found.dropped)
        return Failed(std::cerr, "search",
                      platform::Tr("the list is full at %1 cameras; %2 more reports were not listed (--max-devices)")
                          .arg(QString::number(static_cast<qulonglong>(options->maxDevices)),
                               QString::number(static_cast<qulonglong>(found.dropped)))
                          .toStdString());
    return kExitOk;
}

} // namespace lynx::cli
