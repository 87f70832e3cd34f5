#include "CameraConfig.h"

#include <json/reader.h>
#include <json/writer.h>

#include <arpa/inet.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace camsim {

std::optional<uint32_t> ParseIpv4(const std::string& text)
{
    in_addr address{};
    if (::inet_pton(AF_INET, text.c_str(), &address) != 1)
        return std::nullopt;
    return ntohl(address.s_addr);
}

std::string FormatIpv4(uint32_t address)
{
    char text[INET_ADDRSTRLEN];
    in_addr a{htonl(address)};
    ::inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

std::optional<int> MaskPrefix(const std::string& mask)
{
    auto value = ParseIpv4(mask);
    if (!value)
        return std::nullopt;
    int prefix = 0;
    uint32_t bits = *value;
    while (bits & 0x80000000u) {
        ++prefix;
        bits <<= 1;
    }
    if (bits != 0)
        return std::nullopt;
    return prefix;
}

namespace {

// The identity of the camera at position index of a generated set.
CameraConfig GeneratedCamera(int index, uint32_t address, const CameraBehaviour& behaviour)
{
    CameraConfig c;
    c.ip = FormatIpv4(address);
    c.gateway = FormatIpv4((address & 0xFFFFFF00u) | 1u);
    unsigned n = static_cast<unsigned>(index) + 1;
    char mac[32];
    std::snprintf(mac, sizeof mac, "00:1A:2B:%02X:%02X:%02X", (n >> 16) & 0xFF, (n >> 8) & 0xFF, n & 0xFF);
    c.mac = mac;
    char id[16];
    std::snprintf(id, sizeof id, "KV%08u", 20180000u + n);
    c.deviceId = id;
    // Chinese names on purpose: the texts cross two encodings on their way.
    static const char* const kNames[] = {"车位引导相机", "停车场入口相机", "地下车库相机", "出口识别相机"};
    char name[64];
    std::snprintf(name, sizeof name, "%s-%03u", kNames[index % 4], n);
    c.name = name;
    c.sn = 100000 + n;
    c.behaviour = behaviour;
    return c;
}

uint32_t NextHostAddress(uint32_t address)
{
    while ((address & 0xFF) == 0 || (address & 0xFF) == 0xFF)
        ++address;
    return address;
}

std::vector<uint32_t> ConsecutiveAddresses(int count, uint32_t first)
{
    std::vector<uint32_t> out;
    uint32_t a = first;
    for (int i = 0; i < count; ++i) {
        a = NextHostAddress(a);
        out.push_back(a);
        ++a;
    }
    return out;
}

std::string TextMember(const Json::Value& o, const char* key, const std::string& fallback)
{
    if (!o.isMember(key))
        return fallback;
    const Json::Value& v = o[key];
    if (!v.isString())
        throw std::runtime_error(std::string("\"") + key + "\" must be a text");
    return v.asString();
}

int64_t IntMember(const Json::Value& o, const char* key, int64_t fallback)
{
    if (!o.isMember(key))
        return fallback;
    const Json::Value& v = o[key];
    if (!v.isIntegral())
        throw std::runtime_error(std::string("\"") + key + "\" must be an integer");
    return v.asInt64();
}

int MillisMember(const Json::Value& o, const char* key, int fallback)
{
    int64_t v = IntMember(o, key, fallback);
    if (v < 0 || v > 3600 * 1000)
        throw std::runtime_error(std::string("\"") + key + "\" must be 0 to 3600000 ms");
    return static_cast<int>(v);
}

bool BoolMember(const Json::Value& o, const char* key, bool fallback)
{
    if (!o.isMember(key))
        return fallback;
    if (!o[key].isBool())
        throw std::runtime_error(std::string("\"") + key + "\" must be true or false");
    return o[key].asBool();
}

CameraBehaviour BehaviourFromJson(const Json::Value& o, const CameraBehaviour& d)
{
    CameraBehaviour b;
    b.answerTwice = BoolMember(o, "answerTwice", d.answerTwice);
    b.delayMs = MillisMember(o, "delayMs", d.delayMs);
    b.jitterMs = MillisMember(o, "jitterMs", d.jitterMs);
    b.silent = BoolMember(o, "silent", d.silent);
    b.malformed = BoolMember(o, "malformed", d.malformed);
    b.oversized = BoolMember(o, "oversized", d.oversized);
    b.restartMs = MillisMember(o, "restartMs", d.restartMs);
    b.installMs = MillisMember(o, "installMs", d.installMs);
    b.refuseUpgrade = BoolMember(o, "refuseUpgrade", d.refuseUpgrade);
    b.failInstall = BoolMember(o, "failInstall", d.failInstall);
    b.failInstalls = static_cast<int>(IntMember(o, "failInstalls", d.failInstalls));
    if (b.failInstalls < 0)
        throw std::runtime_error("\"failInstalls\" must be 0 or more");
    b.silentUpgrade = BoolMember(o, "silentUpgrade", d.silentUpgrade);
    b.reportTwice = BoolMember(o, "reportTwice", d.reportTwice);
    b.reportStatus = d.reportStatus;
    if (o.isMember("reportStatus") && !o["reportStatus"].isNull())
        b.reportStatus = static_cast<int>(IntMember(o, "reportStatus", 0));
    b.newVersion = TextMember(o, "newVersion", d.newVersion);
    b.stallAfterBytes = IntMember(o, "stallAfterBytes", d.stallAfterBytes);
    if (b.stallAfterBytes < -1)
        throw std::runtime_error("\"stallAfterBytes\" must be -1 (never) or more");
    b.upgradeIp = TextMember(o, "upgradeIp", d.upgradeIp);
    if (!b.upgradeIp.empty() && !ParseIpv4(b.upgradeIp))
        throw std::runtime_error("\"upgradeIp\" must be a dotted IPv4 address");
    return b;
}

} // namespace

std::vector<CameraConfig> GenerateCameras(int count, const std::string& firstIp, const CameraBehaviour& behaviour,
                                          int firstNumber)
{
    auto first = ParseIpv4(firstIp);
    if (!first)
        throw std::runtime_error("not an IPv4 address: " + firstIp);
    std::vector<CameraConfig> cameras;
    auto addresses = ConsecutiveAddresses(count, *first);
    for (int i = 0; i < count; ++i)
        cameras.push_back(GeneratedCamera(firstNumber - 1 + i, addresses[static_cast<size_t>(i)], behaviour));
    return cameras;
}

std::vector<CameraConfig> CamerasFromJson(const Json::Value& array, const CameraBehaviour& behaviour)
{
    if (!array.isArray())
        throw std::runtime_error("the camera list must be a JSON array");
    std::vector<CameraConfig> cameras;
    for (Json::ArrayIndex i = 0; i < array.size(); ++i) {
        const Json::Value& o = array[i];
        std::string where = "camera " + std::to_string(i + 1) + ": ";
        try {
            if (!o.isObject())
                throw std::runtime_error("must be an object");
            std::string ip = TextMember(o, "ip", "");
            auto address = ParseIpv4(ip);
            if (!address)
                throw std::runtime_error("\"ip\" must be a dotted IPv4 address");
            CameraConfig d = GeneratedCamera(static_cast<int>(i), *address, behaviour);
            CameraConfig c;
            c.ip = ip;
            c.mask = TextMember(o, "mask", d.mask);
            c.gateway = TextMember(o, "gateway", d.gateway);
            c.mac = TextMember(o, "mac", d.mac);
            c.model = TextMember(o, "model", d.model);
            c.name = TextMember(o, "name", d.name);
            c.manufacturer = TextMember(o, "manufacturer", d.manufacturer);
            c.company = TextMember(o, "company", d.company);
            c.softwareVersion = TextMember(o, "softwareVersion", d.softwareVersion);
            c.hardwareVersion = TextMember(o, "hardwareVersion", d.hardwareVersion);
            c.productDate = TextMember(o, "productDate", d.productDate);
            c.deviceId = TextMember(o, "deviceId", d.deviceId);
            c.sn = IntMember(o, "sn", d.sn);
            c.type = IntMember(o, "type", d.type);
            c.behaviour = BehaviourFromJson(o, behaviour);
            cameras.push_back(std::move(c));
        } catch (const std::exception& e) {
            throw std::runtime_error(where + e.what());
        }
    }
    return cameras;
}

std::vector<CameraConfig> LoadCameraFile(const std::string& path, const CameraBehaviour& behaviour)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::stringstream text;
    text << in.rdbuf();
    Json::CharReaderBuilder builder;
    builder["failIfExtra"] = true;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    std::string s = text.str();
    if (!reader->parse(s.data(), s.data() + s.size(), &root, &errors))
        throw std::runtime_error(path + " is not JSON: " + errors);
    return CamerasFromJson(root, behaviour);
}

Json::Value CamerasToJson(const std::vector<CameraConfig>& cameras)
{
    Json::Value array(Json::arrayValue);
    for (const CameraConfig& c : cameras) {
        Json::Value o(Json::objectValue);
        o["ip"] = c.ip;
        o["mask"] = c.mask;
        o["gateway"] = c.gateway;
        o["mac"] = c.mac;
        o["model"] = c.model;
        o["name"] = c.name;
        o["manufacturer"] = c.manufacturer;
        o["company"] = c.company;
        o["softwareVersion"] = c.softwareVersion;
        o["hardwareVersion"] = c.hardwareVersion;
        o["productDate"] = c.productDate;
        o["deviceId"] = c.deviceId;
        o["sn"] = Json::Int64(c.sn);
        o["type"] = Json::Int64(c.type);
        const CameraBehaviour& b = c.behaviour;
        o["answerTwice"] = b.answerTwice;
        o["delayMs"] = b.delayMs;
        o["jitterMs"] = b.jitterMs;
        o["silent"] = b.silent;
        o["malformed"] = b.malformed;
        o["oversized"] = b.oversized;
        o["restartMs"] = b.restartMs;
        o["installMs"] = b.installMs;
        o["refuseUpgrade"] = b.refuseUpgrade;
        o["failInstall"] = b.failInstall;
        o["failInstalls"] = b.failInstalls;
        o["silentUpgrade"] = b.silentUpgrade;
        o["reportTwice"] = b.reportTwice;
        o["reportStatus"] = b.reportStatus ? Json::Value(*b.reportStatus) : Json::Value();
        o["newVersion"] = b.newVersion;
        o["upgradeIp"] = b.upgradeIp;
        o["stallAfterBytes"] = Json::Int64(b.stallAfterBytes);
        array.append(o);
    }
    return array;
}

std::string WriteJson(const Json::Value& value, bool pretty)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = pretty ? "  " : "";
    builder["emitUTF8"] = true;
    return Json::writeString(builder, value);
}

} // namespace camsim
