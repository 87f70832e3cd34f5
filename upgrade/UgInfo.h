// One device's upgrade job: the device it upgrades (its record's number in the
// device table), the address its request goes to, the identifier its
// notification is matched against, and where the job stands.
#pragma once

#include "upgrade/Messages.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

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
};
