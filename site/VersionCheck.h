// After a batch, the window listens again to the cameras that reported
// success: each one restarts with its new firmware and, asked by searches,
// answers with the version it now runs. A camera heard with a new version
// shows it ("升级成功，版本已更新"); one heard only with its old version says so
// at the end ("升级成功，版本未变"); one not heard keeps "升级成功". Only the
// camera's own word counts: a report from the address it names, on the card
// the camera was found on. The check adds no device: every report while it
// runs is its.
#pragma once

#include "protocol/DatagramInbox.h"
#include "site/Site.h"

#include <memory>
#include <string>
#include <vector>

namespace lynx::site {

class VersionCheck {
public:
    // The check of the last batch's successful cameras; null when there is
    // none, or when a device of the batch is no longer listed as it was.
    static std::unique_ptr<VersionCheck> Begin(Site& site);

    // A report that arrived while the check runs.
    void Take(const protocol::Datagram& datagram);
    // Every camera of the check has been heard with a new version.
    bool Done() const { return m_cameras.empty(); }
    // The end: the cameras heard only with their old version say so.
    void Finish();

private:
    struct Camera {
        int number = 0;       // the device
        std::string mac;      // its MacKey
        std::string card;     // the network card it was found on
        std::string before;   // its software version text before the batch
        bool heardSame = false;
    };
    explicit VersionCheck(Site& site) : m_site(site) {}

    Site& m_site;
    std::vector<Camera> m_cameras;
};

} // namespace lynx::site
