// One discovered device: a plain fixed-size record of code page 936 texts and
// integers, created zero-filled. Also the input of an address change, where
// only mac, deviceIp, netMask and gatewayIp matter.
#pragma once

#include "platform/CodePage.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

struct DeviceRecord {
    char deviceId[16];
    char name[32];
    char model[16];
    char manufacturer[16];
    char mac[26];
    uint16_t protocolVersion;  // high byte major, low byte minor; no report fills it
    char company[16];
    uint16_t productType;
    char productDate[36];
    int32_t sn;
    uint32_t hwFeature;        // no report fills it
    char softwareVersion[30];
    char hardwareVersion[30];
    int32_t consumerSn;        // no report fills it
    char deviceIp[20];
    char netMask[20];
    char gatewayIp[20];
    int32_t devicePort;        // no report fills it
    int32_t httpPort;          // no report fills it
    int32_t productSubType;    // no report fills it
};

// The layout is the maker's, with natural alignment; peers and tools that
// exchange the record as bytes rely on it.
static_assert(sizeof(DeviceRecord) == 308);
static_assert(offsetof(DeviceRecord, deviceId) == 0);
static_assert(offsetof(DeviceRecord, name) == 16);
static_assert(offsetof(DeviceRecord, model) == 48);
static_assert(offsetof(DeviceRecord, manufacturer) == 64);
static_assert(offsetof(DeviceRecord, mac) == 80);
static_assert(offsetof(DeviceRecord, protocolVersion) == 106);
static_assert(offsetof(DeviceRecord, company) == 108);
static_assert(offsetof(DeviceRecord, productType) == 124);
static_assert(offsetof(DeviceRecord, productDate) == 126);
static_assert(offsetof(DeviceRecord, sn) == 164);
static_assert(offsetof(DeviceRecord, hwFeature) == 168);
static_assert(offsetof(DeviceRecord, softwareVersion) == 172);
static_assert(offsetof(DeviceRecord, hardwareVersion) == 202);
static_assert(offsetof(DeviceRecord, consumerSn) == 232);
static_assert(offsetof(DeviceRecord, deviceIp) == 236);
static_assert(offsetof(DeviceRecord, netMask) == 256);
static_assert(offsetof(DeviceRecord, gatewayIp) == 276);
static_assert(offsetof(DeviceRecord, devicePort) == 296);
static_assert(offsetof(DeviceRecord, httpPort) == 300);
static_assert(offsetof(DeviceRecord, productSubType) == 304);

namespace lynx::protocol {

// A text field of a record: its bytes up to the NUL (code page 936, as the
// record holds them; for comparisons and the wire)...
template <std::size_t N>
std::string_view FieldBytes(const char (&field)[N])
{
    return std::string_view(field, ::strnlen(field, N));
}

// ... and its text in UTF-8, as everything else in the program holds text.
template <std::size_t N>
std::string FieldText(const char (&field)[N])
{
    return platform::Cp936ToUtf8(FieldBytes(field));
}

} // namespace lynx::protocol

// The update-status notification of a camera, as parsed.
struct UpdateStatusRecord {
    char deviceId[16];
    int32_t status;
};
