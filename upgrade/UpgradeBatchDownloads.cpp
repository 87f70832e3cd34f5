// The batch's side of the cameras' downloads: each sent job's bytes and
// percentage from the file server's account, and the stall that gives a job
// up.
#include "upgrade/UpgradeBatch.h"

namespace lynx::upgrade {

namespace {

// A job whose camera may be downloading now, and whose download can stall:
// a held success notice waits for its proof instead.
bool Downloading(const UgInfo& job)
{
    return (job.state == UgState::Sent || job.state == UgState::Upgrading) && !job.successHeldSince;
}

// The states whose jobs have a download to follow: every request that went
// out, and the outcomes that came after one.
bool AfterRequest(UgState state)
{
    return state != UgState::Waiting && state != UgState::SendFailed && state != UgState::Unreachable &&
           state != UgState::Cleared;
}

} // namespace

bool UpgradeBatch::TakeDownload(UgInfo& job, std::chrono::steady_clock::time_point now)
{
    if (!m_accountOf || !AfterRequest(job.state))
        return false;
    const DownloadProgress account = m_accountOf(job.ip);
    if (account == job.download)
        return false;
    // Bytes that flow, a transfer begun, the last byte taken: the download
    // moved. A transfer begun again from its start moves it only as its
    // bytes flow.
    if (account.served != job.download.served || account.bytes > job.download.bytes ||
        account.Started() != job.download.Started() || account.complete != job.download.complete)
        job.movedAt = now;
    job.download = account;
    return true;
}

std::vector<std::string> UpgradeBatch::TrackDownloads(std::chrono::steady_clock::time_point now,
                                                      std::chrono::milliseconds stallAfter)
{
    // The jobs that may still report: one that has ended took its download
    // as it ended, and what its device shows now is no longer the batch's.
    std::vector<std::string> givenUp;
    for (UgInfo* pending : m_pending) {
        UgInfo& job = *pending;
        if (TakeDownload(job, now))
            m_view->SetDownload(job.device, job.state, job.download);
        if (!Downloading(job) || !job.download.Started() || job.download.complete || now - job.movedAt < stallAfter)
            continue;
        // Sent or accepted, never counted yet: counted now, and never again.
        ++m_failed;
        job.state = UgState::Stalled;
        Show(job, UgState::Stalled);
        givenUp.push_back(job.ip);
        UpdateSummary();
    }
    return givenUp;
}

} // namespace lynx::upgrade
