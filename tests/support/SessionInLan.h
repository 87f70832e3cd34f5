// A discovery session of the test's own in the virtual LAN, the transport
// started (for tests that link the protocol library).
#pragma once

#include "NetlabFixture.h"
#include "protocol/DiscoverySession.h"
#include "protocol/JsonMessages.h"
#include "protocol/Transport.h"

namespace lynx::test {

// A datagram of the cameras' protocol: the header of command with marker
// ('#' a request, '$' a body sent back), then the body.
inline std::string ProtocolDatagram(uint16_t command, char marker, const std::string& body)
{
    PacketHeader header = protocol::MakeRequestHeader(command);
    header.bodyMarker = static_cast<uint8_t>(marker);
    return std::string(reinterpret_cast<const char*>(&header), sizeof header) + body;
}

// The address change any tool on the LAN may broadcast, naming the camera by
// its MAC; for a readdress while another program holds the report port.
inline bool BroadcastAddressChange(const std::string& mac, const std::string& ip,
                                   const std::string& mask = "255.255.255.0", const std::string& gateway = "192.168.1.1")
{
    const std::string body = BuildJsonRequest("changeIp", protocol::MakeChangeIpRecord(mac, ip, gateway, mask));
    return SendUdp("255.255.255.255", protocol::kReportPort, ProtocolDatagram(protocol::kCmdChangeIp, '#', body));
}

class SessionInLan : public NetlabTest {
protected:
    void SetUpInLan() override { protocol::InitTransport(); }
    protocol::DiscoverySession session;
};

} // namespace lynx::test
