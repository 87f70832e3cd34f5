// One device's upgrade job: the device's IP text, its identifier and the list
// row its status texts go to, with where the job stands.
#pragma once

#include <cstdint>
#include <string>

// Where a job stands. A reply counts only for a job whose request went out and
// has not been answered; a notification moves any job still waiting for one.
enum class UgState {
    Waiting,     // prepared, request not sent yet
    SendFailed,  // "升级命令发送失败": final, never reports
    Sent,        // request out, no reply yet
    Accepted,    // "升级中"
    Refused,     // "设备未就绪，请稍后再试": never reports
    Succeeded,   // notification status 0
    Failed,      // notification with any other status
};

struct UgInfo {
    std::string ip;          // the "设备IP" cell of the ticked row (UTF-8)
    char deviceId[16] = {};  // from the row's device record (code page 936), NUL-terminated
    int32_t row = -1;        // the list row when the batch was prepared
    UgState state = UgState::Waiting;
};
