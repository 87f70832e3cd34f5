#include "cli/UpgradeCommand.h"

#include "cli/DeviceOutput.h"
#include "cli/LiveLine.h"
#include "cli/OptionReader.h"
#include "cli/SiteReport.h"
#include "platform/MacKey.h"
#include "platform/Translation.h"
#include "protocol/DiscoverySession.h"
#include "site/SearchFlow.h"
#include "upgrade/FirmwareFile.h"
#include "upgrade/UpgradeRun.h"

#include <arpa/inet.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <iostream>
#include <map>
#include <set>

namespace lynx::cli {

namespace {

using upgrade::UpgradeBatch;

bool IsDottedIpv4(const std::string& text)
{
    in_addr address{};
    return ::inet_pton(AF_INET, text.c_str(), &address) == 1;
}

// The chosen devices as the rows of a list, every one ticked; status changes
// and the summary line are printed as they happen.
class ConsoleList : public upgrade::UpgradeListView {
public:
    ConsoleList(std::ostream& out, SiteReport& report) : m_out(out), m_report(report) {}

    void SetRows(std::vector<protocol::DeviceRow> rows) { m_rows = std::move(rows); }
    int RowCount() const override { return static_cast<int>(m_rows.size()); }
    bool IsChecked(int) const override { return true; }
    std::string CellText(int row, int column) const override
    {
        const protocol::DeviceRow& device = m_rows.at(static_cast<size_t>(row));
        if (column == UpgradeBatch::kNumberColumn)
            return std::to_string(device.number);
        if (column == UpgradeBatch::kIpColumn)
            return std::string(device.record.deviceIp, strnlen(device.record.deviceIp, sizeof device.record.deviceIp));
        return {};
    }
    void SetStatusText(int row, const std::string& text) override
    {
        if (row < 0 || row >= RowCount())
            return;
        const std::string shown = platform::TrUtf8(text.empty() ? "(状态已清空)" : text);
        m_out << CellText(row, UpgradeBatch::kIpColumn) << "\t" << shown << std::endl;
        m_report.AddStatus(Mac(row), text.empty() ? std::string() : shown);
    }
    void SetSummaryText(const std::string& text) override
    {
        if (text != m_summary)
            m_out << text << std::endl;
        m_summary = text;
    }
    void SetUpgrading(bool) override {}
    void AnnounceComplete() override { m_out << platform::TrUtf8(upgrade::msg::kBatchComplete) << std::endl; }
    std::string SummaryFormat() const override { return platform::TrUtf8(upgrade::msg::kSummaryFormat); }

    const std::string& Summary() const { return m_summary; }
    std::string Mac(int row) const { return Utf8Field(m_rows.at(static_cast<size_t>(row)).record.mac); }

private:
    std::vector<protocol::DeviceRow> m_rows;
    std::ostream& m_out;
    SiteReport& m_report;
    std::string m_summary;
};

// Jobs done of all, and those failed, on the live line.
void ShowProgress(LiveLine* live, const UpgradeBatch& batch)
{
    if (!live)
        return;
    int done = 0, failed = 0, total = 0;
    for (const UgInfo* job : batch.jobs()) {
        ++total;
        const bool open = job->state == upgrade::UgState::Waiting || job->state == upgrade::UgState::Sent ||
                          job->state == upgrade::UgState::Upgrading;
        done += open ? 0 : 1;
        failed += open || job->state == upgrade::UgState::Succeeded ? 0 : 1;
    }
    live->Upgrade(done, total, failed);
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
                    reader.Fail("--ip takes an IPv4 address, not '" + ip + "'");
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
            reader.Fail(options.all ? "--all and --ip exclude each other" : "choose the cameras with --all or --ip");
        else if (!options.expectVersion.empty() && !options.verify)
            reader.Fail("--expect-version needs --verify");
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
        return BadOptions(err, "upgrade", error, UpgradeUsage());
    if (options->help)
        return ShowUsage(out, UpgradeUsage());

    // One session receives everything: the reports of the searches, and the
    // replies and notifications on port 8025 and on each camera's client.
    using Clock = protocol::DiscoverySession::Clock;
    protocol::InitTransport();
    protocol::DiscoverySession session;
    SiteReport report;
    auto listOwner = std::make_unique<ConsoleList>(out, report);
    ConsoleList& list = *listOwner;
    upgrade::UpgradeRun run(std::move(listOwner), {});
    run.Batch().SetParallel(options->parallel);
    const auto toBatch = [&run](protocol::Datagram& datagram) {
        run.Batch().OnDatagram(datagram.header, datagram.body, datagram.peerAddress);
    };
    const protocol::DuplicateFilter filter;
    Clock::time_point roundDeadline{};
    upgrade::UpgradeRun::FrontEnd frontEnd;
    frontEnd.replies = &protocol::DiscoverySession::ReceiveUpdate;
    frontEnd.pause = [&](int milliseconds) {
        ShowProgress(live, run.Batch());
        session.CollectFor(std::chrono::milliseconds(milliseconds), filter, toBatch);
    };
    frontEnd.clientFailed = [&err] { err << upgrade::msg::kClientError << std::endl; };
    frontEnd.giveUp = [&roundDeadline] { return Clock::now() >= roundDeadline; };
    run.SetFrontEnd(std::move(frontEnd));

    upgrade::UpgradeFileServer::Options serverOptions;
    serverOptions.firstPort = 9000;
    serverOptions.notify = [&err](const std::string& text, std::stop_token) { err << text << std::endl; };
    if (!run.StartOwnServer(serverOptions))
        return Failed(err, "upgrade", site::FailureText(site::Failure::NoFileServer));
    site::SearchRequest request;
    request.seconds = options->seconds;
    request.interfaces = options->interfaces;
    // Both ports: the cameras' replies and notifications come to 8025.
    request.serveUpdates = true;
    const auto search = [&] {
        const site::SearchResult found = site::Search(session, request, SearchEvents(live));
        request.serveUpdates = false;  // started once for the whole command
        if (!found.ok())
            Failed(err, "upgrade", site::FailureText(found.failure));
        return found.ok();
    };
    if (!search())
        return kExitFailed;
    // A report sent from another address than the one it names may be
    // anyone's: where the camera's own report was heard too, that one is
    // taken, and what it says (its version before, its card) is the truth.
    std::vector<protocol::DeviceRow> found;
    {
        const std::vector<protocol::DeviceRow> rows = session.Table().Rows();
        const auto own = [](const protocol::DeviceRow& r) { return !protocol::IsHearsay(r.record, r.arrival); };
        std::set<std::string> heardFromThemselves;  // IP and MAC key
        for (const protocol::DeviceRow& row : rows) {
            if (own(row))
                heardFromThemselves.insert(Utf8Field(row.record.deviceIp) + " " + platform::MacKey(Utf8Field(row.record.mac)));
        }
        for (const protocol::DeviceRow& row : rows) {
            if (own(row) ||
                !heardFromThemselves.count(Utf8Field(row.record.deviceIp) + " " + platform::MacKey(Utf8Field(row.record.mac))))
                found.push_back(row);
        }
    }

    std::vector<protocol::DeviceRow> chosen;
    int missing = 0;
    if (options->all) {
        chosen = found;
    } else {
        for (const std::string& ip : options->ips) {
            // Its own report first, should another host speak for the address.
            auto row = std::find_if(found.begin(), found.end(), [&](const protocol::DeviceRow& r) {
                return ip == r.record.deviceIp && protocol::FromItsOwnAddress(r.record, r.arrival);
            });
            if (row == found.end())
                row = std::find_if(found.begin(), found.end(),
                                   [&](const protocol::DeviceRow& r) { return ip == r.record.deviceIp; });
            if (row == found.end()) {
                err << "lynx-cli upgrade: no camera answered from " << ip << "\n";
                ++missing;
            } else {
                chosen.push_back(*row);
            }
        }
    }
    if (chosen.empty()) {
        err << "lynx-cli upgrade: no camera to upgrade\n";
        return kExitFailed;
    }
    std::map<std::string, std::string> versionBefore;  // by MAC
    std::map<std::string, std::string> cardOf;         // by MAC: where it was found
    for (const protocol::DeviceRow& row : chosen) {
        cardOf[Utf8Field(row.record.mac)] = row.arrival.interfaceName;
        SiteReport::Row& entry = report.Camera(Utf8Field(row.record.mac));
        entry.oldIp = Utf8Field(row.record.deviceIp);
        entry.oldVersion = Utf8Field(row.record.softwareVersion);
        versionBefore[entry.mac] = entry.oldVersion;
    }

    upgrade::DeviceLookup devices;
    devices.deviceIdOfNumber = [&session](int number) -> std::optional<std::string> {
        const DeviceRecord* record = session.Table().ByNumber(number);
        if (!record)
            return std::nullopt;
        return std::string(record->deviceId, strnlen(record->deviceId, sizeof record->deviceId));
    };

    std::vector<protocol::DeviceRow> roundRows = chosen;
    std::set<std::string> finished;  // MACs that succeeded (and verified)
    for (int round = 0;; ++round) {
        if (round > 0)
            out << "retry " << round << " of " << options->retries << ": " << roundRows.size() << " cameras" << std::endl;
        list.SetRows(roundRows);
        run.Batch().Prepare(devices);
        roundDeadline = Clock::now() + std::chrono::seconds(options->waitSeconds);
        run.Confirm(options->file);
        if (run.Batch().url().empty())
            err << "lynx-cli upgrade: no camera could be reached on TCP port 8021; the requests carry no download address\n";
        // Settled once every job has reported, or was refused or never sent:
        // neither of those will report.
        if (options->parallel == 0)
            roundDeadline = Clock::now() + std::chrono::seconds(options->waitSeconds);
        session.CollectUntil(roundDeadline, filter, toBatch, [&] {
            ShowProgress(live, run.Batch());
            return run.Batch().Settled();
        });
        // A camera still downloading keeps the server up, whatever the jobs
        // say: one cut off now would fail for our hurry. The server itself
        // drops a download that stalls.
        if (const int open = run.DownloadsOpen(); open > 0) {
            err << "lynx-cli upgrade: waiting for " << open << " download(s) still in flight" << std::endl;
            const auto limit = Clock::now() + std::chrono::seconds(options->waitSeconds);
            while (run.DownloadsOpen() > 0 && Clock::now() < limit)
                session.CollectFor(std::chrono::milliseconds(100), filter, toBatch);
        }

        std::map<std::string, std::string> failed;  // MAC -> why
        std::set<std::string> succeeded;
        for (const UgInfo* job : run.Batch().jobs()) {
            const std::string mac = list.Mac(job->row);
            if (job->state == upgrade::UgState::Succeeded) {
                succeeded.insert(mac);
                continue;
            }
            const bool unreported = job->state == upgrade::UgState::Sent || job->state == upgrade::UgState::Upgrading;
            if (unreported)
                out << job->ip << "\t" << platform::TrUtf8("未报告升级结果") << std::endl;
            failed[mac] = unreported ? platform::TrUtf8("未报告升级结果")
                          : job->state == upgrade::UgState::Waiting ? "not sent before --wait ran out"
                                                                    : platform::TrUtf8(upgrade::StatusText(job->state));
        }
        out << list.Summary() << std::endl;

        if (options->verify && !succeeded.empty()) {
            // Each camera that reported success restarts with the new firmware:
            // searched for until it answers with a new version.
            std::set<std::string> unverified = succeeded;
            std::map<std::string, std::string> seen;  // MAC -> version heard
            const auto verifyDeadline = Clock::now() + std::chrono::seconds(options->rebootWaitSeconds);
            const auto check = [&] {
                for (const protocol::DeviceRow& row : session.Table().Rows()) {
                    const std::string mac = Utf8Field(row.record.mac);
                    // Only the camera's own word counts: from the address it
                    // reports, on the card it was found on.
                    if (!unverified.count(mac) || !protocol::FromItsOwnAddress(row.record, row.arrival, cardOf[mac]))
                        continue;
                    const std::string version = Utf8Field(row.record.softwareVersion);
                    seen[mac] = version;
                    SiteReport::Row& entry = report.Camera(mac);
                    entry.newIp = Utf8Field(row.record.deviceIp);
                    entry.newVersion = version;
                    if (version != versionBefore[mac] &&
                        (options->expectVersion.empty() || version == options->expectVersion)) {
                        report.AddStatus(mac, "verified: " + version + " at " + entry.newIp);
                        out << mac << "\tverified: " << version << " at " << entry.newIp << std::endl;
                        unverified.erase(mac);
                    }
                }
                return unverified.empty();
            };
            site::SearchUntil(session, verifyDeadline, check, toBatch);
            for (const std::string& mac : unverified) {
                const auto heard = seen.find(mac);
                std::string why = heard == seen.end() ? "did not come back within --reboot-wait"
                                  : heard->second == versionBefore[mac]
                                      ? "reported success but still runs " + heard->second
                                      : "runs " + heard->second + ", not " + options->expectVersion;
                out << mac << "\tnot verified: " << why << std::endl;
                report.AddStatus(mac, "not verified: " + why);
                failed[mac] = why;
                succeeded.erase(mac);
            }
        }
        for (const std::string& mac : succeeded) {
            finished.insert(mac);
            report.SetOutcome(mac, options->verify ? "verified" : "succeeded");
        }
        for (const auto& [mac, why] : failed)
            report.SetOutcome(mac, why);
        if (failed.empty() || round >= options->retries)
            break;

        // The next round takes the failed cameras as a new search finds them.
        if (!search())
            break;
        roundRows.clear();
        for (const protocol::DeviceRow& row : session.Table().Rows()) {
            if (failed.count(Utf8Field(row.record.mac)))
                roundRows.push_back(row);
        }
        if (roundRows.empty())
            break;
    }

    if (options->verify || options->retries > 0) {
        for (const SiteReport::Row& row : report.Rows())
            out << row.mac << "\t" << row.oldIp << "\t" << row.outcome << std::endl;
    }
    const bool written = SaveReport(report, options->report, err, "upgrade");
    const bool allSucceeded = missing == 0 && finished.size() == chosen.size();
    return allSucceeded && written ? kExitOk : kExitFailed;
}

} // namespace

int RunUpgrade(const Arguments& args, std::ostream& out, std::ostream& err)
{
    return Upgrade(args, out, err, nullptr);
}

int RunUpgradeCommand(const Arguments& args)
{
    LiveLine live;
    const int status = Upgrade(args, live.Out(), live.Err(), &live);
    live.Finish();
    return status;
}

} // namespace lynx::cli
