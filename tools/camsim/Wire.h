// The camera's side of the datagram header: what a camera puts in its answers.
#pragma once

#include "tarn.h"

#include <cstdint>

namespace camsim {

constexpr uint16_t kCmdSearch = 0x701;
constexpr uint16_t kCmdChangeIp = 0x703;
constexpr uint16_t kCmdUpdate = 0x711;
constexpr uint16_t kCmdUpdateStatus = 0x712;
constexpr uint16_t kResultAccepted = 0x4F4B;
// Any other value refuses; "NO" reads well in a packet dump.
constexpr uint16_t kResultRefused = 0x4E4F;
constexpr uint8_t kMarkerRequest = '#';
constexpr uint8_t kMarkerBody = '$';

constexpr uint16_t kReportPort = 19027;
constexpr uint16_t kUpdatePort = 8025;
constexpr uint16_t kProbePort = 8021;

inline PacketHeader AnswerHeader(uint16_t command, uint16_t result = 0, uint32_t tag = 0)
{
    PacketHeader h{};
    h.magic = TARN_MAGIC;
    h.category = TARN_CATEGORY;
    h.subCategory = TARN_SUBCATEGORY;
    h.command = command;
    h.result = result;
    h.bodyMarker = kMarkerBody;
    h.flags = TARN_FLAGS;
    h.tag = tag;
    return h;
}

} // namespace camsim
