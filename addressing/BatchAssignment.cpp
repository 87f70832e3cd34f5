#include "addressing/BatchAssignment.h"

#include "addressing/Messages.h"

namespace lynx::addressing {

void CarryNextAddress(Octets& next)
{
    if (next[3] != 255)
        return;
    next[3] = 1;
    ++next[2];
    if (next[2] == 255) {
        next[2] = 0;
        ++next[1];
    }
}

bool PlanHoldsDevices(int32_t ipCount, std::size_t deviceCount)
{
    // Signed comparison: a negative count never holds a device.
    return static_cast<int64_t>(ipCount) >= static_cast<int64_t>(deviceCount);
}

BatchOutcome AssignAddresses(const DevList& devList, const BatchPlan& plan, const ChangeIpSender& send)
{
    BatchOutcome outcome;
    if (!PlanHoldsDevices(plan.ipCount, devList.size())) {
        outcome.refused = true;
        outcome.message = msg::kTooManyDevices;
        return outcome;
    }

    Octets next = plan.startIp;
    for (const auto& [row, item] : devList) {
        CarryNextAddress(next);
        std::string newIp = FormatOctets(next);
        if (newIp == plan.gateWay) {
            ++next[3];
            CarryNextAddress(next);
            newIp = FormatOctets(next);
        }
        bool sent = send(item.strMAC, newIp, plan.gateWay, plan.netMask);
        outcome.assignments.push_back(DeviceAssignment{row, newIp, sent});
        if (sent)
            ++next[3];
        else
            outcome.strResult += "ip=" + item.strIp + ";mac=" + item.strMAC + "\r\n";
    }

    outcome.message = outcome.strResult.empty() ? std::string(msg::kAllSucceeded)
                                                : msg::kSomeFailedPrefix + outcome.strResult;
    return outcome;
}

} // namespace lynx::addressing
