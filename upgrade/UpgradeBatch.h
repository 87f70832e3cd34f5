// One batch upgrade as bookkeeping: one job per chosen device, the paced sends
// as steps taken when they are due, the counters and the summary line, and what the cameras' replies and
// status notifications do to them. No widget: the window and lynx-cli each
// give it a view that shows the jobs' states and the hooks that reach the
// network.
#pragma once

#include "protocol/DeviceRecord.h"
#include "tarn.h"
#include "upgrade/UgInfo.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lynx::upgrade {

// Where a batch reports: each device's job state, the summary line, the
// "batch being sent" flag and the end of the batch. Texts are UTF-8.
class UpgradeView {
public:
    virtual ~UpgradeView() = default;
    // The job of the device under this record number is now in state.
    virtual void SetStatus(int device, UgState state) = 0;
    virtual void SetSummaryText(const std::string& text) = 0;
    // The "batch being sent" flag (column sorting waits for it).
    virtual void SetUpgrading(bool upgrading) = 0;
    // Every job has been sent and has reported: "升级完成", once per batch.
    virtual void AnnounceComplete() = 0;
    // The summary line's printf format, with four %d (total, done, succeeded,
    // failed) in the view's language; one that is not is not used.
    virtual std::string SummaryFormat() const { return msg::kSummaryFormat; }
    // The batch wants its owner's tick this long from now at the latest: a
    // success notice waits for its camera's download to be counted, or a
    // request is due. A front end that ticks as it waits anyway need not do
    // anything.
    virtual void ReviewAfter(int /*milliseconds*/) {}
    // The job of the device under this record number, in state, with its
    // download as the file server counts it: told after every status, and
    // whenever the download moves on. A view that shows no progress need not
    // do anything.
    virtual void SetDownload(int /*device*/, UgState /*state*/, const DownloadProgress& /*download*/) {}
};

// One device of a batch: its record number, the address its request goes to
// (the one it was last given, when it was readdressed since the search) and
// its record's identifier (code page 936); and, for a camera the PC cannot
// reach at that address, why (UTF-8, shown to the user).
struct BatchDevice {
    int device = 0;
    std::string ip;
    std::string deviceId;
    std::string unreachable = {};
};

// What the paced sends do to the outside world.
struct UpgradeSendHooks {
    // Hands the firmware file to the HTTP server before the first request.
    std::function<void(const std::string& path, const std::string& fileName)> publishFile;
    // The HTTP server's port, read when the URL is built.
    std::function<int()> httpPort;
    // Starts a UDP client towards the device's port 8025 whose datagrams reach
    // OnDatagram; false when it cannot be started.
    std::function<bool(const std::string& ip, uint16_t& handle)> startClient;
    // Tells the user that a client could not be started ("udp client error").
    std::function<void()> clientFailed;
    // The PC's address towards a device (TCP port 8021), empty when none.
    std::function<std::string(const std::string& ip)> localAddress;
    // Sends the "update" request, tagged with the job's id; true when sent.
    std::function<bool(const std::string& url, const std::string& deviceId, uint16_t handle,
                       const std::string& ip, uint32_t tag)>
        sendUpdate;
    // Asked before each request, in either mode: true when the user has ended
    // the program; nothing more is sent and the jobs not sent stay queued.
    // None: it never stops.
    std::function<bool()> stopped;
};

class UpgradeBatch {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    // One at a time, the next request goes out this long after one sent, or
    // after one that could not be sent.
    static constexpr std::chrono::milliseconds kPauseAfterSent{3000};
    static constexpr std::chrono::milliseconds kPauseAfterFailure{1000};
    // How long a success notice waits for the file server to count its
    // camera's download: the notice of a camera that has just taken the last
    // byte may overtake the server's account of it. And how often it is
    // looked at meanwhile.
    static constexpr std::chrono::milliseconds kProofGrace{3000};
    static constexpr int kReviewMs = 100;

    explicit UpgradeBatch(std::unique_ptr<UpgradeView> view);
    ~UpgradeBatch();

    UpgradeView& view() { return *m_view; }

    // 0 (the default, the window's): one request every 3 seconds. N: at most N
    // cameras between their request and their final notification (or refusal),
    // the next request sent as soon as one of them finishes.
    void SetParallel(int cameras) { m_parallel = cameras < 0 ? 0 : cameras; }
    int Parallel() const { return m_parallel; }

    // The batch's clock: when a request is due, how long a success notice has
    // waited for its download. The steady clock unless told.
    void SetClock(std::function<TimePoint()> now) { m_now = std::move(now); }
    TimePoint Now() const { return m_now(); }

    // Whether the camera at this address has downloaded the whole file of
    // the batch from the batch's server. A success notice is believed only
    // then: the protocol carries no proof of its sender, but a forged source
    // address cannot download over TCP. Without one, every notice from the
    // job's address is believed (the bookkeeping alone, in tests).
    void SetDownloadWitness(std::function<bool(const std::string& ip)> downloaded)
    {
        m_downloaded = std::move(downloaded);
    }
    // The file server's account of the download of the camera at this
    // address, which TrackDownloads turns into the jobs' progress. None: no
    // progress is known, and no download stalls.
    void SetDownloadAccount(std::function<DownloadProgress(const std::string& ip)> accountOf)
    {
        m_accountOf = std::move(accountOf);
    }

    // Starts a new batch: counters zeroed, the previous jobs released, and one
    // job ("等待中") per device, in the order given. Returns the number of jobs.
    // The job of a device the PC cannot reach ends at once as a failure
    // (UgState::Unreachable): no request would reach it, and the batch would
    // wait its whole time for a report that cannot come.
    int Prepare(const std::vector<BatchDevice>& devices);
    // The confirmation was refused: the jobs' statuses are emptied and they
    // stay unsent.
    void Cancel();
    // The confirmation was given: the flag is set, the sends begun (the first
    // request goes out at once), then the summary written.
    void Confirm(const std::string& firmwarePath, const UpgradeSendHooks& hooks);
    // Begins the paced sends over the jobs still queued: the file published,
    // and whatever is due now sent. The rest goes out from SendDue.
    void SendUpdateCommands(const std::string& firmwarePath, const UpgradeSendHooks& hooks);
    // Sends each queued request that is due by now: one at a time, 3 seconds
    // after one sent and 1 second after one that could not be; with parallel
    // N, whenever fewer than N cameras are in flight (and 1 second after one
    // that could not be sent). Sending ends once every queued job has been
    // tried, or when the user has ended the program.
    void SendDue(TimePoint now);
    // When the next request is due; none when nothing is being sent, or when
    // the next one waits for a place that only a camera's report can free.
    std::optional<TimePoint> NextSendAt() const;
    // Requests are still to go out.
    bool Sending() const { return m_sending; }
    // Nothing more is sent: the jobs not sent stay queued and waiting.
    void StopSending();
    // Writes the summary line; clears the flag when every job has been sent and
    // announces completion when, in addition, every job has reported.
    void UpdateSummary();
    // A datagram from a device's port 8025 (body UTF-8, as received): an
    // update reply, which counts once for the sent job of this batch whose id
    // its tag names; or a status notification, which ends the first sent job
    // with its identifier. Either counts only when it comes from the address
    // the job's request went to, and is dropped otherwise. from is the
    // sender's IPv4 address in host byte order, 0 when not known.
    void OnDatagram(const PacketHeader& header, const std::string& body, uint32_t from = 0);
    // The success notices waiting for their downloads: each one whose camera
    // has now downloaded the file succeeds; one that has waited out the grace
    // is not believed, and its job shows so, counted as a failure, until its
    // camera downloads the file and reports again.
    void Review(TimePoint now);
    void Review() { Review(Now()); }
    // Some success notice is still waiting for its download.
    bool Holding() const;
    // The batch's wait is over: each job sent whose camera never reported
    // ends "未报告升级结果", counted once as a failure, and the jobs that will
    // not report are let go, so that the batch completes.
    void EndUnreported();
    // Takes each sent job's download from the account (SetDownloadAccount):
    // its bytes and percentage, told to the view as they move. A job whose
    // camera began to download and has taken nothing more for stallAfter
    // ends as stalled ("下载停滞"), counted as a failure once, however often
    // its camera comes back and stalls again. Returns the addresses of the
    // cameras given up now, whose connections are to be cut off.
    std::vector<std::string> TrackDownloads(std::chrono::steady_clock::time_point now,
                                            std::chrono::milliseconds stallAfter);

    int total() const { return m_total; }
    // The jobs that have ended: each counts as succeeded or failed (a failure
    // its camera may still turn into its own outcome included), never one
    // still upgrading.
    int done() const { return m_succeeded + m_failed; }
    // The jobs whose request has gone out (or that were ended before it could).
    int sent() const { return m_sent; }
    int succeeded() const { return m_succeeded; }
    int failed() const { return m_failed; }
    // The send queue (jobs not sent yet) and the jobs without a notification.
    const std::list<UgInfo*>& queue() const { return m_queue; }
    const std::list<UgInfo*>& pending() const { return m_pending; }
    // Every job of the batch, in the order of Prepare.
    std::vector<const UgInfo*> jobs() const;
    // Jobs sent (or accepted) and still to report.
    int InFlight() const;
    // Every job still able to report has reported: the ones left in pending()
    // were refused or could not be sent.
    bool Settled() const;
    // The URL of the last request sent, empty when no address was found.
    const std::string& url() const { return m_url; }

    // The part of a path after its last '/', the whole path when it has none.
    // A backslash is an ordinary character in a file name here.
    static std::string FileNameOf(const std::string& path);
    static std::string SummaryText(int total, int done, int succeeded, int failed,
                                   const std::string& format = msg::kSummaryFormat);

private:
    std::unique_ptr<UpgradeView> m_view;
    UgInfo* JobOfTag(uint32_t tag);
    // Sends the request of the job at m_next; false when it could not go out.
    bool SendNext();
    // A parallel batch's place may have freed: the owner's tick is wanted now.
    void WantTickForAPlace();
    void OnNotification(const UpdateStatusRecord& notification, uint32_t from);
    // Ends the job with its camera's outcome, counted once.
    void Finish(UgInfo& job, UgState outcome);
    // The job's download afresh from the account; true when it changed.
    bool TakeDownload(UgInfo& job, std::chrono::steady_clock::time_point now);
    bool Proven(const UgInfo& job) const { return !m_downloaded || m_downloaded(job.ip); }
    void Show(const UgInfo& job, UgState state)
    {
        m_view->SetStatus(job.device, state);
        m_view->SetDownload(job.device, state, job.download);
    }

    std::vector<std::unique_ptr<UgInfo>> m_jobs;
    std::list<UgInfo*> m_queue;    // the jobs not sent yet
    std::list<UgInfo*> m_pending;  // the jobs that may still report
    int m_total = 0;
    int m_sent = 0;
    int m_succeeded = 0;
    int m_failed = 0;
    bool m_announced = false;
    int m_parallel = 0;
    std::function<TimePoint()> m_now = [] { return std::chrono::steady_clock::now(); };
    // The paced sends: the hooks and file they were begun with, the next job
    // to try, and when it is due.
    bool m_sending = false;
    UpgradeSendHooks m_hooks;
    std::string m_fileName;
    std::list<UgInfo*>::iterator m_next;
    TimePoint m_sendAt{};
    uint32_t m_lastJobId = 0;  // a late reply to an earlier batch names no job of this one
    std::string m_url;
    // One client per device address for the life of the batch object, reused
    // by later batches, so that repeated batches hold a bounded set of sockets.
    std::map<std::string, uint16_t> m_clients;
    std::function<bool(const std::string& ip)> m_downloaded;
    std::function<DownloadProgress(const std::string& ip)> m_accountOf;
};

} // namespace lynx::upgrade
