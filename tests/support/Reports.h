// Device reports as a camera sends them (UTF-8 JSON), for the tests that feed
// the receive path without a camera.
#pragma once

#include <string>

namespace lynx::test {

// A full report: deviceId defaults to "ID-" + ip.
inline std::string ReportJson(const std::string& ip, const std::string& mac, const std::string& name = "cam",
                              const std::string& version = "V1.0", const std::string& date = "2018-11-07",
                              const std::string& deviceId = "")
{
    return R"({"data":{"deviceIp":")" + ip + R"(","netMask":"255.255.255.0","gatewayIp":"192.168.1.1","deviceId":")" +
           (deviceId.empty() ? "ID-" + ip : deviceId) + R"(","machineInfo":{"type":7,"name":")" + name +
           R"(","model":"KV-100","mac":")" + mac + R"(","manufacturer":"Kova","company":"Kova","softwareVersion":")" +
           version + R"(","hardwareVersion":"H1","sn":42,"productDate":{"time":")" + date + R"("}}}})";
}

// A report with one text field's value replaced ("gatewayIp", "netMask",
// "model", ...).
inline std::string WithField(std::string json, const std::string& field, const std::string& value)
{
    const std::string key = "\"" + field + "\":\"";
    const size_t start = json.find(key);
    if (start == std::string::npos)
        return json;
    const size_t from = start + key.size();
    return json.replace(from, json.find('"', from) - from, value);
}

// The n-th of many distinct devices (10.0.x.y, 02:00:00:00:x:y).
inline std::string NumberedReportJson(int n)
{
    const std::string x = std::to_string(n / 250), y = std::to_string(n % 250);
    return ReportJson("10.0." + x + "." + std::to_string(n % 250 + 1), "02:00:00:00:" + x + ":" + y, "相机");
}

} // namespace lynx::test
