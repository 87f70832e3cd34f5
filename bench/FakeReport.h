// A well-formed report of made-up camera number i, as the benchmarks fill the
// list with: each with an address and a MAC of its own, a Chinese name.
#pragma once

#include <cstdio>
#include <string>

namespace lynx::bench {

inline std::string FakeReport(int i)
{
    char ip[32], mac[32];
    std::snprintf(ip, sizeof ip, "10.%d.%d.%d", (i >> 16) & 255, (i >> 8) & 255, i & 255);
    std::snprintf(mac, sizeof mac, "00:1A:%02X:%02X:%02X:01", (i >> 16) & 255, (i >> 8) & 255, i & 255);
    return std::string(R"({"data":{"deviceIp":")") + ip +
           R"(","netMask":"255.0.0.0","gatewayIp":"10.0.0.1","deviceId":"D)" + std::to_string(i) +
           R"(","machineInfo":{"type":7,"name":"摄像机)" + std::to_string(i) + R"(","model":"KV-)" +
           std::to_string(i % 97) + R"(","mac":")" + mac +
           R"(","softwareVersion":"V1.)" + std::to_string(i % 13) + R"(","productDate":{"time":"2018-11-07"}}}})";
}

} // namespace lynx::bench
