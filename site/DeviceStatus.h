// A device's status as data: what it is doing or how it ended, why it failed,
// and how far its download has come. The words are made from it only where
// they are shown (StatusText, then the front end's translation), so that the
// list, its export, lynx-cli's lines and the site report all say the same.
#pragma once

#include "upgrade/UgInfo.h"
#include "upgrade/Messages.h"

#include <cstdint>

namespace lynx::site {

enum class DeviceState : uint8_t {
    None,              // nothing to show
    Waiting,           // a batch job not sent yet
    Sent,              // its upgrade request went out, no reply yet
    Upgrading,         // the camera accepted it
    Succeeded,         // the camera reported success
    VersionUpdated,    // ... and answered since with a new version
    VersionUnchanged,  // ... and answered since with its old version only
    AwaitingAddress,   // an address change went out, the camera not heard at its new address yet
    Readdressed,       // the camera answered at its new address
    Failed,            // see the reason
};

enum class FailureReason : uint8_t {
    None,
    SendFailed,       // the upgrade request could not be sent
    Refused,          // the camera was not ready
    CameraFailed,     // the camera reported its upgrade failed
    DownloadFailed,   // the camera could not download or check the file
    Unproven,         // a success notice without a whole download from the PC
    Unreachable,      // the PC cannot reach the camera's address
    Unreported,       // the camera never reported within the wait
    Stalled,          // the camera stopped taking the file
    NotAtNewAddress,  // the camera was not heard at its new address in time
};

struct DeviceStatus {
    DeviceState state = DeviceState::None;
    FailureReason reason = FailureReason::None;
    int percent = 0;     // of its download, while it has one
    uint64_t bytes = 0;  // served to it
    bool failed() const { return state == DeviceState::Failed; }
    bool operator==(const DeviceStatus&) const = default;
};

// A failure of reason.
constexpr DeviceStatus FailureOf(FailureReason reason)
{
    return {DeviceState::Failed, reason, 100, 0};
}

// A batch job's status: its state, and while the camera may be downloading,
// its download's bar; a failure over a full bar.
DeviceStatus StatusOf(upgrade::UgState state, const upgrade::DownloadProgress& download = {});

// The status column's text, untranslated (UTF-8); empty for none. The
// system's own texts, exactly.
const char* StatusText(const DeviceStatus& status);
inline const char* StatusText(upgrade::UgState state)
{
    return StatusText(StatusOf(state));
}

// The status as a word for machines (lynx-cli's JSON lines), never
// translated: a failure is named by its reason.
const char* StateKey(const DeviceStatus& status);

// The order the status column sorts in, ascending: by state, then reason,
// then how far the download came.
bool StatusBefore(const DeviceStatus& a, const DeviceStatus& b);

} // namespace lynx::site
