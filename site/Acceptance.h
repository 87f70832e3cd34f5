// A site's acceptance: each camera of the expected inventory (SiteFile) and
// each device a search found, given exactly one state. Free of any output
// format: lynx-cli prints it as a table, JSON or CSV, the window greys its rows
// and shows the counts line.
#pragma once

#include "protocol/DeviceTable.h"
#include "site/SiteFile.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace lynx::site {

// A planned camera's state comes from its own reports only: those sent from
// the address they name. Another host may answer for any camera (the
// protocol proves nothing), so a planned camera heard only through hearsay is
// Missing, with the hosts that answered for it named; hearsay about a device
// that is not planned still lists it as Unexpected, with its senders named,
// as nothing heard on the LAN is hidden. Conflicts count only between the
// cameras' own reports.
//
// When several apply to a planned camera that was found, the first of
// Conflict, Address, Version is its state: an address held twice makes every
// other test of that camera unreliable (which of the two answered?), and a
// camera must be reachable at its address before its version counts. A found
// device that is not planned is Unexpected whatever else holds: it should not
// be there at all (the planned camera it shares an address with is Conflict).
enum class AcceptanceState {
    Ok,          // found at its planned address, on its planned version
    Address,     // found, but its IP, mask or gateway differs from the plan
    Version,     // found, on another software version
    Missing,     // planned, not heard
    Unexpected,  // heard, not planned
    Conflict,    // its IP is held by another camera too
};

struct CameraAcceptance {
    AcceptanceState state = AcceptanceState::Ok;
    int line = 0;        // in the site file; 0 for an unexpected device
    int number = 0;      // in the device table; 0 for a missing camera
    std::string mac;     // as planned, or as found for an unexpected device
    std::string label;
    // As planned (empty: not planned, not checked); plannedVersion is the
    // camera's own, else the version expected for every camera.
    std::string plannedIp, plannedMask, plannedGateway, plannedVersion;
    // As found (empty for a missing camera): the record's fields, and the
    // version as the list shows it, with its build date.
    std::string ip, mask, gateway, softwareVersion, versionText;
    // The others holding ip: the MACs of the first few, and how many.
    std::vector<std::string> conflictWith;
    std::size_t conflicts = 0;
    // The other hosts that answered for this camera (hearsay: a report of its
    // MAC sent from another address than the one it names): the first few
    // addresses, and how many hosts.
    std::vector<std::string> hearsayFrom;
    std::size_t hearsaySenders = 0;
    // Why the PC cannot reach the camera found at its address (translated);
    // empty when it can, and for a missing camera.
    std::string unreachable;
};

// How many of the others holding a camera's address, and of the hosts
// answering for it, a row lists by name.
inline constexpr std::size_t kListedByName = protocol::DeviceTable::kConflictsListed;

struct AcceptanceSummary {
    std::size_t expected = 0;  // planned cameras: ok + address + version + missing + conflicts of planned ones
    std::size_t ok = 0, address = 0, version = 0, missing = 0, unexpected = 0, conflict = 0;
};

struct AcceptanceResult {
    // The planned cameras in the file's order, then the unexpected devices in
    // the table's.
    std::vector<CameraAcceptance> cameras;
    AcceptanceSummary summary;
    // Every planned camera ok, and no unexpected device unless allowed.
    bool Passed(bool allowUnexpected) const;
};

// Whether a device's software version is the one expected: equal to its
// reported "softwareVersion", or to the version text the list shows and
// exports ("V1.0.3 build[2018-11-07]"). An empty expectation takes any.
bool VersionMatches(const std::string& expected, const DeviceRecord& record);

// Classifies the site's cameras against the devices in table (after a
// search). expectVersion is expected of every camera the file gives no
// version of (empty: any). present, when given, leaves out the devices it
// answers false for, as if not heard (a watched camera gone dark).
AcceptanceResult CheckAcceptance(const SiteFile& site, const protocol::DeviceTable& table,
                                 const std::string& expectVersion = {},
                                 const std::function<bool(int number)>& present = {});

// "ok", "address", "version", "missing", "unexpected", "conflict": the name in
// JSON and CSV, never translated.
const char* StateName(AcceptanceState state);
// The state's short status text, translated: 正常, 地址不符, 版本不符, 未找到,
// 多余, 地址冲突.
std::string StateText(AcceptanceState state);
// "another host at 192.168.1.66 answers for this camera", translated, naming
// the first few hosts and how many more; empty when none did.
std::string HearsayText(const CameraAcceptance& camera);
// "a b c", or "a b c and 5 more" (translated) for a list of the first few of
// count.
std::string ListedText(const std::vector<std::string>& first, std::size_t count, const char* separator = " ");

// The counts in one translated line: "应有 200 台，正常 196，地址不符 1，版本不符 0，
// 未找到 3，多余 2，地址冲突 0" (every count, always in this order).
std::string SummaryText(const AcceptanceSummary& summary);

} // namespace lynx::site
