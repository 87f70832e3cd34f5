#include "cli/UpgradeCommand.h"

#include "cli/DeviceOutput.h"
#include "cli/InterfaceOption.h"
#include "cli/OptionReader.h"
#include "cli/SearchCommand.h"
#include "cli/SiteReport.h"
#include "platform/MacKey.h"
#include "platform/Numbers.h"
#include "platform/Translation.h"
#include "protocol/DiscoverySession.h"
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

// The chosen devices, by their record numbers; status changes and the
// summary line are printed as they happen.
class ConsoleList : public upgrade::UpgradeView {
public:
    ConsoleList(std::ostream& out, SiteReport& report) : m_out(out), m_report(report) {}

    // The devices of the next round, and the batch's devices for them.
    std::vector<upgrade::BatchDevice> SetRows(const std::vector<protocol::DeviceRow>& rows)
    {
        std::vector<upgrade::BatchDevice> devices;
        for (const protocol::DeviceRow& row : rows) {
            m_rows[row.number] = row;
            devices.push_back({row.number, Utf8Field(row.record.deviceIp),
                               std::string(row.record.deviceId, strnlen(row.record.deviceId, sizeof row.record.deviceId))});
        }
        return devices;
    }
    void SetStatus(int device, upgrade::UgState state) override
    {
        const auto row = m_rows.find(device);
        if (row == m_rows.end())
            return;
        const std::string text = upgrade::StatusText(state);
        const std::string shown = platform::TrUtf8(text.empty() ? "(状态已清空)" : text);
        m_out << Utf8Field(row->second.record.deviceIp) << "\t" << shown << std::endl;
        m_report.AddStatus(Mac(device), text.empty() ? std::string() : shown);
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
    std::string Mac(int device) const { return Utf8Field(m_rows.at(device).record.mac); }

private:
    std::map<int, protocol::DeviceRow> m_rows;  // by record number
    std::ostream& m_out;
    SiteReport& m_report;
    std::string m_summary;
};

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
    std::string value;
    while (reader.Next()) {
        const std::string& a = reader.Name();
        if (a == "--file") {
            if (!reader.TakeValue(value, error))
                return std::nullopt;
            options.file = value;
        } else if (a == "--seconds" || a == "--wait") {
            if (!reader.TakeValue(value, error))
                return std::nullopt;
            const std::optional<long long> n = platform::WholeNumber(value);
            if (!n || (a == "--wait" && *n < 0)) {
                *error = a + " takes a whole number" + (a == "--wait" ? " of at least 0" : "") + ", not '" + value + "'";
                return std::nullopt;
            }
            if (a == "--seconds")
                options.seconds = ClampSearchSeconds(*n);
            else
                options.waitSeconds = static_cast<int>(std::min<long long>(*n, 7 * 24 * 3600));
        } else if (a == "--reboot-wait" || a == "--parallel" || a == "--retry") {
            if (!reader.TakeValue(value, error))
                return std::nullopt;
            const std::optional<long long> n = platform::WholeNumber(value);
            const long long least = a == "--parallel" ? 1 : 0;
            if (!n || *n < least) {
                *error = a + " takes a whole number of at least " + std::to_string(least) + ", not '" + value + "'";
                return std::nullopt;
            }
            const int bounded = static_cast<int>(std::min<long long>(*n, 7 * 24 * 3600));
            (a == "--reboot-wait" ? options.rebootWaitSeconds : a == "--parallel" ? options.parallel : options.retries) =
                bounded;
        } else if (a == "--expect-version" || a == "--report") {
            if (!reader.TakeValue(value, error))
                return std::nullopt;
            if (value.empty()) {
                *error = a + " needs a value";
                return std::nullopt;
            }
            (a == "--report" ? options.report : options.expectVersion) = value;
        } else if (a == "--interface") {
            if (!reader.TakeValue(value, error))
                return std::nullopt;
            options.interfaces.push_back(value);
        } else if (a == "--ip") {
            sawIp = true;
            if (!reader.TakeValue(value, error))
                return std::nullopt;
            // Further addresses may follow without repeating --ip.
            for (;;) {
                if (!IsDottedIpv4(value)) {
                    *error = "--ip takes an IPv4 address, not '" + value + "'";
                    return std::nullopt;
                }
                if (std::find(options.ips.begin(), options.ips.end(), value) == options.ips.end())
                    options.ips.push_back(value);
                if (reader.HasInlineValue() || !reader.TakeFollowing(value))
                    break;
            }
        } else if (reader.HasInlineValue()) {
            *error = a + " takes no value";
            return std::nullopt;
        } else if (a == "--all") {
            options.all = true;
        } else if (a == "--verify") {
            options.verify = true;
        } else if (a == "--help" || a == "-h") {
            options.help = true;
        } else {
            *error = "unknown option '" + a + "'";
            return std::nullopt;
        }
    }
    if (options.help)
        return options;
    if (options.file.empty()) {
        *error = "--file is required";
        return std::nullopt;
    }
    // Checked here, before anything is sent: a file the cameras cannot unpack
    // would fail every one of them only after its download.
    if (const auto fault = upgrade::FirmwareFileFault(options.file)) {
        *error = platform::TrUtf8(*fault) + options.file;
        return std::nullopt;
    }
    if (!CheckInterfaceNames(options.interfaces, error))
        return std::nullopt;
    if (options.all == sawIp) {
        *error = options.all ? "--all and --ip exclude each other" : "choose the cameras with --all or --ip";
        return std::nullopt;
    }
    if (!options.expectVersion.empty() && !options.verify) {
        *error = "--expect-version needs --verify";
        return std::nullopt;
    }
    if (!options.report.empty() && !SiteReport::CanWrite(options.report, error))
        return std::nullopt;
    return options;
}

int RunUpgrade(const Arguments& args, std::ostream& out, std::ostream& err)
{
    std::string error;
    const std::optional<UpgradeOptions> options = ParseUpgradeOptions(args, &error);
    if (!options) {
        err << "lynx-cli upgrade: " << error << "\n" << platform::TrUtf8(UpgradeUsage());
        return kExitUsage;
    }
    if (options->help) {
        out << platform::TrUtf8(UpgradeUsage());
        return kExitOk;
    }

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
    frontEnd.pause = [&](int milliseconds) { session.CollectFor(std::chrono::milliseconds(milliseconds), filter, toBatch); };
    frontEnd.clientFailed = [&err] { err << upgrade::msg::kClientError << std::endl; };
    frontEnd.giveUp = [&roundDeadline] { return Clock::now() >= roundDeadline; };
    run.SetFrontEnd(std::move(frontEnd));

    upgrade::UpgradeFileServer::Options serverOptions;
    serverOptions.firstPort = 9000;
    serverOptions.notify = [&err](const std::string& text, std::stop_token) { err << text << std::endl; };
    if (!run.StartOwnServer(serverOptions)) {
        err << "lynx-cli upgrade: no port from 9000 up is free for the firmware server\n";
        return kExitFailed;
    }
    // Both ports: the cameras' replies and notifications come to 8025.
    if (!session.StartServers() || session.PortTaken()) {
        err << "lynx-cli upgrade: " << ServerFailureText(session) << "\n";
        return kExitFailed;
    }
    session.SetInterfaces(options->interfaces);
    const auto search = [&](const protocol::DuplicateFilter& rules) {
        if (!session.Search()) {
            err << "lynx-cli upgrade: the search request went out on no network interface\n";
            return false;
        }
        session.CollectFor(std::chrono::seconds(options->seconds), rules);
        return true;
    };
    if (!search(filter))
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

    std::vector<protocol::DeviceRow> roundRows = chosen;
    std::set<std::string> finished;  // MACs that succeeded (and verified)
    for (int round = 0;; ++round) {
        if (round > 0)
            out << "retry " << round << " of " << options->retries << ": " << roundRows.size() << " cameras" << std::endl;
        run.Batch().Prepare(list.SetRows(roundRows));
        roundDeadline = Clock::now() + std::chrono::seconds(options->waitSeconds);
        run.Confirm(options->file);
        if (run.Batch().url().empty())
            err << "lynx-cli upgrade: no camera could be reached on TCP port 8021; the requests carry no download address\n";
        // Settled once every job has reported, or was refused or never sent:
        // neither of those will report.
        if (options->parallel == 0)
            roundDeadline = Clock::now() + std::chrono::seconds(options->waitSeconds);
        session.CollectUntil(roundDeadline, filter, toBatch, [&run] { return run.Batch().Settled(); });
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
            const std::string mac = list.Mac(job->device);
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
            while (!unverified.empty() && Clock::now() < verifyDeadline) {
                if (!session.Search())
                    break;
                const auto until = std::min(verifyDeadline, Clock::now() + std::chrono::seconds(3));
                session.CollectUntil(until, protocol::DuplicateFilter{false, false}, toBatch, check);
                check();
            }
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
        if (!search(filter))
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
    std::string writeError;
    const bool written = options->report.empty() || report.Write(options->report, &writeError);
    if (!written)
        err << "lynx-cli upgrade: " << writeError << "\n";
    const bool allSucceeded = missing == 0 && finished.size() == chosen.size();
    return allSucceeded && written ? kExitOk : kExitFailed;
}

int RunUpgradeCommand(const Arguments& args)
{
    return RunUpgrade(args, std::cout, std::cerr);
}

} // namespace lynx::cli
