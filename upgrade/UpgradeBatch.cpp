#include "upgrade/UpgradeBatch.h"

#include "upgrade/UrlPath.h"

#include "platform/Numbers.h"
#include "protocol/JsonMessages.h"
#include "protocol/Transport.h"

#include <arpa/inet.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

namespace lynx::upgrade {

namespace {

// A job's identifier fills a 16-byte field, as a device record's does.
constexpr size_t kDeviceIdChars = sizeof(UgInfo::deviceId) - 1;

// Whether a datagram from this sender (IPv4, host byte order; 0 when not known)
// may speak for the job: only the camera its request went to may. Tags are
// small counters and identifiers are heard by any search, so anyone on the
// LAN could otherwise settle another camera's job.
bool FromJobsCamera(const UgInfo& job, uint32_t from)
{
    if (from == 0)
        return true;
    in_addr camera{};
    return ::inet_pton(AF_INET, job.ip.c_str(), &camera) == 1 && ntohl(camera.s_addr) == from;
}

} // namespace

UpgradeBatch::UpgradeBatch(std::unique_ptr<UpgradeView> view) : m_view(std::move(view)) {}

UpgradeBatch::~UpgradeBatch() = default;

int UpgradeBatch::Prepare(const std::vector<BatchDevice>& devices)
{
    m_total = m_sent = m_succeeded = m_failed = 0;
    m_announced = false;
    m_sending = false;
    m_url.clear();
    m_pending.clear();
    m_queue.clear();
    m_jobs.clear();
    m_next = m_queue.end();

    for (const BatchDevice& device : devices) {
        auto job = std::make_unique<UgInfo>();
        job->id = ++m_lastJobId;
        job->device = device.device;
        job->ip = device.ip;
        std::strncpy(job->deviceId, device.deviceId.c_str(), kDeviceIdChars);
        job->unreachable = device.unreachable;
        ++m_total;
        if (!job->unreachable.empty()) {
            job->state = UgState::Unreachable;
            ++m_sent;
            ++m_failed;
            Show(*job, UgState::Unreachable);
        } else {
            Show(*job, UgState::Waiting);
            m_queue.push_back(job.get());
            m_pending.push_back(job.get());
        }
        m_jobs.push_back(std::move(job));
    }
    return m_total;
}

void UpgradeBatch::Cancel()
{
    for (const auto& job : m_jobs) {
        job->state = UgState::Cleared;
        Show(*job, UgState::Cleared);
    }
}

void UpgradeBatch::Confirm(const std::string& firmwarePath, const UpgradeSendHooks& hooks)
{
    m_view->SetUpgrading(true);
    SendUpdateCommands(firmwarePath, hooks);
    UpdateSummary();
}

void UpgradeBatch::SendUpdateCommands(const std::string& firmwarePath, const UpgradeSendHooks& hooks)
{
    m_hooks = hooks;
    m_fileName = FileNameOf(firmwarePath);
    m_hooks.publishFile(firmwarePath, m_fileName);
    m_url.clear();
    m_next = m_queue.begin();
    m_sending = true;
    const TimePoint now = Now();
    m_sendAt = now;
    SendDue(now);
}

void UpgradeBatch::SendDue(TimePoint now)
{
    // Replies and notifications are applied between the steps; they never
    // touch the queue, so m_next stays valid.
    while (m_sending) {
        if (m_next == m_queue.end() || (m_hooks.stopped && m_hooks.stopped())) {
            StopSending();
            return;
        }
        // A place of a parallel batch is freed by a camera's report, whose
        // arrival asks for the next step.
        if (m_parallel > 0 && InFlight() >= m_parallel)
            return;
        if (now < m_sendAt) {
            m_view->ReviewAfter(static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(m_sendAt - now).count()));
            return;
        }
        if (!SendNext())
            m_sendAt = now + kPauseAfterFailure;
        else if (m_parallel == 0)
            m_sendAt = now + kPauseAfterSent;
    }
}

bool UpgradeBatch::SendNext()
{
    UgInfo& job = **m_next;
    uint16_t handle = 0;
    if (auto client = m_clients.find(job.ip); client != m_clients.end()) {
        handle = client->second;
    } else if (m_hooks.startClient(job.ip, handle)) {
        m_clients[job.ip] = handle;
    } else {
        handle = 0;
        m_hooks.clientFailed();
    }

    // The PC's address as each camera reaches it: on a PC with several
    // network cards it differs from one camera segment to another, and a
    // camera told another card's address could not download. A camera
    // towards which none is found is given the last one found.
    const std::string local = m_hooks.localAddress(job.ip);
    if (!local.empty())
        m_url = "http://" + local + ":" + std::to_string(m_hooks.httpPort()) + "/" + PercentEncoded(m_fileName);
    // A request that could not be sent before is tried again, counted as
    // sent once and as failed no longer.
    if (job.state == UgState::SendFailed)
        --m_failed;
    else
        ++m_sent;
    UpdateSummary();
    Show(job, UgState::Sent);
    // The request names the device by its record's identifier, the one its
    // notification is matched against; an address looked up afresh could
    // name another record, or none after the device was readdressed.
    if (m_hooks.sendUpdate(m_url, job.deviceId, handle, job.ip, job.id)) {
        job.state = UgState::Sent;
        m_next = m_queue.erase(m_next);
        return true;
    }
    job.state = UgState::SendFailed;
    ++m_failed;
    Show(job, UgState::SendFailed);
    UpdateSummary();
    ++m_next;
    return false;
}

std::optional<UpgradeBatch::TimePoint> UpgradeBatch::NextSendAt() const
{
    if (!m_sending || (m_parallel > 0 && InFlight() >= m_parallel))
        return std::nullopt;
    return m_sendAt;
}

void UpgradeBatch::StopSending()
{
    if (!m_sending)
        return;
    m_sending = false;
    m_view->SetUpgrading(false);
}

void UpgradeBatch::WantTickForAPlace()
{
    if (m_sending && m_parallel > 0 && m_next != m_queue.end() && InFlight() < m_parallel)
        m_view->ReviewAfter(0);
}

void UpgradeBatch::UpdateSummary()
{
    m_view->SetSummaryText(SummaryText(m_total, done(), m_succeeded, m_failed, m_view->SummaryFormat()));
    if (m_sent == m_total && m_total != 0) {
        m_view->SetUpgrading(false);
        // The summary is written again after the send loop and after every
        // notification; the end of the batch is told only the first time. A
        // job given up for its stalled download has ended too.
        const bool ended = std::all_of(m_pending.begin(), m_pending.end(),
                                       [](const UgInfo* job) { return job->state == UgState::Stalled; });
        if (ended && !m_announced) {
            m_announced = true;
            m_view->AnnounceComplete();
        }
    }
}

UgInfo* UpgradeBatch::JobOfTag(uint32_t tag)
{
    // Ids run up from the first job's, in the order of m_jobs.
    if (m_jobs.empty() || tag < m_jobs.front()->id || tag - m_jobs.front()->id >= m_jobs.size())
        return nullptr;
    return m_jobs[tag - m_jobs.front()->id].get();
}

std::vector<const UgInfo*> UpgradeBatch::jobs() const
{
    std::vector<const UgInfo*> all;
    for (const auto& job : m_jobs)
        all.push_back(job.get());
    return all;
}

int UpgradeBatch::InFlight() const
{
    return static_cast<int>(
        std::count_if(m_pending.begin(), m_pending.end(), [](const UgInfo* job) { return MayStillReport(job->state); }));
}

bool UpgradeBatch::Settled() const
{
    return std::all_of(m_pending.begin(), m_pending.end(), [](const UgInfo* job) { return WillNotReport(job->state); });
}

void UpgradeBatch::OnDatagram(const PacketHeader& header, const std::string& body, uint32_t from)
{
    if (header.bodyMarker != protocol::kMarkerBody)
        return;
    if (header.command == protocol::kCmdUpdateStatus) {
        // The identifier comes out in code page 936, as the records hold it.
        UpdateStatusRecord notification{};
        if (protocol::ParseNotificationBody(body, notification))
            OnNotification(notification, from);
    } else if (header.command == protocol::kCmdUpdate) {
        // Only a request that went out can be answered, and only once: a reply
        // for another job, a repeated one, or one after the notification would
        // rewrite a status that is not its own and count a failure twice.
        UgInfo* job = JobOfTag(header.tag);
        if (!job || job->state != UgState::Sent)
            return;
        // The tag is a small counter, which anyone can guess.
        if (!FromJobsCamera(*job, from))
            return;
        if (header.result == protocol::kResultAccepted) {
            job->state = UgState::Upgrading;
            Show(*job, UgState::Upgrading);
        } else {
            job->state = UgState::Refused;
            Show(*job, UgState::Refused);
            ++m_failed;
            UpdateSummary();
        }
    }
    WantTickForAPlace();
}

void UpgradeBatch::OnNotification(const UpdateStatusRecord& notification, uint32_t from)
{
    // Only a job whose request went out can have ended: a notification for
    // one still waiting its turn would be overwritten by the send loop's
    // "已发送升级命令,等待升级" and its outcome lost. And only the camera
    // asked can end it: the identifier alone is no proof, as any host that
    // searched the LAN knows it. A camera that reports from an address
    // other than the one it was asked at is not heard either.
    const auto job = std::find_if(m_pending.begin(), m_pending.end(), [&](const UgInfo* candidate) {
        return RequestWentOut(candidate->state) &&
               std::strncmp(candidate->deviceId, notification.deviceId, sizeof candidate->deviceId) == 0 &&
               FromJobsCamera(*candidate, from);
    });
    if (job == m_pending.end())
        return;
    switch (notification.status) {
    case 0:
        // A source address is easily forged; a download from it over TCP is
        // not. Until the server has counted one, the notice waits.
        if (Proven(**job)) {
            Finish(**job, UgState::Succeeded);
        } else {
            if (!(*job)->successHeldSince)
                (*job)->successHeldSince = Now();
            m_view->ReviewAfter(kReviewMs);
        }
        break;
    case 1:
        Finish(**job, UgState::Failed);
        break;
    case 2:
        Finish(**job, UgState::DownloadFailed);
        break;
    default:
        Finish(**job, UgState::Cleared);
        break;
    }
}

void UpgradeBatch::Finish(UgInfo& job, UgState outcome)
{
    TakeDownload(job, Now());
    // A camera whose download was given up and that reports a failure
    // without having taken the file since: the stall is its reason, counted
    // already.
    if (job.state == UgState::Stalled && outcome != UgState::Succeeded && !job.download.complete) {
        job.successHeldSince.reset();
        m_pending.remove(&job);
        UpdateSummary();
        return;
    }
    // A camera that refused, whose success was not believed or whose
    // download was given up, and reports after all: its report is the
    // truth, and the job counts once.
    if (FailedForNow(job.state))
        --m_failed;
    if (outcome == UgState::Succeeded)
        ++m_succeeded;
    else
        ++m_failed;
    job.state = outcome;
    job.successHeldSince.reset();
    Show(job, outcome);
    m_pending.remove(&job);
    UpdateSummary();
}

void UpgradeBatch::EndUnreported()
{
    const std::vector<UgInfo*> left(m_pending.begin(), m_pending.end());
    for (UgInfo* job : left) {
        if (job->state == UgState::Sent || job->state == UgState::Upgrading)
            Finish(*job, UgState::Unreported);
        else
            m_pending.remove(job);  // refused, not sent or not believed: counted already, or never
    }
    UpdateSummary();
}

void UpgradeBatch::Review(TimePoint now)
{
    std::vector<UgInfo*> held;
    for (UgInfo* job : m_pending) {
        if (job->successHeldSince)
            held.push_back(job);
    }
    for (UgInfo* job : held) {
        if (Proven(*job)) {
            Finish(*job, UgState::Succeeded);
        } else if (now - *job->successHeldSince >= kProofGrace) {
            job->successHeldSince.reset();
            // Not believed, and shown so already; or given up for its stall,
            // whose reason it keeps.
            if (job->state == UgState::Unproven || job->state == UgState::Stalled)
                continue;
            if (!FailedForNow(job->state))
                ++m_failed;
            job->state = UgState::Unproven;
            Show(*job, UgState::Unproven);
            UpdateSummary();
        }
    }
    if (Holding())
        m_view->ReviewAfter(kReviewMs);
}

bool UpgradeBatch::Holding() const
{
    return std::any_of(m_pending.begin(), m_pending.end(), [](const UgInfo* job) { return job->successHeldSince.has_value(); });
}

std::string UpgradeBatch::FileNameOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string UpgradeBatch::SummaryText(int total, int done, int succeeded, int failed, const std::string& format)
{
    // A format from a translation file is used only with exactly four %d and
    // no other conversion: anything else could read what is not there.
    size_t conversions = 0;
    bool usable = true;
    for (size_t i = format.find('%'); i != std::string::npos; i = format.find('%', i + 2)) {
        if (i + 1 >= format.size() || format[i + 1] != 'd')
            usable = false;
        ++conversions;
    }
    const char* chosen = usable && conversions == 4 ? format.c_str() : msg::kSummaryFormat;
    char text[256];
    std::snprintf(text, sizeof text, chosen, total, done, succeeded, failed);
    return text;
}

} // namespace lynx::upgrade
