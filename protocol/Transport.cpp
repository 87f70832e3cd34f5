#include "protocol/Transport.h"

#include "protocol/JsonMessages.h"

#include <bit>

namespace lynx::protocol {

// PacketHeader is sent as it lies in memory; the wire is little-endian.
static_assert(std::endian::native == std::endian::little);

namespace {

bool sendBody(uint16_t handle, const PacketHeader& header, const std::string& utf8Body, const char* destIp,
              uint16_t destPort)
{
    return tarn_UdpSendTo(handle, &header, 0, static_cast<int>(utf8Body.size()),
                          utf8Body.empty() ? nullptr : utf8Body.data(), destIp, destPort) == 1;
}

} // namespace

PacketHeader MakeRequestHeader(uint16_t command, uint32_t tag)
{
    PacketHeader header{};
    header.magic = TARN_MAGIC;
    header.category = TARN_CATEGORY;
    header.subCategory = TARN_SUBCATEGORY;
    header.command = command;
    header.result = 0;
    header.bodyMarker = kMarkerRequest;
    header.flags = TARN_FLAGS;
    // Only a request to one device carries a tag: the camera echoes it in its reply.
    header.tag = command == kCmdUpdate ? tag : 0;
    return header;
}

bool SendSearch(uint16_t reportSocket)
{
    const PacketHeader header = MakeRequestHeader(kCmdSearch);
    return tarn_UdpSendTo(reportSocket, &header, 0, 0, nullptr, kBroadcast, kReportPort) == 1;
}

bool SendChangeIp(uint16_t reportSocket, const DeviceRecord& record)
{
    // Broadcast, never to the device's own address: the device may not be
    // reachable at it (another subnet); the request names it by its MAC.
    return sendBody(reportSocket, MakeRequestHeader(kCmdChangeIp), TextToUtf8(BuildJsonRequest("changeIp", record)),
                    kBroadcast, kReportPort);
}

bool SendToDevice(const std::string& text, uint16_t handle, const char* deviceIp, uint32_t tag)
{
    return sendBody(handle, MakeRequestHeader(kCmdUpdate, tag), TextToUtf8(text), deviceIp, kUpdatePort);
}

} // namespace lynx::protocol
