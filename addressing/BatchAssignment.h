// The batch address assignment: consecutive addresses from a plan's start to
// the ticked devices in displayed order, skipping the gateway's address and
// handing the address of a device whose send failed to the next device.
#pragma once

#include "addressing/IpFields.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace lynx::addressing {

// One ticked device as collected before any dialog opens.
struct DevIpItem {
    std::string strIp;   // the device's address before the change
    std::string strMAC;
};

// Row index -> device, iterated in ascending row index (the displayed order).
using DevList = std::map<int, DevIpItem>;

// What the plan dialog gives after OK.
struct BatchPlan {
    int32_t ipCount = 0;      // m_nIpCount
    Octets startIp{};         // m_byStartIp
    std::string gateWay;      // m_strGateWay
    std::string netMask;      // m_strNetMask
};

// Sends one changeIp request; true when the datagram went out.
using ChangeIpSender = std::function<bool(const std::string& mac, const std::string& ip,
                                          const std::string& gateway, const std::string& mask)>;

struct DeviceAssignment {
    int row = 0;
    std::string newIp;
    bool sent = false;
};

struct BatchOutcome {
    // The count check refused the batch: nothing was sent.
    bool refused = false;
    std::vector<DeviceAssignment> assignments;  // in row order
    std::string strResult;                      // "ip=...;mac=...\r\n" per failed device
    std::string message;                        // the one message the user is shown
    bool allSent() const { return !refused && strResult.empty(); }
};

// When the last octet has reached 255 it becomes 1 and the third octet grows;
// a third octet reaching 255 becomes 0 and the second grows (modulo 256). The
// first octet never changes.
void CarryNextAddress(Octets& next);

// The count check: a plan with fewer addresses than devices is refused.
bool PlanHoldsDevices(int32_t ipCount, std::size_t deviceCount);

// Runs the whole assignment over devList (the count check, the carry, the
// gateway skip, the failure hand-over) and builds the final message.
BatchOutcome AssignAddresses(const DevList& devList, const BatchPlan& plan, const ChangeIpSender& send);

} // namespace lynx::addressing
