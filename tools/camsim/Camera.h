// One simulated camera: its identity as it stands now (an address change or an
// upgrade alters it), what it says in a device report, and its short-lived
// states (restarting, upgrading, away from the network). Not locked itself: the simulator that routes
// datagrams to it holds one lock around every camera.
#pragma once

#include "CameraConfig.h"

#include <chrono>
#include <string>
#include <vector>

namespace camsim {

class Camera {
public:
    using Clock = std::chrono::steady_clock;

    explicit Camera(CameraConfig config) : m_config(std::move(config)) {}

    const CameraConfig& Config() const { return m_config; }
    const CameraBehaviour& Behaviour() const { return m_config.behaviour; }

    // The device report body (UTF-8 JSON) with the current identity; with the
    // oversized behaviour every text but the address and MAC is far longer than
    // the tool's fields.
    std::string ReportBody() const;
    // Bodies a broken firmware might send: not JSON, wrong JSON types, values
    // out of range. None of them names this camera's address.
    static std::vector<std::string> MalformedBodies();

    bool MacMatches(const std::string& mac) const;
    // Identifiers are compared on the 15 characters a device record can hold.
    bool DeviceIdMatches(const std::string& deviceId) const;

    // Takes new address values and goes quiet until the restart is over.
    void TakeAddress(const std::string& ip, const std::string& mask, const std::string& gateway, Clock::time_point now);
    bool IsRestarting(Clock::time_point now) const { return now < m_restartUntil; }

    bool IsUpgrading() const { return m_upgrading; }
    void SetUpgrading(bool upgrading) { m_upgrading = upgrading; }
    void SetSoftwareVersion(const std::string& version) { m_config.softwareVersion = version; }
    // Counts an installation; returns how many there have been, this one included.
    int CountInstall() { return ++m_installs; }

    // A camera that is away (powered off, its cable out) hears nothing and
    // answers nothing until it returns, with the identity it had.
    bool IsAway() const { return m_away; }
    void SetAway(bool away, Clock::time_point now)
    {
        m_away = away;
        m_awaySince = now;
    }
    Clock::time_point AwaySince() const { return m_awaySince; }

private:
    CameraConfig m_config;
    Clock::time_point m_restartUntil{};
    bool m_upgrading = false;
    int m_installs = 0;
    bool m_away = false;
    Clock::time_point m_awaySince{};
};

} // namespace camsim
