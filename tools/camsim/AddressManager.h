// The simulated cameras' addresses on this namespace's interface (--add-addresses):
// added when missing, moved when a camera takes a new address, and those this
// program added removed again when it ends.
#pragma once

#include "Log.h"

#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace camsim {

// The IPv4 addresses this host has now.
std::set<std::string> LocalIpv4Addresses();

class AddressManager {
public:
    AddressManager(std::string interface, const Log& log);
    ~AddressManager();

    // The interface in use: the one given, else the first one that is up and not
    // loopback. Empty when there is none.
    const std::string& Interface() const { return m_interface; }

    // Adds every address (ip, prefix) the host lacks, in one batch.
    bool Ensure(const std::vector<std::pair<std::string, int>>& addresses);
    // Takes oldIp away (unless keepOld) and puts newIp/prefix in place.
    bool Move(const std::string& oldIp, bool keepOld, const std::string& newIp, int prefix);
    // Removes the addresses this object added and that are still there.
    void RemoveAdded();

private:
    bool RunBatch(const std::string& commands);
    bool MoveOnOwnCard(const std::string& card, const std::string& oldIp, bool keepOld, const std::string& newIp,
                       int prefix);

    std::string m_interface;
    const Log& m_log;
    std::mutex m_mutex;
    std::set<std::pair<std::string, int>> m_added;
};

} // namespace camsim
