#include "site/DeviceStatus.h"

#include <tuple>

namespace lynx::site {

namespace {

using upgrade::UgState;

FailureReason ReasonOf(UgState state)
{
    switch (state) {
    case UgState::SendFailed:
        return FailureReason::SendFailed;
    case UgState::Refused:
        return FailureReason::Refused;
    case UgState::Failed:
        return FailureReason::CameraFailed;
    case UgState::DownloadFailed:
        return FailureReason::DownloadFailed;
    case UgState::Unproven:
        return FailureReason::Unproven;
    case UgState::Unreachable:
        return FailureReason::Unreachable;
    case UgState::Unreported:
        return FailureReason::Unreported;
    case UgState::Stalled:
        return FailureReason::Stalled;
    default:
        return FailureReason::None;
    }
}

const char* FailureText(FailureReason reason)
{
    switch (reason) {
    case FailureReason::SendFailed:
        return "升级命令发送失败";
    case FailureReason::Refused:
        return "设备未就绪，请稍后再试";
    case FailureReason::CameraFailed:
        return "升级失败";
    case FailureReason::DownloadFailed:
        return "下载或校验失败";
    case FailureReason::Unproven:
        return "未下载固件，不予采信";
    case FailureReason::Unreachable:
        return "请先修改IP";
    case FailureReason::Unreported:
        return "未报告升级结果";
    case FailureReason::Stalled:
        return "下载停滞";
    case FailureReason::NotAtNewAddress:
        return "设备未在新地址应答";
    case FailureReason::None:
        break;
    }
    return "";
}

const char* FailureKey(FailureReason reason)
{
    switch (reason) {
    case FailureReason::SendFailed:
        return "send-failed";
    case FailureReason::Refused:
        return "refused";
    case FailureReason::CameraFailed:
        return "failed";
    case FailureReason::DownloadFailed:
        return "download-failed";
    case FailureReason::Unproven:
        return "unproven";
    case FailureReason::Unreachable:
        return "unreachable";
    case FailureReason::Unreported:
        return "unreported";
    case FailureReason::Stalled:
        return "stalled";
    case FailureReason::NotAtNewAddress:
        return "not-at-new-address";
    case FailureReason::None:
        break;
    }
    return "failed";
}

} // namespace

DeviceStatus StatusOf(UgState state, const upgrade::DownloadProgress& download)
{
    if (upgrade::IsFailure(state)) {
        DeviceStatus status = FailureOf(ReasonOf(state));
        status.bytes = download.served;
        return status;
    }
    DeviceStatus status;
    switch (state) {
    case UgState::Waiting:
        status.state = DeviceState::Waiting;
        break;
    case UgState::Sent:
        status.state = DeviceState::Sent;
        break;
    case UgState::Upgrading:
        status.state = DeviceState::Upgrading;
        break;
    case UgState::Succeeded:
        status.state = DeviceState::Succeeded;
        break;
    default:
        return status;  // an emptied status shows nothing
    }
    // The bar follows the download while the camera may be taking the file.
    if ((state == UgState::Sent || state == UgState::Upgrading) && download.Started())
        status.percent = download.Percent();
    status.bytes = download.served;
    return status;
}

const char* StatusText(const DeviceStatus& status)
{
    switch (status.state) {
    case DeviceState::None:
        return "";
    case DeviceState::Waiting:
        return "等待中";
    case DeviceState::Sent:
        return "已发送升级命令,等待升级";
    case DeviceState::Upgrading:
        return "升级中";
    case DeviceState::Succeeded:
        return "升级成功";
    case DeviceState::VersionUpdated:
        return "升级成功，版本已更新";
    case DeviceState::VersionUnchanged:
        return "升级成功，版本未变";
    case DeviceState::AwaitingAddress:
        return "等待设备在新地址应答…";
    case DeviceState::Readdressed:
        return "修改成功！";
    case DeviceState::Failed:
        return FailureText(status.reason);
    }
    return "";
}

const char* StateKey(const DeviceStatus& status)
{
    switch (status.state) {
    case DeviceState::None:
        return "cleared";
    case DeviceState::Waiting:
        return "waiting";
    case DeviceState::Sent:
        return "sent";
    case DeviceState::Upgrading:
        return "upgrading";
    case DeviceState::Succeeded:
        return "succeeded";
    case DeviceState::VersionUpdated:
        return "version-updated";
    case DeviceState::VersionUnchanged:
        return "version-unchanged";
    case DeviceState::AwaitingAddress:
        return "awaiting-address";
    case DeviceState::Readdressed:
        return "readdressed";
    case DeviceState::Failed:
        return FailureKey(status.reason);
    }
    return "cleared";
}

bool StatusBefore(const DeviceStatus& a, const DeviceStatus& b)
{
    return std::tie(a.state, a.reason, a.percent) < std::tie(b.state, b.reason, b.percent);
}

} // namespace lynx::site
