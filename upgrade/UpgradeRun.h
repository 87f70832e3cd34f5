// One batch upgrade as both front ends run it: the jobs and their states
// (UpgradeBatch), and what the send loop does on the network. Each camera gets
// a UDP client towards its port 8025 whose replies reach the receiving
// discovery session; the download URL is built from the PC's address towards
// the camera (TCP 8021) and the file server's port; the "update" requests go
// out through the transport. A camera's success counts once that server has
// seen its address download the whole file. The file server is the tool's process-wide one
// (the window's, started with it), unless the run starts one of its own.
#pragma once

#include "tarn.h"
#include "upgrade/UpgradeBatch.h"
#include "upgrade/UpgradeFileServer.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace lynx::upgrade {

class UpgradeRun {
public:
    struct FrontEnd {
        // Tells the user that a camera's client could not be started.
        std::function<void()> clientFailed;
        // The user ended the program: nothing more is sent (none: never).
        std::function<bool()> stopped;
    };

    UpgradeRun(std::unique_ptr<UpgradeView> view, FrontEnd frontEnd);
    ~UpgradeRun();
    // The batch asks the run for its server: the run stays where it was made.
    UpgradeRun(const UpgradeRun&) = delete;
    UpgradeRun& operator=(const UpgradeRun&) = delete;
    // A front end that needs the run to make its own gives it after
    // construction.
    void SetFrontEnd(FrontEnd frontEnd) { m_frontEnd = std::move(frontEnd); }

    // Serves the firmware from a server of the run's own (lynx-cli) instead
    // of the process-wide one; false when no port could be bound.
    bool StartOwnServer(UpgradeFileServer::Options options);

    // Connections the run's own server holds from the batch's cameras: the
    // downloads in flight (none without a server of its own).
    int DownloadsOpen() const;

    // How long a camera's download may stop moving before its job is given
    // up and the camera cut off (kDefaultStallTime unless told).
    void SetStallTime(std::chrono::milliseconds stall) { m_stall = stall; }
    std::chrono::milliseconds StallTime() const { return m_stall; }
    // The engine's tick: the held success notices reviewed, each job's
    // download taken from the file server's account, a stalled one given up
    // and its camera cut off, and each request that is due sent. It asks for
    // the next tick (UpgradeView::ReviewAfter) while a request is to go out
    // or jobs are in flight; it never blocks.
    void Tick(UpgradeBatch::TimePoint now);
    void Tick() { Tick(m_batch.Now()); }
    static constexpr int kTickMs = UpgradeBatch::kReviewMs;
    // When the next tick is wanted: a request due, or jobs in flight, whose
    // downloads and held notices are looked at every kTickMs. None: nothing
    // waits on time, only on what arrives.
    std::optional<UpgradeBatch::TimePoint> NextDeadline(UpgradeBatch::TimePoint now) const;

    UpgradeBatch& Batch() { return m_batch; }
    const UpgradeBatch& Batch() const { return m_batch; }

    // Begins the paced sends over the batch's queued jobs (UpgradeBatch::SendDue
    // sends the rest from the ticks).
    void SendUpdateCommands(const std::string& firmwarePath);
    // The confirmation was given: the flag, the first requests, the summary.
    void Confirm(const std::string& firmwarePath);
    // What the paced sends do on the network; tests replace it piecewise.
    UpgradeSendHooks Hooks() const;

private:
    UpgradeView* m_view;  // the batch's, which it owns
    UpgradeBatch m_batch;
    FrontEnd m_frontEnd;
    std::unique_ptr<UpgradeFileServer> m_ownServer;
    std::chrono::milliseconds m_stall = kDefaultStallTime;
};

} // namespace lynx::upgrade
