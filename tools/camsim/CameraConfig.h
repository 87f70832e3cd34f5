// What one simulated camera is (the identity it reports) and how it behaves
// (the faults and timings a test asks for), with the JSON form used by
// --config and --write-config.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace camsim {

struct CameraBehaviour {
    bool answerTwice = false;    // every search is answered with two reports
    int delayMs = 0;             // before each answer to a search
    int jitterMs = 0;            // plus a random 0..jitterMs
    bool silent = false;         // never answers a search
    bool malformed = false;      // broken reports go out before the good one
    bool oversized = false;      // the report's texts exceed the tool's fields
    int restartMs = 2000;        // silence after an address change
    int installMs = 1000;        // from a checked download to the notification
    bool refuseUpgrade = false;  // update requests are refused
    bool failInstall = false;    // a good download still reports status 1
    int failInstalls = 0;        // the first N upgrades report status 1, later ones succeed
    bool silentUpgrade = false;  // no status notification at all
    bool reportTwice = false;    // the notification goes out twice
    std::optional<int> reportStatus;  // this status instead of the real one
    std::string newVersion;      // software version after a successful upgrade
    std::string upgradeIp;       // the address it restarts at after a successful upgrade
    // Its download stops reading after this many bytes, until it gives up at
    // its download time-out (-1: it reads to the end).
    long long stallAfterBytes = -1;
};

struct CameraConfig {
    std::string ip;
    std::string mask = "255.255.255.0";
    std::string gateway;
    std::string mac;
    std::string model = "KV-PG200";
    std::string name;
    std::string manufacturer = "KOVA";
    std::string company = "科瓦智能";
    std::string softwareVersion = "V1.0.3";
    std::string hardwareVersion = "HW2.1";
    std::string productDate = "2018-11-07";
    std::string deviceId;
    int64_t sn = 0;
    int64_t type = 1;
    CameraBehaviour behaviour;
};

// IPv4 text <-> host-order value; nullopt for anything but a dotted quad.
std::optional<uint32_t> ParseIpv4(const std::string& text);
std::string FormatIpv4(uint32_t address);
// Prefix length of a contiguous mask, nullopt for a broken one.
std::optional<int> MaskPrefix(const std::string& mask);

// count cameras from firstIp upward, skipping host parts .0 and .255, each
// with its own MAC, identifier, serial number and a Chinese name.
// The first is numbered firstNumber (MACs and identifiers follow the numbers).
std::vector<CameraConfig> GenerateCameras(int count, const std::string& firstIp, const CameraBehaviour& behaviour,
                                          int firstNumber = 1);

// An array of camera objects; members that are absent take the generated
// identity of that position and the given behaviour. Throws std::runtime_error
// with a readable reason for anything that is not a usable camera list.
std::vector<CameraConfig> CamerasFromJson(const Json::Value& array, const CameraBehaviour& behaviour);
std::vector<CameraConfig> LoadCameraFile(const std::string& path, const CameraBehaviour& behaviour);
Json::Value CamerasToJson(const std::vector<CameraConfig>& cameras);

// UTF-8 JSON text without escapes for non-ASCII characters.
std::string WriteJson(const Json::Value& value, bool pretty = false);

} // namespace camsim
