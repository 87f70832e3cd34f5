#include "site/UpgradeFlow.h"

#include "platform/MacKey.h"
#include "platform/Translation.h"
#include "protocol/JsonMessages.h"
#include "site/Unreachable.h"
#include "upgrade/UpgradeRun.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <optional>
#include <set>

namespace lynx::site {

namespace {

using protocol::FieldText;

template <class Event, class... Args>
void Tell(const Event& event, Args&&... args)
{
    if (event)
        event(std::forward<Args>(args)...);
}

// The batch's devices, by their record numbers: each status change is told
// and kept in the report, with the summary line when it changed.
class Jobs : public upgrade::UpgradeView {
public:
    Jobs(const UpgradeEvents& events, SiteReport& report) : m_events(events), m_report(report) {}

    // The devices of the next round, as the batch takes them, each judged
    // against the PC's cards as they are now.
    std::vector<upgrade::BatchDevice> Take(const std::vector<protocol::DeviceRow>& rows)
    {
        const CardSubnets cards;
        std::vector<upgrade::BatchDevice> devices;
        for (const protocol::DeviceRow& row : rows) {
            m_rows[row.number] = row;
            m_reasons[row.number] = cards.UnreachableReason(row.record, row.arrival);
            devices.push_back({row.number, FieldText(row.record.deviceIp),
                               std::string(protocol::FieldBytes(row.record.deviceId)), m_reasons[row.number]});
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
        const std::string ip = FieldText(row->second.record.deviceIp);
        Tell(m_events.status, ip, shown);
        m_report.AddStatus(Mac(device), text.empty() ? std::string() : shown);
        if (state == upgrade::UgState::Unreachable)
            Tell(m_events.warning, ip + ": " + m_reasons[device]);
    }

    // A camera's job at each change of state and each 10 % step of its download.
    void SetDownload(int device, upgrade::UgState state, const upgrade::DownloadProgress& download) override
    {
        const auto row = m_rows.find(device);
        if (row == m_rows.end() || !m_events.camera)
            return;
        const int percent = download.Percent();
        Told& told = m_told[device];
        if (told.state == state && told.step == percent / 10)
            return;
        told = {state, percent / 10};
        const std::string text = upgrade::StatusText(state);
        m_events.camera({Mac(device), FieldText(row->second.record.deviceIp), upgrade::StateKey(state),
                         text.empty() ? std::string() : platform::TrUtf8(text), percent, download.served});
    }

    void SetSummaryText(const std::string& text) override
    {
        if (text != m_summary)
            Tell(m_events.summary, text);
        m_summary = text;
    }
    void SetUpgrading(bool) override {}
    void AnnounceComplete() override { Tell(m_events.complete); }
    std::string SummaryFormat() const override { return platform::TrUtf8(upgrade::msg::kSummaryFormat); }

    const std::string& Summary() const { return m_summary; }
    std::string Mac(int device) const { return FieldText(m_rows.at(device).record.mac); }

private:
    const UpgradeEvents& m_events;
    SiteReport& m_report;
    std::map<int, protocol::DeviceRow> m_rows;  // by record number
    std::map<int, std::string> m_reasons;       // by record number: why the PC cannot reach it, empty when it can
    std::string m_summary;
    struct Told {
        std::optional<upgrade::UgState> state;
        int step = 0;  // tens of percent
    };
    std::map<int, Told> m_told;  // by record number: the camera's last event
};

// Each job's download into its camera's row of the report: the bytes served
// over every round, and the time of the download that took the whole file.
void RecordDownloads(const upgrade::UpgradeBatch& batch, const Jobs& jobs, SiteReport& report)
{
    report.ShowDownloads();
    for (const UgInfo* job : batch.jobs()) {
        SiteReport::Row& row = report.Camera(jobs.Mac(job->device));
        row.bytesServed += job->download.served;
        if (job->download.complete)
            row.downloadMs = job->download.took.count();
    }
}

void TellProgress(const UpgradeEvents& events, const upgrade::UpgradeBatch& batch)
{
    if (!events.progress)
        return;
    UpgradeProgress progress;
    int percents = 0;
    for (const UgInfo* job : batch.jobs()) {
        ++progress.total;
        const bool open = job->state == upgrade::UgState::Waiting || job->state == upgrade::UgState::Sent ||
                          job->state == upgrade::UgState::Upgrading;
        progress.done += open ? 0 : 1;
        progress.failed += open || job->state == upgrade::UgState::Succeeded ? 0 : 1;
        if (open && job->download.Started() && !job->download.complete) {
            ++progress.downloading;
            percents += job->download.Percent();
        }
    }
    progress.meanPercent = progress.downloading == 0 ? 0 : percents / progress.downloading;
    events.progress(progress);
}

// The search's rows, without hearsay where the camera's own report was heard
// too: a report sent from another address than the one it names may be
// anyone's, and what the camera's own says (its version before, its card) is
// the truth. A report from a card that contradicts the MAC it claims is no
// camera to upgrade at all.
std::vector<protocol::DeviceRow> OwnRows(const protocol::DeviceTable& table)
{
    const std::vector<protocol::DeviceRow> rows = table.Rows();
    const auto own = [](const protocol::DeviceRow& r) { return !protocol::IsHearsay(r.record, r.arrival); };
    const auto key = [](const protocol::DeviceRow& r) { return FieldText(r.record.deviceIp) + " " + platform::MacKey(FieldText(r.record.mac)); };
    std::set<std::string> heardFromThemselves;
    for (const protocol::DeviceRow& row : rows) {
        if (own(row))
            heardFromThemselves.insert(key(row));
    }
    std::vector<protocol::DeviceRow> kept;
    for (const protocol::DeviceRow& row : rows) {
        if (own(row) || (!heardFromThemselves.count(key(row)) && !row.arrival.hardwareDisowns))
            kept.push_back(row);
    }
    return kept;
}

// Collects what arrives until the deadline or until done, with the engine's
// tick between (the held success notices, the downloads): the session's own
// wait ends only when a datagram comes, and neither must wait for one.
void CollectTicking(protocol::DiscoverySession& session, Clock::time_point deadline,
                    const protocol::DuplicateFilter& filter, const std::function<void(protocol::Datagram&)>& toBatch,
                    const std::function<void()>& tick, const std::function<bool()>& done = {})
{
    const auto slice = std::chrono::milliseconds(upgrade::UpgradeRun::kTickMs);
    do {
        tick();
        session.CollectUntil(std::min(deadline, Clock::now() + slice), filter, toBatch, done);
    } while (Clock::now() < deadline && !(done && done()));
    tick();
}

// The cameras asked for, from the search's rows: all of them, or each one at
// an address (its own report first, should another host speak for the
// address) and each one with a MAC. One not found is told, and counted in
// *missing.
std::vector<protocol::DeviceRow> ChooseCameras(const UpgradeRequest& request, const std::vector<protocol::DeviceRow>& found,
                                               const UpgradeEvents& events, int* missing)
{
    if (request.all)
        return found;
    std::vector<protocol::DeviceRow> chosen;
    std::set<int> taken;  // record numbers
    const auto take = [&](std::vector<protocol::DeviceRow>::const_iterator row) {
        if (taken.insert(row->number).second)
            chosen.push_back(*row);
    };
    for (const std::string& ip : request.ips) {
        auto row = std::find_if(found.begin(), found.end(), [&](const protocol::DeviceRow& r) {
            return ip == r.record.deviceIp && protocol::FromItsOwnAddress(r.record, r.arrival);
        });
        if (row == found.end())
            row = std::find_if(found.begin(), found.end(), [&](const protocol::DeviceRow& r) { return ip == r.record.deviceIp; });
        if (row == found.end()) {
            Tell(events.warning, "no camera answered from " + ip);
            ++*missing;
        } else {
            take(row);
        }
    }
    for (const std::string& mac : request.macs) {
        const std::string key = platform::MacKey(mac);
        const auto row = std::find_if(found.begin(), found.end(), [&](const protocol::DeviceRow& r) {
            return platform::MacKey(FieldText(r.record.mac)) == key;
        });
        if (row == found.end()) {
            Tell(events.warning, "no camera answered with MAC " + mac);
            ++*missing;
        } else {
            take(row);
        }
    }
    return chosen;
}

} // namespace

UpgradeResult RunUpgrade(const UpgradeRequest& request, const UpgradeEvents& events)
{
    UpgradeResult result;
    SiteReport& report = result.report;

    // One session receives everything: the reports of the searches, and the
    // replies and notifications on port 8025 and on each camera's client.
    protocol::InitTransport();
    protocol::DiscoverySession session;
    auto jobsOwner = std::make_unique<Jobs>(events, report);
    Jobs& jobs = *jobsOwner;
    upgrade::UpgradeRun run(std::move(jobsOwner), {});
    run.Batch().SetParallel(request.parallel);
    const auto toBatch = [&run](protocol::Datagram& datagram) {
        run.Batch().OnDatagram(datagram.header, datagram.body, datagram.peerAddress);
    };
    const protocol::DuplicateFilter filter;
    Clock::time_point roundDeadline{};
    upgrade::UpgradeRun::FrontEnd frontEnd;
    const auto tick = [&] {
        run.Tick();
        TellProgress(events, run.Batch());
    };
    frontEnd.clientFailed = [&events] { Tell(events.notice, upgrade::msg::kClientError); };
    run.SetFrontEnd(std::move(frontEnd));

    upgrade::UpgradeFileServer::Options serverOptions;
    serverOptions.firstPort = 9000;
    // A stalled download is the batch's to give up: the server's own limit
    // lies beyond it.
    run.SetStallTime(std::chrono::seconds(std::max(1, request.stallSeconds)));
    serverOptions.ioTimeout = std::max<std::chrono::milliseconds>(serverOptions.ioTimeout,
                                                                  run.StallTime() + std::chrono::seconds(5));
    serverOptions.notify = [&events](const std::string& text, std::stop_token) { Tell(events.notice, text); };
    if (!run.StartOwnServer(serverOptions)) {
        result.failure = Failure::NoFileServer;
        return result;
    }
    SearchRequest search;
    search.seconds = request.seconds;
    search.interfaces = request.interfaces;
    // Both ports: the cameras' replies and notifications come to 8025.
    search.serveUpdates = true;
    const auto searchAgain = [&] {
        const SearchResult found = Search(session, search, events.searching);
        search.serveUpdates = false;  // started once for the whole flow
        return found.failure;
    };
    if ((result.failure = searchAgain()) != Failure::None)
        return result;

    int missing = 0;
    const std::vector<protocol::DeviceRow> chosen = ChooseCameras(request, OwnRows(session.Table()), events, &missing);
    if (chosen.empty()) {
        result.noneChosen = true;
        return result;
    }
    std::map<std::string, std::string> versionBefore;  // by MAC
    std::map<std::string, std::string> cardOf;         // by MAC: where it was found
    for (const protocol::DeviceRow& row : chosen) {
        cardOf[FieldText(row.record.mac)] = row.arrival.interfaceName;
        SiteReport::Row& entry = report.Camera(FieldText(row.record.mac));
        entry.oldIp = FieldText(row.record.deviceIp);
        entry.oldVersion = FieldText(row.record.softwareVersion);
        versionBefore[entry.mac] = entry.oldVersion;
    }

    std::vector<protocol::DeviceRow> roundRows = chosen;
    std::set<std::string> finished;  // MACs that succeeded (and verified)
    for (int round = 0;; ++round) {
        if (round > 0)
            Tell(events.retry, round, request.retries, roundRows.size());
        run.Batch().Prepare(jobs.Take(roundRows));
        roundDeadline = Clock::now() + std::chrono::seconds(request.waitSeconds);
        run.Confirm(request.file);
        // The rest of the requests go out from the ticks as they fall due;
        // a parallel batch waits for places until --wait runs out.
        const auto sendUntil = request.parallel == 0 ? Clock::time_point::max() : roundDeadline;
        CollectTicking(session, sendUntil, filter, toBatch, tick, [&] { return !run.Batch().Sending(); });
        run.Batch().StopSending();
        if (run.Batch().url().empty())
            Tell(events.warning, "no camera could be reached on TCP port 8021; the requests carry no download address");
        // Settled once every job has reported, or was refused or never sent:
        // neither of those will report.
        if (request.parallel == 0)
            roundDeadline = Clock::now() + std::chrono::seconds(request.waitSeconds);
        CollectTicking(session, roundDeadline, filter, toBatch, tick, [&] { return run.Batch().Settled(); });
        // A camera still downloading keeps the server up, whatever the jobs
        // say: one cut off now would fail for our hurry. The server itself
        // drops a download that stalls.
        if (const int open = run.DownloadsOpen(); open > 0) {
            Tell(events.warning, "waiting for " + std::to_string(open) + " download(s) still in flight");
            const auto limit = Clock::now() + std::chrono::seconds(request.waitSeconds);
            CollectTicking(session, limit, filter, toBatch, tick, [&] { return run.DownloadsOpen() == 0; });
        }
        // A success notice still waiting for its download is settled first,
        // within its grace.
        CollectTicking(session, Clock::now() + upgrade::UpgradeBatch::kProofGrace, filter, toBatch, tick,
                       [&] { return !run.Batch().Holding(); });
        RecordDownloads(run.Batch(), jobs, report);

        std::map<std::string, std::string> failed;  // MAC -> why
        std::set<std::string> succeeded;
        for (const UgInfo* job : run.Batch().jobs()) {
            const std::string mac = jobs.Mac(job->device);
            if (job->state == upgrade::UgState::Succeeded) {
                succeeded.insert(mac);
                continue;
            }
            const bool unreported = job->state == upgrade::UgState::Sent || job->state == upgrade::UgState::Upgrading;
            if (unreported)
                Tell(events.unreported, job->ip);
            failed[mac] = unreported ? platform::TrUtf8("未报告升级结果")
                          : job->state == upgrade::UgState::Waiting     ? "not sent before --wait ran out"
                          : job->state == upgrade::UgState::Unreachable ? job->unreachable
                                                                        : platform::TrUtf8(upgrade::StatusText(job->state));
        }
        Tell(events.roundEnded, jobs.Summary());

        if (request.verify && !succeeded.empty()) {
            // Each camera that reported success restarts with the new firmware:
            // searched for until it answers with a new version.
            std::set<std::string> unverified = succeeded;
            std::map<std::string, std::string> seen;  // MAC -> version heard
            const auto verifyDeadline = Clock::now() + std::chrono::seconds(request.rebootWaitSeconds);
            const auto check = [&] {
                for (const protocol::DeviceRow& row : session.Table().Rows()) {
                    const std::string mac = FieldText(row.record.mac);
                    // Only the camera's own word counts: from the address it
                    // reports, on the card it was found on.
                    if (!unverified.count(mac) || !protocol::FromItsOwnAddress(row.record, row.arrival, cardOf[mac]))
                        continue;
                    const std::string version = FieldText(row.record.softwareVersion);
                    seen[mac] = version;
                    SiteReport::Row& entry = report.Camera(mac);
                    entry.newIp = FieldText(row.record.deviceIp);
                    entry.newVersion = version;
                    if (version != versionBefore[mac] &&
                        (request.expectVersion.empty() || version == request.expectVersion)) {
                        report.AddStatus(mac, "verified: " + version + " at " + entry.newIp);
                        Tell(events.verified, mac, version, entry.newIp);
                        unverified.erase(mac);
                    }
                }
                return unverified.empty();
            };
            SearchUntil(session, verifyDeadline, check, toBatch);
            for (const std::string& mac : unverified) {
                const auto heard = seen.find(mac);
                std::string why = heard == seen.end() ? "did not come back within --reboot-wait"
                                  : heard->second == versionBefore[mac]
                                      ? "reported success but still runs " + heard->second
                                      : "runs " + heard->second + ", not " + request.expectVersion;
                Tell(events.notVerified, mac, why);
                report.AddStatus(mac, "not verified: " + why);
                failed[mac] = why;
                succeeded.erase(mac);
            }
        }
        for (const std::string& mac : succeeded) {
            finished.insert(mac);
            report.SetOutcome(mac, request.verify ? "verified" : "succeeded");
        }
        for (const auto& [mac, why] : failed)
            report.SetOutcome(mac, why);
        if (failed.empty() || round >= request.retries)
            break;

        // The next round takes the failed cameras as a new search finds them.
        if (const Failure failure = searchAgain(); failure != Failure::None) {
            Tell(events.warning, FailureText(failure));
            break;
        }
        roundRows.clear();
        for (const protocol::DeviceRow& row : session.Table().Rows()) {
            if (failed.count(FieldText(row.record.mac)))
                roundRows.push_back(row);
        }
        if (roundRows.empty())
            break;
    }
    result.allSucceeded = missing == 0 && finished.size() == chosen.size();
    return result;
}

} // namespace lynx::site
