// A batch upgrade of chosen cameras, written once for every front end that
// has no event loop: the search, the cameras chosen from it, the paced (or
// parallel) requests with the firmware served by a server of the flow's own,
// the wait for the cameras' reports and for the downloads in flight, the
// version check after their restart, and the retries. Everything that
// happens is told as events; the outcome of each camera is the report's.
// The batch's steps are driven in one loop: the session's wake waited on
// until the engine's next deadline, what arrived applied, then the tick.
#pragma once

#include "protocol/DiscoverySession.h"
#include "site/Failure.h"
#include "site/SearchFlow.h"
#include "site/SiteReport.h"
#include "upgrade/UpgradeBatch.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace lynx::site {

struct UpgradeRequest {
    std::string file;                      // the firmware (.zip), checked by the caller
    int seconds = 12;                      // the search
    int waitSeconds = 600;                 // for the cameras' reports, and again for downloads in flight
    bool all = false;                      // every camera found, else those at ips and with macs
    std::vector<std::string> ips;
    std::vector<std::string> macs;         // as written (compared by platform::MacKey)
    protocol::InterfaceNames interfaces;   // the cards the searches go out on
    bool verify = false;                   // search again until each camera runs a new version
    int rebootWaitSeconds = 120;
    std::string expectVersion;             // the version a verified camera must run
    int parallel = 0;                      // 0: one request every 3 seconds
    int retries = 0;                       // further rounds for the cameras that failed
    int stallSeconds = 60;                 // a download that takes nothing for so long is given up
};

// The batch as it stands, often while it runs: jobs done of all and those
// failed; the downloads in flight and their mean percentage.
struct UpgradeProgress {
    int done = 0;
    int total = 0;
    int failed = 0;
    int downloading = 0;
    int meanPercent = 0;
};

// One camera's job, told at each change of its state and at each 10 % step
// of its download.
struct CameraProgress {
    std::string mac;
    std::string ip;
    std::string state;    // site::StateKey
    std::string status;   // the status shown, translated; empty for an emptied one
    int percent = 0;      // of its download; 100 once the camera has taken the whole file
    uint64_t bytes = 0;   // bytes served to it
};

// What a front end hears while the flow runs. Texts are UTF-8, translated.
struct UpgradeEvents {
    SearchProgressFn searching;
    // A job's status changed: the camera's address and the status shown
    // ("(状态已清空)" for a status emptied).
    std::function<void(const std::string& ip, const std::string& status)> status;
    // The batch's summary line, when it changed; and the batch's end.
    std::function<void(const std::string& summary)> summary;
    std::function<void()> complete;
    std::function<void(const UpgradeProgress& progress)> progress;
    std::function<void(const CameraProgress& camera)> camera;
    // A new round for the cameras that failed.
    std::function<void(int round, int rounds, size_t cameras)> retry;
    // After a round, the summary again (a camera that never reported has
    // ended "未报告升级结果" by then, told as its status).
    std::function<void(const std::string& summary)> roundEnded;
    // The version check: a camera's verdict.
    std::function<void(const std::string& mac, const std::string& version, const std::string& ip)> verified;
    std::function<void(const std::string& mac, const std::string& why)> notVerified;
    // Something the user should know that is no failure of the whole flow:
    // a camera not found, no download address, downloads still in flight, a
    // search for a retry that failed (warning); a client that could not
    // start, the file server's messages (notice, as they are).
    std::function<void(const std::string& text)> warning;
    std::function<void(const std::string& text)> notice;
};

struct UpgradeResult {
    Failure failure = Failure::None;  // nothing was upgraded: the search or the file server failed
    bool noneChosen = false;          // no camera to upgrade
    bool allSucceeded = false;        // every chosen camera succeeded (and verified)
    SiteReport report;                // one row per camera with its outcome
    bool ok() const { return failure == Failure::None; }
};

UpgradeResult RunUpgrade(const UpgradeRequest& request, const UpgradeEvents& events);

} // namespace lynx::site
