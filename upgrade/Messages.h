// Where an upgrade job stands, and the other texts of a batch upgrade, byte
// for byte (UTF-8). The status each state shows is the site's (site/DeviceStatus.h).
#pragma once

namespace lynx::upgrade {

enum class UgState {
    Waiting,         // prepared, request not sent yet
    Sent,            // request handed to the transport, no reply yet
    SendFailed,      // the request could not be sent: final, never reports
    Upgrading,       // the camera accepted
    Refused,         // the camera refused: a failure, never reports
    Succeeded,       // notification status 0
    Failed,          // notification status 1
    DownloadFailed,  // notification status 2
    // A success notice came, but the camera's address never downloaded the
    // whole file: a failure, unless the camera proves otherwise later.
    Unproven,
    // The PC cannot reach the camera at its address (another subnet): refused
    // before anything is sent, a failure that never reports.
    Unreachable,
    // Sent, and its camera never reported within the batch's wait: a failure.
    Unreported,
    Cleared,         // any other status; also a batch whose confirmation was refused
    // The camera stopped taking the file for longer than the stall time: cut
    // off and given up, a failure, unless it downloads after all and reports
    // success.
    Stalled,
};

// A state its device shows as a failure (a full red bar under its text).
// An emptied status shows nothing, as it always did.
constexpr bool IsFailure(UgState state)
{
    return state == UgState::SendFailed || state == UgState::Refused || state == UgState::Failed ||
           state == UgState::DownloadFailed || state == UgState::Unproven || state == UgState::Unreachable ||
           state == UgState::Unreported || state == UgState::Stalled;
}

// A job counted as failed that its camera may still turn into an outcome of
// its own, which then counts instead.
constexpr bool FailedForNow(UgState state)
{
    return state == UgState::Refused || state == UgState::Unproven || state == UgState::Stalled;
}

// A job that will never report: its request was refused or not sent, or its
// download stalled and was given up.
constexpr bool WillNotReport(UgState state)
{
    return state == UgState::Refused || state == UgState::SendFailed || state == UgState::Stalled;
}

// A job whose request has gone out and that may still report: only such a
// job can be answered or finished by a camera.
constexpr bool RequestWentOut(UgState state)
{
    return state == UgState::Sent || state == UgState::Upgrading || state == UgState::Refused ||
           state == UgState::Unproven || state == UgState::Stalled;
}

// A job whose camera may still be downloading or installing: it holds a
// place of a parallel batch, and a batch waits for it.
constexpr bool MayStillReport(UgState state)
{
    return state == UgState::Sent || state == UgState::Upgrading || state == UgState::Unproven;
}

namespace msg {

inline constexpr const char* kBatchRunning = "升级正在进行中";
inline constexpr const char* kNoneTicked = "没有选中设备";
inline constexpr const char* kConfirmUpgrade = "是否要进行升级？";
inline constexpr const char* kBatchComplete = "升级完成";
inline constexpr const char* kClientError = "udp client error";
inline constexpr const char* kFileOpenFailed = "升级文件打开失败！";
inline constexpr const char* kServerSocketFailed = "HTTP套接字socket创建失败！";
inline constexpr const char* kZipFilter = "(*.zip)|*.zip|";
// The summary line of static IDC_STATIC_UPGRADE_SUMMARY.
inline constexpr const char* kSummaryFormat = "总共:%d    完成:%d    成功:%d    失败：%d";

} // namespace msg

} // namespace lynx::upgrade
