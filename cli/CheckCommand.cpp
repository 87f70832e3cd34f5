#include "cli/CheckCommand.h"

#include "cli/LiveLine.h"
#include "cli/OptionReader.h"
#include "cli/SearchCommand.h"
#include "cli/TerminalText.h"
#include "cli/TextTable.h"
#include "platform/Csv.h"
#include "platform/Translation.h"
#include "platform/WholeFile.h"
#include "site/HearsaySenders.h"
#include "site/SearchFlow.h"
#include "site/SiteReport.h"

#include <json/value.h>
#include <json/writer.h>

#include <algorithm>
#include <iostream>

namespace lynx::cli {

const char* CheckUsage()
{
    return R"(usage: lynx-cli check --site FILE [--expect-version V] [--seconds N]
                      [--allow-unexpected] [--format table|json|csv]
                      [--report FILE] [--interface NAME ...]
Checks a site's cameras against its expected inventory: searches the LAN for
N seconds (default 12, brought into 1..3600) on every network card and gives
each camera one state: ok, address (its IP, mask or gateway is not the
planned one), version (another software version), missing (planned, not
heard), unexpected (heard, not planned) or conflict (another camera holds its
IP too; it comes before address, which comes before version).
  --site FILE         the cameras expected, by MAC: an address plan (columns
                      mac, ip, mask, gateway) or a list the window exported;
                      only mac is required; optional columns softwareVersion
                      (the version expected) and label (a name or place). A
                      file with faults is refused, each fault named by line
                      and column, and nothing is sent
  --expect-version V  the version expected of every camera the file gives
                      none of (the version, or the list's version text with
                      its build date)
  --allow-unexpected  devices that are not planned do not fail the check
  --format            table (default), json or csv (UTF-8 with a byte-order
                      mark)
  --report FILE       the same rows to FILE: CSV, or JSON when FILE ends
                      in .json
  --interface NAME    search on this network card only (repeat for more)
The counts go to standard error. The exit status is 0 when every planned
camera is ok and no device is unexpected (or --allow-unexpected), 1
otherwise, and 2 for options or a site file that are not understood.
)";
}

std::optional<CheckOptions> ParseCheckOptions(const Arguments& args, std::string* error)
{
    CheckOptions options;
    OptionReader reader(args);
    std::string format;
    while (reader.Next()) {
        if (reader.Shared(options.interfaces, options.help) ||
            reader.ValueOf({{"--site", &options.site}, {"--expect-version", &options.expectVersion},
                            {"--report", &options.report}}))
            continue;
        if (reader.Is("--seconds"))
            reader.Seconds(options.seconds);
        else if (reader.Is("--format"))
            reader.Value(format) && ReadFormat(format, options.format, reader);
        else if (reader.Is("--allow-unexpected"))
            reader.Flag(options.allowUnexpected);
        else
            reader.Unknown();
    }
    std::string reportError;
    if (!reader.Failed() && !options.help && reader.Require({{"--site", &options.site}}) &&
        !options.report.empty() && !site::SiteReport::CanWrite(options.report, &reportError))
        reader.Fail(reportError);
    return reader.Result(options, error);
}

namespace {

using site::CameraAcceptance;

// The others holding a camera's address, of which conflictWith names the
// first few.
std::size_t ConflictCount(const CameraAcceptance& camera)
{
    return std::max(camera.conflicts, camera.conflictWith.size());
}

// What a row says beyond its columns: each part of the address that differs
// from the plan, as what was planned and what was found (an arrow would read
// as an order to change it), and the others holding its IP.
std::string Details(const CameraAcceptance& camera)
{
    std::string details;
    const auto add = [&details](const std::string& part) { details += (details.empty() ? "" : "; ") + part; };
    if (camera.state == site::AcceptanceState::Address) {
        for (const auto& [title, planned, found] :
             {std::tuple{"设备IP", &camera.plannedIp, &camera.ip}, {"子网掩码", &camera.plannedMask, &camera.mask},
              {"网关地址", &camera.plannedGateway, &camera.gateway}})
            if (!planned->empty() && *planned != *found)
                add(platform::Tr("%1：计划 %2，实际 %3")
                        .arg(platform::Tr(title), QString::fromStdString(*planned), QString::fromStdString(*found))
                        .toStdString());
    }
    if (ConflictCount(camera) != 0)
        add(platform::TrPrefixed("IP冲突：", QString::fromStdString(
                                                 site::ListedText(camera.conflictWith, ConflictCount(camera))))
                .toStdString());
    if (camera.hearsaySenders != 0)
        add(site::HearsayText(camera));
    if (!camera.unreachable.empty())
        add(camera.unreachable);
    return details;
}

std::string Joined(const std::vector<std::string>& items)
{
    std::string joined;
    for (const std::string& item : items)
        joined += (joined.empty() ? "" : " ") + item;
    return joined;
}

Json::Value JsonArray(const std::vector<std::string>& items)
{
    Json::Value array(Json::arrayValue);
    for (const std::string& item : items)
        array.append(item);
    return array;
}

TextTable Table(const site::AcceptanceResult& result)
{
    TextTable table;
    std::vector<std::string> header;
    for (const char* title : {"状态", "MAC地址", "标签", "计划IP", "设备IP", "计划版本", "软件版本", "说明"})
        header.push_back(platform::TrUtf8(title));
    table.Add(header);
    for (const CameraAcceptance& c : result.cameras)
        table.Add({site::StateText(c.state), c.mac, c.label, c.plannedIp, c.ip, c.plannedVersion, c.softwareVersion,
                   Details(c)});
    return table;
}

// The fields of a row in JSON and CSV, named alike in both.
std::vector<std::pair<const char*, std::string>> Fields(const CameraAcceptance& c)
{
    return {{"mac", c.mac},
            {"state", site::StateName(c.state)},
            {"stateText", site::StateText(c.state)},
            {"label", c.label},
            {"plannedIp", c.plannedIp},
            {"plannedMask", c.plannedMask},
            {"plannedGateway", c.plannedGateway},
            {"plannedVersion", c.plannedVersion},
            {"ip", c.ip},
            {"mask", c.mask},
            {"gateway", c.gateway},
            {"softwareVersion", c.softwareVersion},
            {"versionText", c.versionText},
            {"conflictWith", Joined(c.conflictWith)},
            {"conflicts", std::to_string(ConflictCount(c))},
            {"hearsayFrom", Joined(c.hearsayFrom)},
            {"hearsaySenders", std::to_string(c.hearsaySenders)}};
}

std::string JsonText(const site::AcceptanceResult& result)
{
    Json::Value array(Json::arrayValue);
    for (const CameraAcceptance& c : result.cameras) {
        Json::Value o(Json::objectValue);
        o["line"] = c.line;
        for (const auto& [name, value] : Fields(c))
            o[name] = value;
        o["conflictWith"] = JsonArray(c.conflictWith);
        o["conflicts"] = static_cast<Json::UInt64>(ConflictCount(c));
        o["hearsayFrom"] = JsonArray(c.hearsayFrom);
        o["hearsaySenders"] = static_cast<Json::UInt64>(c.hearsaySenders);
        array.append(o);
    }
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "  ";
    builder["emitUTF8"] = true;
    return Json::writeString(builder, array) + "\n";
}

std::string CsvText(const site::AcceptanceResult& result)
{
    // A byte-order mark, so that spreadsheet programs read the Chinese texts;
    // texts from the file and the network are kept from being run as formulas,
    // and their control characters are written out.
    std::string out = "\xEF\xBB\xBFline";
    for (const auto& [name, value] : Fields({}))
        out += std::string(",") + name;
    out += "\r\n";
    for (const CameraAcceptance& c : result.cameras) {
        out += std::to_string(c.line);
        for (const auto& [name, value] : Fields(c))
            out += "," + platform::SpreadsheetField(TerminalText(value));
        out += "\r\n";
    }
    return out;
}

int Check(const Arguments& args, std::ostream& out, std::ostream& err, LiveLine* live)
{
    std::string error;
    const std::optional<CheckOptions> options = ParseCheckOptions(args, &error);
    if (!options)
        return BadOptions(err, "check", error);
    if (options->help)
        return ShowUsage(out, CheckUsage());
    const std::optional<site::SiteFile> site = ReadSiteFileOrSayFaults(options->site, err, "check");
    if (!site)
        return kExitUsage;

    protocol::InitTransport();
    protocol::DiscoverySession session;
    site::SearchRequest request;
    request.seconds = options->seconds;
    request.interfaces = options->interfaces;
    const site::SearchResult found = site::Search(session, request, SearchEvents(live));
    if (live)
        live->Clear();
    if (!found.ok())
        return Failed(err, "check", site::FailureText(found.failure));

    const site::AcceptanceResult result = site::CheckAcceptance(*site, session.Table(), options->expectVersion);
    WriteAcceptance(out, options->format, result);
    out << std::flush;
    for (const std::string& note : site::HearsaySenders().NotesOf(session.Table()))
        err << TerminalText(note) << "\n";
    err << site::SummaryText(result.summary) << "\n";
    if (!options->report.empty()) {
        const bool json = options->report.size() >= 5 && options->report.compare(options->report.size() - 5, 5, ".json") == 0;
        if (!platform::WriteFileWhole(options->report, json ? JsonText(result) : CsvText(result), &error))
            return Failed(err, "check", error);
    }
    // A list cut at its limit may have left planned cameras out: no acceptance.
    if (found.dropped)
        return Failed(err, "check",
                      platform::Tr("the list is full at %1 cameras; %2 more reports were not listed")
                          .arg(QString::number(static_cast<qulonglong>(session.Table().Capacity())),
                               QString::number(static_cast<qulonglong>(found.dropped)))
                          .toStdString());
    return result.Passed(options->allowUnexpected) ? kExitOk : kExitFailed;
}

} // namespace

std::string FormatAcceptance(OutputFormat format, const site::AcceptanceResult& result)
{
    switch (format) {
    case OutputFormat::Json:
        return TerminalJson(JsonText(result));
    case OutputFormat::Csv:
        return CsvText(result);
    case OutputFormat::Table:
        break;
    }
    return Table(result).Text();
}

void WriteAcceptance(std::ostream& out, OutputFormat format, const site::AcceptanceResult& result)
{
    if (format == OutputFormat::Table)
        Table(result).Write(out);
    else
        out << FormatAcceptance(format, result);
}

int RunCheckCommand(const Arguments& args)
{
    return OnTerminal([&](LiveLine& live) { return Check(args, live.Out(), live.Err(), &live); });
}

} // namespace lynx::cli
