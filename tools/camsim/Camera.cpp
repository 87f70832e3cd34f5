#include "Camera.h"

#include <json/value.h>

#include <algorithm>
#include <cctype>

namespace camsim {

namespace {

std::string Repeat(const std::string& piece, size_t times)
{
    std::string out;
    for (size_t i = 0; i < times; ++i)
        out += piece;
    return out;
}

bool EqualNoCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

} // namespace

std::string Camera::ReportBody() const
{
    const CameraConfig& c = m_config;
    bool big = c.behaviour.oversized;
    Json::Value info(Json::objectValue);
    info["type"] = Json::Int64(c.type);
    info["name"] = big ? c.name + Repeat("超长的设备名称", 8) : c.name;
    info["model"] = big ? c.model + Repeat("-MODEL", 8) : c.model;
    info["mac"] = c.mac;
    info["manufacturer"] = big ? c.manufacturer + Repeat("制造商", 10) : c.manufacturer;
    info["company"] = big ? c.company + Repeat("公司", 10) : c.company;
    info["softwareVersion"] = big ? c.softwareVersion + Repeat(".9", 30) : c.softwareVersion;
    info["hardwareVersion"] = big ? c.hardwareVersion + Repeat(".8", 30) : c.hardwareVersion;
    info["sn"] = Json::Int64(c.sn);
    Json::Value date(Json::objectValue);
    date["time"] = big ? c.productDate + Repeat(" 12:00:00", 6) : c.productDate;
    info["productDate"] = date;

    Json::Value data(Json::objectValue);
    data["deviceIp"] = c.ip;
    data["netMask"] = c.mask;
    data["gatewayIp"] = c.gateway;
    data["deviceId"] = big ? c.deviceId + Repeat("X", 40) : c.deviceId;
    data["machineInfo"] = info;
    Json::Value root(Json::objectValue);
    root["data"] = data;
    return WriteJson(root);
}

std::vector<std::string> Camera::MalformedBodies()
{
    return {
        R"({"data":{"deviceIp":"10.99.0.1","machineInfo":{"mac":"EE:00:00:00:00:01")",  // cut short
        R"([{"data":{"deviceIp":"10.99.0.2"}}])",                                       // not an object
        R"({"data":"10.99.0.3"})",                                                       // data not an object
        R"({"data":{"deviceIp":"10.99.0.4","machineInfo":"EE:00:00:00:00:04"}})",        // machineInfo a text
        R"({"data":{"deviceIp":"10.99.0.5","machineInfo":{"mac":"EE:00:00:00:00:05","name":["a","b"]}}})",
        R"({"data":{"deviceIp":"10.99.0.6","machineInfo":{"mac":"EE:00:00:00:00:06","type":"camera"}}})",
        R"({"data":{"deviceIp":"10.99.0.7","machineInfo":{"mac":"EE:00:00:00:00:07","sn":99999999999}}})",
        R"({"data":{"deviceIp":{"a":1},"machineInfo":{"mac":"EE:00:00:00:00:08"}}})",
        R"({"data":{"deviceIp":"10.99.0.9","machineInfo":{"mac":"EE:00:00:00:00:09","productDate":[1]}}})",
        std::string("\xFF\xFE{\"data\":{\"deviceIp\":\"10.99.0.10\"}}"),                 // not UTF-8
        std::string(),                                                                    // no body at all
        std::string(1000, '['),  // nested beyond any JSON reader's stack limit
    };
}

bool Camera::MacMatches(const std::string& mac) const
{
    return !mac.empty() && EqualNoCase(mac, m_config.mac);
}

bool Camera::DeviceIdMatches(const std::string& deviceId) const
{
    return !deviceId.empty() && deviceId.substr(0, 15) == m_config.deviceId.substr(0, 15);
}

void Camera::TakeAddress(const std::string& ip, const std::string& mask, const std::string& gateway,
                         Clock::time_point now)
{
    m_config.ip = ip;
    m_config.mask = mask;
    m_config.gateway = gateway;
    m_restartUntil = now + std::chrono::milliseconds(m_config.behaviour.restartMs);
}

} // namespace camsim
