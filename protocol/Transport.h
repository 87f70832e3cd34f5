// The datagrams of the camera protocol, sent through the IP transport library.
#pragma once

#include "protocol/DeviceRecord.h"
#include "tarn.h"

#include <cstdint>
#include <string>
#include <vector>

namespace lynx::protocol {

constexpr uint16_t kReportPort = 19027;   // search, address change, device reports
constexpr uint16_t kUpdatePort = 8025;    // update requests, replies, notifications
constexpr uint16_t kProbePort = 8021;     // a camera's TCP port, used to learn our address
constexpr uint16_t kCmdSearch = 0x701;
constexpr uint16_t kCmdChangeIp = 0x703;
constexpr uint16_t kCmdUpdate = 0x711;
constexpr uint16_t kCmdUpdateStatus = 0x712;
constexpr uint16_t kResultAccepted = 0x4F4B;
constexpr uint8_t kMarkerRequest = 0x23;  // '#'
constexpr uint8_t kMarkerBody = 0x24;     // '$'
constexpr const char* kBroadcast = "255.255.255.255";

// The interfaces a broadcast goes out on, by name; empty: every interface
// that can broadcast (up, not loopback, not point-to-point).
using InterfaceNames = std::vector<std::string>;

// header and body as a limited broadcast (255.255.255.255:port) once on each
// chosen interface, from its own address, so that cameras behind every network
// card hear it and answer where it came from. Returns the number of
// interfaces it went out on; 0 is a failed send.
int BroadcastOnInterfaces(uint16_t socket, const PacketHeader& header, const std::string& body, uint16_t port,
                          const InterfaceNames& only = {});

// A request header: magic, category, sub-category, command, result 0, marker
// '#', flags 0x80000000 and the tag (set only for 0x711).
PacketHeader MakeRequestHeader(uint16_t command, uint32_t tag = 0);

// The search request: a bare header, command 0x701, broadcast on the chosen
// interfaces. True when it went out on at least one.
bool SendSearch(uint16_t reportSocket, const InterfaceNames& only = {});
// The record of an address change: zero-filled, with the MAC and the new
// address, gateway and mask (UTF-8 texts, stored as code page 936 and cut to
// their fields at a character boundary).
DeviceRecord MakeChangeIpRecord(const std::string& mac, const std::string& ip, const std::string& gateway,
                                const std::string& mask);

// The changeIp request built from record, as UTF-8, broadcast with command
// 0x703 on the chosen interfaces. True when it went out on at least one.
bool SendChangeIp(uint16_t reportSocket, const DeviceRecord& record, const InterfaceNames& only = {});
// text (code page 936) as UTF-8 with command 0x711 and tag to deviceIp:8025.
bool SendToDevice(const std::string& text, uint16_t handle, const char* deviceIp, uint32_t tag);

} // namespace lynx::protocol
