// One device's upgrade job: the device's IP text, its identifier and the list
// row its status texts go to, with where the job stands.
#pragma once

#include "upgrade/Messages.h"

#include <cstdint>
#include <string>

struct UgInfo {
    std::string ip;          // the "设备IP" cell of the ticked row (UTF-8)
    char deviceId[16] = {};  // from the row's device record (code page 936), NUL-terminated
    int32_t row = -1;        // the list row when the batch was prepared
    lynx::upgrade::UgState state = lynx::upgrade::UgState::Waiting;
};
