#include "cli/UpgradeCommand.h"

#include "cli/LiveLine.h"
#include "cli/OptionReader.h"
#include "cli/TerminalText.h"
#include "site/SiteReport.h"
#include "platform/Translation.h"
#include "site/SearchFlow.h"
#include "site/UpgradeFlow.h"
#include "upgrade/FirmwareFile.h"

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

} // namespace

const char* UpgradeUsage()
{
    return R"(usage: lynx-cli upgrade --file FW.zip [--seconds N] [--wait S] [--interface NAME ...]
                        [--parallel N] [--verify [--reboot-wait S] [--expect-version V]]
                        [--retry N] [--report FILE] (--all | --ip IP ...)
Searches the LAN for N seconds (default 12, brought into 1..3600), then tells
each chosen camera to download and install FW.zip from this tool's own HTTP
server (port 9000 upward), one camera every 3 seconds, without asking.
  --all      every camera that answered the search
  --ip IP    the camera with this address (repeat, or list several)
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
  --report FILE     one row per camera (MAC, address and version before and
                    after, every status with its time, the outcome): CSV, or
                    JSON when FILE ends in .json
Each status change is printed as it happens, with the summary line. The exit
status is 0 when every chosen camera reported success (and verified, with
--verify), 1 otherwise, and 2 for input that is not understood.
)";
}

std::optional<UpgradeOptions> ParseUpgradeOptions(const std::vector<std::string>& args, std::string* error)
{
    UpgradeOptions options;
    bool sawIp = false;
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
        else if (reader.Is("--ip")) {
            sawIp = true;
            // Further addresses may follow without repeating --ip.
            std::vector<std::string> ips;
            if (reader.Append(ips))
                for (std::string more; reader.Following(more);)
                    ips.push_back(more);
            for (const std::string& ip : ips) {
                if (!IsDottedIpv4(ip))
                    reader.Fail(OptionMessage("--ip takes an IPv4 address, not '%1'", ip));
                else if (std::find(options.ips.begin(), options.ips.end(), ip) == options.ips.end())
                    options.ips.push_back(ip);
            }
        } else if (reader.Is("--all"))
            reader.Flag(options.all);
        else if (reader.Is("--verify"))
            reader.Flag(options.verify);
        else
            reader.Unknown();
    }
    if (!reader.Failed() && !options.help && reader.Require({{"--file", &options.file}})) {
        // Checked here, before anything is sent: a file the cameras cannot unpack
        // would fail every one of them only after its download.
        std::string reportError;
        if (const auto fault = upgrade::FirmwareFileFault(options.file))
            reader.Fail(site::FailureText(*fault == upgrade::kFirmwareNotZip ? site::Failure::FirmwareNotZip
                                                                             : site::Failure::FirmwareUnreadable) +
                        options.file);
        else if (options.all == sawIp)
            reader.Fail(OptionMessage(options.all ? "--all and --ip exclude each other" : "choose the cameras with --all or --ip"));
        else if (!options.expectVersion.empty() && !options.verify)
            reader.Fail(OptionMessage("--expect-version needs --verify"));
        else if (!options.report.empty() && !SiteReport::CanWrite(options.report, &reportError))
            reader.Fail(reportError);
    }
    return reader.Result(options, error);
}

namespace {

int Upgrade(const Arguments& args, std::ostream& out, std::ostream& err, LiveLine* live)
{
    std::string error;
    const std::optional<UpgradeOptions> options = ParseUpgradeOptions(args, &error);
    if (!options)
        return BadOptions(err, "upgrade", error);
    if (options->help)
        return ShowUsage(out, UpgradeUsage());

    site::UpgradeRequest request;
    request.file = options->file;
    request.seconds = options->seconds;
    request.waitSeconds = options->waitSeconds;
    request.all = options->all;
    request.ips = options->ips;
    request.interfaces = options->interfaces;
    request.verify = options->verify;
    request.rebootWaitSeconds = options->rebootWaitSeconds;
    request.expectVersion = options->expectVersion;
    request.parallel = options->parallel;
    request.retries = options->retries;

    // Every event printed as it happens: statuses and verdicts on out,
    // warnings on err.
    site::UpgradeEvents events;
    events.searching = SearchEvents(live);
    // Addresses, versions and status texts come from the cameras: shown through TerminalText.
    events.status = [&out](const std::string& ip, const std::string& status) {
        out << TerminalText(ip) << "\t" << TerminalText(status) << std::endl;
    };
    events.summary = [&out](const std::string& summary) { out << TerminalText(summary) << std::endl; };
    events.complete = [&out] { out << platform::TrUtf8(upgrade::msg::kBatchComplete) << std::endl; };
    events.progress = [live](int done, int total, int failed) {
        if (live)
            live->Upgrade(done, total, failed);
    };
    events.retry = [&out](int round, int rounds, size_t cameras) {
        out << "retry " << round << " of " << rounds << ": " << cameras << " cameras" << std::endl;
    };
    events.unreported = [&out](const std::string& ip) {
        out << TerminalText(ip) << "\t" << platform::TrUtf8("未报告升级结果") << std::endl;
    };
    events.roundEnded = [&out](const std::string& summary) { out << TerminalText(summary) << std::endl; };
    events.verified = [&out](const std::string& mac, const std::string& version, const std::string& ip) {
        out << TerminalText(mac) << "\tverified: " << TerminalText(version) << " at " << TerminalText(ip) << std::endl;
    };
    events.notVerified = [&out](const std::string& mac, const std::string& why) {
        out << TerminalText(mac) << "\tnot verified: " << TerminalText(why) << std::endl;
    };
    events.warning = [&err](const std::string& text) { err << "lynx-cli upgrade: " << TerminalText(text) << std::endl; };
    events.notice = [&err](const std::string& text) { err << TerminalText(text) << std::endl; };

    const site::UpgradeResult result = site::RunUpgrade(request, events);
    if (!result.ok())
        return Failed(err, "upgrade", site::FailureText(result.failure));
    if (result.noneChosen)
        return Failed(err, "upgrade", "no camera to upgrade");
    if (options->verify || options->retries > 0) {
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
