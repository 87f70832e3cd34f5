#include "cli/UpgradeCommand.h"

#include "cli/LiveLine.h"
#include "cli/OptionReader.h"
#include "cli/TerminalText.h"
#include "site/SiteReport.h"
#include "platform/Translation.h"
#include "site/SearchFlow.h"
#include "site/UpgradeFlow.h"
#include "upgrade/FirmwareFile.h"
#include "platform/MacKey.h"

#include <json/value.h>
#include <json/writer.h>

#include <arpa/inet.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>

namespace lynx::cli {

namespace {

bool IsDottedIpv4(const std::string& text)
{
    in_addr address{};
    return ::inet_pton(AF_INET, text.c_str(), &address) == 1;
}

// Twelve hex digits, with or without separators: what a MAC is compared as.
bool IsMac(const std::string& text)
{
    const std::string key = platform::MacKey(text);
    return key.size() == 12 && key.front() != '=';
}

// The values of a repeatable option, and the words after it that are no
// option, each once, as far as valid says they are; the first that is not
// fails the reading with what says why.
void ReadList(OptionReader& reader, std::vector<std::string>& into, bool (*valid)(const std::string&),
              const char* why)
{
    std::vector<std::string> values;
    if (reader.Append(values))
        for (std::string more; reader.Following(more);)
            values.push_back(more);
    for (const std::string& value : values) {
        if (!valid(value))
            reader.Fail(OptionMessage(why, value));
        else if (std::find(into.begin(), into.end(), value) == into.end())
            into.push_back(value);
    }
}

} // namespace

const char* UpgradeUsage()
{
    return R"(usage: lynx-cli upgrade --file FW.zip [--seconds N] [--wait S] [--interface NAME ...]
                        [--parallel N] [--verify [--reboot-wait S] [--expect-version V]]
                        [--retry N] [--stall-seconds S] [--format text|json] [--report FILE]
                        (--all | --ip IP ... | --mac MAC ... | --site FILE)
Searches the LAN for N seconds (default 12, brought into 1..3600), then tells
each chosen camera to download and install FW.zip from this tool's own HTTP
server (port 9000 upward), one camera every 3 seconds, without asking.
  --all      every camera that answered the search
  --ip IP    the camera with this address (repeat, or list several)
  --mac MAC  the camera with this MAC (repeat, or list several): cameras
             fresh from the factory share one address
  --site FILE       the cameras of a site file, by MAC (an address plan, or a
                    list the window exported); --ip, --mac and --site add up
  --wait S   wait at most S seconds (default 600) for the cameras' reports
  --interface NAME  search on this network card only (repeat for more)
  --parallel N      instead of one request every 3 seconds, keep N cameras
                    upgrading at once, the next request going out as soon as
                    one camera has reported
  --verify          after the reports, search again until each camera that
                    reported success answers with a software version other
                    than before (and V with --expect-version), allowing it
                    S seconds to restart (--reboot-wait, default 120); one
                    that comes back with its old version, or not at all, failed
  --retry N         run the batch again, at most N more times, for the
                    cameras that failed, refused or did not verify
  --stall-seconds S a camera whose download takes nothing for S seconds
                    (default 60) is cut off and failed ("download stalled")
  --format F        text (default): each status change as a line; json: one
                    JSON object a line for each camera at each change of its
                    state and each 10 % of its download, with "mac", "ip",
                    "state", "status", "percent" and "bytes"
  --report FILE     one row per camera (MAC, address and version before and
                    after, every status with its time, the outcome, the bytes
                    served to it and its download's time in seconds): CSV, or
                    JSON when FILE ends in .json
Each status change is printed as it happens, with the summary line; at a
terminal a live line counts the jobs done and the downloads in flight with
their mean percentage. The exit status is 0 when every chosen camera
reported success (and verified, with --verify), 1 otherwise, and 2 for input
that is not understood.
)";
}

std::optional<UpgradeOptions> ParseUpgradeOptions(const std::vector<std::string>& args, std::string* error)
{
    UpgradeOptions options;
    OptionReader reader(args);
    constexpr long long kWeek = 7 * 24 * 3600;
    while (reader.Next()) {
        if (reader.Shared(options.interfaces, options.help) ||
            reader.ValueOf({{"--file", &options.file}, {"--expect-version", &options.expectVersion},
                            {"--report", &options.report}}))
            continue;
        if (reader.Is("--seconds"))
            reader.Seconds(options.seconds);
        else if (reader.Is("--wait"))
            reader.Number(options.waitSeconds, 0, kWeek);
        else if (reader.Is("--reboot-wait"))
            reader.Number(options.rebootWaitSeconds, 0, kWeek);
        else if (reader.Is("--parallel"))
            reader.Number(options.parallel, 1, kWeek);
        else if (reader.Is("--retry"))
            reader.Number(options.retries, 0, kWeek);
        else if (reader.Is("--stall-seconds"))
            reader.Number(options.stallSeconds, 1, kWeek);
        else if (reader.Is("--format")) {
            std::string format;
            if (reader.Value(format) && format != "text" && format != "json")
                reader.Fail(OptionMessage("--format takes text or json, not '%1'", format));
            options.json = format == "json";
        } else if (reader.Is("--ip")) {
            // Further addresses may follow without repeating --ip.
            ReadList(reader, options.ips, IsDottedIpv4, "--ip takes an IPv4 address, not '%1'");
        } else if (reader.Is("--mac")) {
            ReadList(reader, options.macs, IsMac, "--mac takes a MAC of twelve hex digits, not '%1'");
        } else if (reader.Is("--site")) {
            reader.Value(options.site);
        } else if (reader.Is("--all"))
            reader.Flag(options.all);
        else if (reader.Is("--verify"))
            reader.Flag(options.verify);
        else
            reader.Unknown();
    }
    const bool chosen = !options.ips.empty() || !options.macs.empty() || !options.site.empty();
    if (!reader.Failed() && !options.help && reader.Require({{"--file", &options.file}})) {
        // Checked here, before anything is sent: a file the cameras cannot unpack
        // would fail every one of them only after its download.
        std::string reportError;
        if (const auto fault = upgrade::FirmwareFileFault(options.file))
            reader.Fail(site::FailureText(*fault == upgrade::kFirmwareNotZip ? site::Failure::FirmwareNotZip
                                                                             : site::Failure::FirmwareUnreadable) +
                        options.file);
        else if (options.all && chosen)
            reader.Fail(OptionMessage("--all excludes --ip, --mac and --site"));
        else if (!options.all && !chosen)
            reader.Fail(OptionMessage("choose the cameras with --all or --ip, --mac or --site"));
        else if (!options.expectVersion.empty() && !options.verify)
            reader.Fail(OptionMessage("--expect-version needs --verify"));
        else if (!options.report.empty() && !SiteReport::CanWrite(options.report, &reportError))
            reader.Fail(reportError);
    }
    return reader.Result(options, error);
}

namespace {

// One JSON object on a line of its own.
void JsonLine(std::ostream& out, const Json::Value& object)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    out << Json::writeString(builder, object) << std::endl;
}

// The events every format shares: the search and the live line, the warnings
// and notices on err.
site::UpgradeEvents CommonEvents(std::ostream& err, LiveLine* live)
{
    site::UpgradeEvents events;
    events.searching = SearchEvents(live);
    events.progress = [live](const site::UpgradeProgress& progress) {
        if (live)
            live->Upgrade(progress.done, progress.total, progress.failed, progress.downloading, progress.meanPercent);
    };
    events.warning = [&err](const std::string& text) { err << "lynx-cli upgrade: " << TerminalText(text) << std::endl; };
    events.notice = [&err](const std::string& text) { err << TerminalText(text) << std::endl; };
    return events;
}

// Every event printed as it happens: statuses and verdicts on out.
site::UpgradeEvents TextEvents(std::ostream& out, std::ostream& err, LiveLine* live)
{
    site::UpgradeEvents events = CommonEvents(err, live);
    // Addresses, versions and status texts come from the cameras: shown through TerminalText.
    events.status = [&out](const std::string& ip, const std::string& status) {
        out << TerminalText(ip) << "\t" << TerminalText(status) << std::endl;
    };
    events.summary = [&out](const std::string& summary) { out << TerminalText(summary) << std::endl; };
    events.complete = [&out] { out << platform::TrUtf8(upgrade::msg::kBatchComplete) << std::endl; };
    events.retry = [&out](int round, int rounds, size_t cameras) {
        out << "retry " << round << " of " << rounds << ": " << cameras << " cameras" << std::endl;
    };
    events.roundEnded = [&out](const std::string& summary) { out << TerminalText(summary) << std::endl; };
    events.verified = [&out](const std::string& mac, const std::string& version, const std::string& ip) {
        out << TerminalText(mac) << "\tverified: " << TerminalText(version) << " at " << TerminalText(ip) << std::endl;
    };
    events.notVerified = [&out](const std::string& mac, const std::string& why) {
        out << TerminalText(mac) << "\tnot verified: " << TerminalText(why) << std::endl;
    };
    return events;
}

// A JSON line for each camera at each change of its state and each 10 % of
// its download, and for each verdict of the version check; nothing else on out.
site::UpgradeEvents JsonEvents(std::ostream& out, std::ostream& err, LiveLine* live)
{
    site::UpgradeEvents events = CommonEvents(err, live);
    events.camera = [&out](const site::CameraProgress& camera) {
        Json::Value line(Json::objectValue);
        line["mac"] = camera.mac;
        line["ip"] = camera.ip;
        line["state"] = camera.state;
        line["status"] = camera.status;
        line["percent"] = camera.percent;
        line["bytes"] = Json::UInt64(camera.bytes);
        JsonLine(out, line);
    };
    events.verified = [&out](const std::string& mac, const std::string& version, const std::string& ip) {
        Json::Value line(Json::objectValue);
        line["mac"] = mac;
        line["ip"] = ip;
        line["state"] = "verified";
        line["version"] = version;
        JsonLine(out, line);
    };
    events.notVerified = [&out](const std::string& mac, const std::string& why) {
        Json::Value line(Json::objectValue);
        line["mac"] = mac;
        line["state"] = "not-verified";
        line["why"] = why;
        JsonLine(out, line);
    };
    return events;
}

site::UpgradeRequest RequestOf(const UpgradeOptions& options, const std::optional<site::SiteFile>& siteFile)
{
    site::UpgradeRequest request;
    request.file = options.file;
    request.seconds = options.seconds;
    request.waitSeconds = options.waitSeconds;
    request.all = options.all;
    request.ips = options.ips;
    request.macs = options.macs;
    if (siteFile) {
        for (const site::PlannedCamera& camera : siteFile->cameras)
            request.macs.push_back(camera.mac);
    }
    request.interfaces = options.interfaces;
    request.verify = options.verify;
    request.rebootWaitSeconds = options.rebootWaitSeconds;
    request.expectVersion = options.expectVersion;
    request.parallel = options.parallel;
    request.retries = options.retries;
    request.stallSeconds = options.stallSeconds;
    return request;
}

int Upgrade(const Arguments& args, std::ostream& out, std::ostream& err, LiveLine* live)
{
    std::string error;
    const std::optional<UpgradeOptions> options = ParseUpgradeOptions(args, &error);
    if (!options)
        return BadOptions(err, "upgrade", error);
    if (options->help)
        return ShowUsage(out, UpgradeUsage());
    // The whole site file is checked before anything is sent.
    std::optional<site::SiteFile> siteFile;
    if (!options->site.empty() && !(siteFile = ReadSiteFileOrSayFaults(options->site, err, "upgrade")))
        return kExitUsage;

    const site::UpgradeEvents events = options->json ? JsonEvents(out, err, live) : TextEvents(out, err, live);
    const site::UpgradeResult result = site::RunUpgrade(RequestOf(*options, siteFile), events);
    if (!result.ok())
        return Failed(err, "upgrade", site::FailureText(result.failure));
    if (result.noneChosen)
        return Failed(err, "upgrade", "no camera to upgrade");
    if (!options->json && (options->verify || options->retries > 0)) {
        for (const SiteReport::Row& row : result.report.Rows())
            out << TerminalText(row.mac) << "\t" << TerminalText(row.oldIp) << "\t" << TerminalText(row.outcome)
                << std::endl;
    }
    const bool written = SaveReport(result.report, options->report, err, "upgrade");
    return result.allSucceeded && written ? kExitOk : kExitFailed;
}

} // namespace

int RunUpgrade(const Arguments& args, std::ostream& out, std::ostream& err)
{
    return Upgrade(args, out, err, nullptr);
}

int RunUpgradeCommand(const Arguments& args)
{
    return OnTerminal([&](LiveLine& live) { return Upgrade(args, live.Out(), live.Err(), &live); });
}

} // namespace lynx::cli
