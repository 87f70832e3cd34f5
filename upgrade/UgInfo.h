// One device's upgrade job: the device it upgrades (its record's number in the
// device table), the address its request goes to, the identifier its
// notification is matched against, and where the job stands.
#pragma once

#include "upgrade/Messages.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace lynx::upgrade {

// A job's download as the file server counts it.
struct DownloadProgress {
    uint64_t bytes = 0;   // of the file, taken by the camera in the latest transfer
    uint64_t size = 0;    // the file's size, 0 before a transfer began
    bool complete = false;  // the camera has taken the whole file
    uint64_t served = 0;  // bytes written by all its transfers
    // From the first transfer's start until the whole file was taken; zero
    // while not complete.
    std::chrono::milliseconds took{0};

    bool Started() const { return size > 0 || complete; }
    // 0..100; 100 only once the camera has the whole file.
    int Percent() const
    {
        if (complete)
            return 100;
        if (size == 0)
            return 0;
        // Written is not yet taken: 100 waits for the camera's last byte.
        return static_cast<int>(std::min<uint64_t>(std::min(bytes, size) * 100 / size, 99));
    }
    bool operator==(const DownloadProgress&) const = default;
};

} // namespace lynx::upgrade

struct UgInfo {
    uint32_t id = 0;         // the job's own number, the tag of its request; never reused by a batch object
    int device = 0;          // the device's record number
    std::string ip;          // the address its request goes to (UTF-8)
    char deviceId[16] = {};  // the record's identifier (code page 936), NUL-terminated
    lynx::upgrade::UgState state = lynx::upgrade::UgState::Waiting;
    std::string unreachable;  // why the PC cannot reach its camera (UTF-8); empty when it can
    // When a success notice came before the server had seen the camera take
    // the whole file: it waits a short while for the download to be counted.
    std::optional<std::chrono::steady_clock::time_point> successHeldSince;
    // The camera's download, and when its bytes last moved (a stall is
    // measured from there).
    lynx::upgrade::DownloadProgress download;
    std::chrono::steady_clock::time_point movedAt{};
};
