#include "site/UpgradeFlow.h"

#include "platform/MacKey.h"
#include "platform/Translation.h"
#include "protocol/JsonMessages.h"
#include "site/DeviceStatus.h"
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
        const std::string text = StatusText(state);
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
        const std::string text = StatusText(state);
        m_events.camera({Mac(device), FieldText(row->second.record.deviceIp), StateKey(StatusOf(state)),
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

// One run of the flow: the session that receives everything (the reports of
// the searches, and the replies and notifications on port 8025 and on each
// camera's client), the batch with its server, and the rounds.
class Flow {
public:
    Flow(const UpgradeRequest& request, const UpgradeEvents& events, UpgradeResult& result)
        : m_request(request), m_events(events), m_report(result.report), m_result(result),
          m_run(TakeJobs(events, result.report), {})
    {
        m_run.Batch().SetParallel(request.parallel);
        upgrade::UpgradeRun::FrontEnd frontEnd;
        frontEnd.clientFailed = [&events] { Tell(events.notice, upgrade::msg::kClientError); };
        m_run.SetFrontEnd(std::move(frontEnd));
    }

    bool StartServer();
    // The first search, and the cameras chosen from it; false when none.
    bool Choose();
    // The rounds, each for the cameras the last one failed.
    void Rounds();

private:
    std::unique_ptr<Jobs> TakeJobs(const UpgradeEvents& events, SiteReport& report)
    {
        auto jobs = std::make_unique<Jobs>(events, report);
        m_jobs = jobs.get();
        return jobs;
    }
    Failure SearchAgain();
    // The batch's steps until the deadline or until done: the session's wake
    // waited on until the engine's next deadline (a tick at the latest), what
    // arrived applied, then the engine's tick.
    void Drive(Clock::time_point deadline, const std::function<bool()>& done = {});
    void Tick();
    // One round's batch: the requests as they fall due, the cameras' reports,
    // the downloads in flight and the success notices held for their proof.
    void Round(const std::vector<protocol::DeviceRow>& rows);
    // Each camera's outcome of the round: those that succeeded, and why each
    // other one failed.
    std::set<std::string> Outcomes(std::map<std::string, std::string>& failed);
    // The cameras that reported success, searched for until each runs a new
    // version; those that do not are moved to failed.
    void Verify(std::set<std::string>& succeeded, std::map<std::string, std::string>& failed);

    const UpgradeRequest& m_request;
    const UpgradeEvents& m_events;
    SiteReport& m_report;
    UpgradeResult& m_result;
    protocol::DiscoverySession m_session;
    Jobs* m_jobs = nullptr;  // the batch's view
    upgrade::UpgradeRun m_run;
    const protocol::DuplicateFilter m_filter;
    SearchRequest m_search;
    int m_missing = 0;
    std::vector<protocol::DeviceRow> m_chosen;
    std::map<std::string, std::string> m_versionBefore;  // by MAC
    std::map<std::string, std::string> m_cardOf;         // by MAC: where it was found
};

void Flow::Tick()
{
    m_run.Tick();
    TellProgress(m_events, m_run.Batch());
}

void Flow::Drive(Clock::time_point deadline, const std::function<bool()>& done)
{
    const auto toBatch = [this](protocol::Datagram& datagram) {
        m_run.Batch().OnDatagram(datagram.header, datagram.body, datagram.peerAddress);
    };
    // A request fallen due (a place freed by what arrived) ends the wait.
    const auto stepDue = [&] {
        const auto send = m_run.Batch().NextSendAt();
        return (done && done()) || (send && *send <= Clock::now());
    };
    for (;;) {
        Tick();
        if ((done && done()) || Clock::now() >= deadline)
            return;
        // What is waited for may lie outside the inbox too (the server's
        // downloads in flight): looked at again at least once a tick.
        const auto now = Clock::now();
        const auto slice = now + std::chrono::milliseconds(upgrade::UpgradeRun::kTickMs);
        const auto until = std::min({m_run.NextDeadline(now).value_or(slice), slice, deadline});
        m_session.CollectUntil(until, m_filter, toBatch, stepDue);
    }
}

bool Flow::StartServer()
{
    upgrade::UpgradeFileServer::Options serverOptions;
    serverOptions.firstPort = 9000;
    // A stalled download is the batch's to give up: the server's own limit
    // lies beyond it.
    m_run.SetStallTime(std::chrono::seconds(std::max(1, m_request.stallSeconds)));
    serverOptions.ioTimeout = std::max<std::chrono::milliseconds>(serverOptions.ioTimeout,
                                                                  m_run.StallTime() + std::chrono::seconds(5));
    serverOptions.notify = [this](const std::string& text, std::stop_token) { Tell(m_events.notice, text); };
    return m_run.StartOwnServer(serverOptions);
}

Failure Flow::SearchAgain()
{
    const SearchResult found = Search(m_session, m_search, m_events.searching);
    m_search.serveUpdates = false;  // started once for the whole flow
    return found.failure;
}

bool Flow::Choose()
{
    m_search.seconds = m_request.seconds;
    m_search.interfaces = m_request.interfaces;
    // Both ports: the cameras' replies and notifications come to 8025.
    m_search.serveUpdates = true;
    if ((m_result.failure = SearchAgain()) != Failure::None)
        return false;
    m_chosen = ChooseCameras(m_request, OwnRows(m_session.Table()), m_events, &m_missing);
    if (m_chosen.empty()) {
        m_result.noneChosen = true;
        return false;
    }
    for (const protocol::DeviceRow& row : m_chosen) {
        m_cardOf[FieldText(row.record.mac)] = row.arrival.interfaceName;
        SiteReport::Row& entry = m_report.Camera(FieldText(row.record.mac));
        entry.oldIp = FieldText(row.record.deviceIp);
        entry.oldVersion = FieldText(row.record.softwareVersion);
        m_versionBefore[entry.mac] = entry.oldVersion;
    }
    return true;
}

void Flow::Round(const std::vector<protocol::DeviceRow>& rows)
{
    upgrade::UpgradeBatch& batch = m_run.Batch();
    batch.Prepare(m_jobs->Take(rows));
    auto roundDeadline = Clock::now() + std::chrono::seconds(m_request.waitSeconds);
    m_run.Confirm(m_request.file);
    if (batch.url().empty())
        Tell(m_events.warning, "no camera could be reached on TCP port 8021; the requests carry no download address");
    // One at a time, every request goes out and the wait runs from the last;
    // a parallel batch waits for places within --wait.
    if (m_request.parallel == 0) {
        Drive(Clock::time_point::max(), [&] { return !batch.Sending(); });
        roundDeadline = Clock::now() + std::chrono::seconds(m_request.waitSeconds);
    }
    // Settled once every job has reported, or was refused or never sent:
    // neither of those will report.
    Drive(roundDeadline, [&] { return !batch.Sending() && batch.Settled(); });
    batch.StopSending();
    // A camera still downloading keeps the server up, whatever the jobs
    // say: one cut off now would fail for our hurry. The server itself
    // drops a download that stalls.
    if (const int open = m_run.DownloadsOpen(); open > 0) {
        Tell(m_events.warning, "waiting for " + std::to_string(open) + " download(s) still in flight");
        Drive(Clock::now() + std::chrono::seconds(m_request.waitSeconds), [&] { return m_run.DownloadsOpen() == 0; });
    }
    // A success notice still waiting for its download is settled first,
    // within its grace.
    Drive(Clock::now() + upgrade::UpgradeBatch::kProofGrace, [&] { return !batch.Holding(); });
    // The wait is over: a camera that never reported ends so, as the window's does.
    if (!batch.Settled())
        batch.EndUnreported();
    RecordDownloads(batch, *m_jobs, m_report);
}

std::set<std::string> Flow::Outcomes(std::map<std::string, std::string>& failed)
{
    std::set<std::string> succeeded;
    for (const UgInfo* job : m_run.Batch().jobs()) {
        const std::string mac = m_jobs->Mac(job->device);
        if (job->state == upgrade::UgState::Succeeded) {
            succeeded.insert(mac);
            continue;
        }
        failed[mac] = job->state == upgrade::UgState::Waiting       ? "not sent before --wait ran out"
                      : job->state == upgrade::UgState::Unreachable ? job->unreachable
                                                                    : platform::TrUtf8(StatusText(job->state));
    }
    Tell(m_events.roundEnded, m_jobs->Summary());
    return succeeded;
}

void Flow::Verify(std::set<std::string>& succeeded, std::map<std::string, std::string>& failed)
{
    // Each camera that reported success restarts with the new firmware:
    // searched for until it answers with a new version.
    std::set<std::string> unverified = succeeded;
    std::map<std::string, std::string> seen;  // MAC -> version heard
    const auto verifyDeadline = Clock::now() + std::chrono::seconds(m_request.rebootWaitSeconds);
    const auto check = [&] {
        for (const protocol::DeviceRow& row : m_session.Table().Rows()) {
            const std::string mac = FieldText(row.record.mac);
            // Only the camera's own word counts: from the address it
            // reports, on the card it was found on.
            if (!unverified.count(mac) || !protocol::FromItsOwnAddress(row.record, row.arrival, m_cardOf[mac]))
                continue;
            const std::string version = FieldText(row.record.softwareVersion);
            seen[mac] = version;
            SiteReport::Row& entry = m_report.Camera(mac);
            entry.newIp = FieldText(row.record.deviceIp);
            entry.newVersion = version;
            if (version != m_versionBefore[mac] &&
                (m_request.expectVersion.empty() || version == m_request.expectVersion)) {
                m_report.AddStatus(mac, "verified: " + version + " at " + entry.newIp);
                Tell(m_events.verified, mac, version, entry.newIp);
                unverified.erase(mac);
            }
        }
        return unverified.empty();
    };
    SearchUntil(m_session, verifyDeadline, check, [this](protocol::Datagram& datagram) {
        m_run.Batch().OnDatagram(datagram.header, datagram.body, datagram.peerAddress);
    });
    for (const std::string& mac : unverified) {
        const auto heard = seen.find(mac);
        std::string why = heard == seen.end() ? "did not come back within --reboot-wait"
                          : heard->second == m_versionBefore[mac]
                              ? "reported success but still runs " + heard->second
                              : "runs " + heard->second + ", not " + m_request.expectVersion;
        Tell(m_events.notVerified, mac, why);
        m_report.AddStatus(mac, "not verified: " + why);
        failed[mac] = why;
        succeeded.erase(mac);
    }
}

void Flow::Rounds()
{
    std::vector<protocol::DeviceRow> roundRows = m_chosen;
    std::set<std::string> finished;  // MACs that succeeded (and verified)
    for (int round = 0;; ++round) {
        if (round > 0)
            Tell(m_events.retry, round, m_request.retries, roundRows.size());
        Round(roundRows);
        std::map<std::string, std::string> failed;  // MAC -> why
        std::set<std::string> succeeded = Outcomes(failed);
        if (m_request.verify && !succeeded.empty())
            Verify(succeeded, failed);
        for (const std::string& mac : succeeded) {
            finished.insert(mac);
            m_report.SetOutcome(mac, m_request.verify ? "verified" : "succeeded");
        }
        for (const auto& [mac, why] : failed)
            m_report.SetOutcome(mac, why);
        if (failed.empty() || round >= m_request.retries)
            break;

        // The next round takes the failed cameras as a new search finds them.
        if (const Failure failure = SearchAgain(); failure != Failure::None) {
            Tell(m_events.warning, FailureText(failure));
            break;
        }
        roundRows.clear();
        for (const protocol::DeviceRow& row : m_session.Table().Rows()) {
            if (failed.count(FieldText(row.record.mac)))
                roundRows.push_back(row);
        }
        if (roundRows.empty())
            break;
    }
    m_result.allSucceeded = m_missing == 0 && finished.size() == m_chosen.size();
}

} // namespace

UpgradeResult RunUpgrade(const UpgradeRequest& request, const UpgradeEvents& events)
{
    UpgradeResult result;
    protocol::InitTransport();
    Flow flow(request, events, result);
    if (!flow.StartServer()) {
        result.failure = Failure::NoFileServer;
        return result;
    }
    if (flow.Choose())
        flow.Rounds();
    return result;
}

} // namespace lynx::site
