#include "protocol/Transport.h"

#include "platform/CodePage.h"
#include "platform/NetworkInterfaces.h"
#include "protocol/JsonMessages.h"

#include <algorithm>

#include <bit>
#include <cstring>

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

int BroadcastOnInterfaces(uint16_t socket, const PacketHeader& header, const std::string& body, uint16_t port,
                          const InterfaceNames& only)
{
    int sent = 0;
    for (const platform::Ipv4Interface& card : platform::BroadcastInterfaces()) {
        if (!only.empty() && std::find(only.begin(), only.end(), card.name) == only.end())
            continue;
        if (tarn_ext_UdpSendVia(socket, &header, static_cast<int>(body.size()), body.empty() ? nullptr : body.data(),
                                card.index, card.address.c_str(), kBroadcast, port) == 1)
            ++sent;
    }
    return sent;
}

bool SendSearch(uint16_t reportSocket, const InterfaceNames& only)
{
    return BroadcastOnInterfaces(reportSocket, MakeRequestHeader(kCmdSearch), std::string(), kReportPort, only) > 0;
}

namespace {

template <std::size_t N>
void copyField(char (&field)[N], const std::string& utf8)
{
    const std::string cp936 = platform::TruncateCp936(platform::Utf8ToCp936(utf8), N - 1);
    std::memcpy(field, cp936.data(), cp936.size());
    field[cp936.size()] = '\0';
}

} // namespace

DeviceRecord MakeChangeIpRecord(const std::string& mac, const std::string& ip, const std::string& gateway,
                                const std::string& mask)
{
    DeviceRecord basicCfg;
    std::memset(&basicCfg, 0, sizeof basicCfg);
    copyField(basicCfg.mac, mac);
    copyField(basicCfg.deviceIp, ip);
    copyField(basicCfg.gatewayIp, gateway);
    copyField(basicCfg.netMask, mask);
    return basicCfg;
}

bool SendChangeIp(uint16_t reportSocket, const DeviceRecord& record, const InterfaceNames& only)
{
    // Broadcast, never to the device's own address: the device may not be
    // reachable at it (another subnet); the request names it by its MAC.
    return BroadcastOnInterfaces(reportSocket, MakeRequestHeader(kCmdChangeIp),
                                 platform::Cp936ToUtf8(BuildJsonRequest("changeIp", record)), kReportPort, only) > 0;
}

bool SendToDevice(const std::string& text, uint16_t handle, const char* deviceIp, uint32_t tag)
{
    return sendBody(handle, MakeRequestHeader(kCmdUpdate, tag), platform::Cp936ToUtf8(text), deviceIp, kUpdatePort);
}

} // namespace lynx::protocol
