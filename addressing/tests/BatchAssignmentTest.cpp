#include "addressing/AddressRules.h"
#include "addressing/BatchAssignment.h"
#include "addressing/Messages.h"

#include <gtest/gtest.h>

#include <set>

using namespace lynx::addressing;

namespace {

struct Sent {
    std::string mac, ip, gateway, mask;
};

// Records every send; the sends whose 1-based position is in failing fail.
struct ScriptedSender {
    std::vector<Sent> sent;
    std::set<int> failing;
    ChangeIpSender fn()
    {
        return [this](const std::string& mac, const std::string& ip, const std::string& gw, const std::string& mask) {
            sent.push_back({mac, ip, gw, mask});
            return failing.count(static_cast<int>(sent.size())) == 0;
        };
    }
};

DevList Devices(int count, int firstRow = 0)
{
    DevList list;
    for (int i = 0; i < count; ++i)
        list[firstRow + 2 * i] = DevIpItem{"192.168.0." + std::to_string(100 + i), "00:11:22:33:44:" + std::to_string(10 + i)};
    return list;
}

BatchPlan PlanFrom(const char* start, const char* end, const char* gateway, const char* mask)
{
    PlanEntries entries{ParseIpFields(gateway), ParseIpFields(start), ParseIpFields(end), ParseIpFields(mask)};
    PlanValues values;
    EXPECT_EQ(ValidatePlan(entries, values), std::nullopt);
    return BatchPlan{values.ipCount, values.startIp, values.gateWay, values.netMask};
}

std::vector<std::string> NewIps(const BatchOutcome& outcome)
{
    std::vector<std::string> ips;
    for (const auto& a : outcome.assignments)
        ips.push_back(a.newIp);
    return ips;
}

} // namespace

// ---- Carry ----

TEST(Carry, LastOctet255MovesToTheNextThirdOctetAtOne)
{
    Octets next{172, 16, 1, 255};
    CarryNextAddress(next);
    EXPECT_EQ(next, (Octets{172, 16, 2, 1}));

    Octets below{172, 16, 1, 254};
    CarryNextAddress(below);
    EXPECT_EQ(below, (Octets{172, 16, 1, 254}));
}

TEST(Carry, ThirdOctetReaching255WrapsToZeroAndTheSecondGrows)
{
    Octets next{10, 0, 254, 255};
    CarryNextAddress(next);
    EXPECT_EQ(next, (Octets{10, 1, 0, 1}));

    // Nothing carries into the first octet: the second wraps modulo 256.
    Octets top{10, 255, 254, 255};
    CarryNextAddress(top);
    EXPECT_EQ(top, (Octets{10, 0, 0, 1}));
}

TEST(Carry, WorkedExampleSkipsTheGatewayAcrossTheCarry)
{
    BatchPlan plan = PlanFrom("172.16.1.253", "172.16.2.10", "172.16.2.1", "255.255.0.0");
    EXPECT_EQ(plan.ipCount, 11);
    ScriptedSender sender;
    BatchOutcome outcome = AssignAddresses(Devices(4), plan, sender.fn());
    EXPECT_EQ(NewIps(outcome), (std::vector<std::string>{"172.16.1.253", "172.16.1.254", "172.16.2.2", "172.16.2.3"}));
    EXPECT_EQ(outcome.message, msg::kAllSucceeded);
}

TEST(Carry, ClassAPlanRunsThroughThirdOctets)
{
    BatchPlan plan = PlanFrom("10.0.0.253", "10.0.3.254", "10.0.0.1", "255.0.0.0");
    ScriptedSender sender;
    BatchOutcome outcome = AssignAddresses(Devices(3), plan, sender.fn());
    EXPECT_EQ(NewIps(outcome), (std::vector<std::string>{"10.0.0.253", "10.0.0.254", "10.0.1.1"}));
}

// ---- Gateway skip ----

TEST(GatewaySkip, DefaultPlanGivesConsecutiveAddressesInRowOrder)
{
    BatchPlan plan = PlanFrom("192.168.1.2", "192.168.1.254", "192.168.1.1", "255.255.255.0");
    ScriptedSender sender;
    DevList devices;
    devices[7] = {"1.1.1.7", "mac-7"};
    devices[0] = {"1.1.1.0", "mac-0"};
    devices[3] = {"1.1.1.3", "mac-3"};
    BatchOutcome outcome = AssignAddresses(devices, plan, sender.fn());
    ASSERT_EQ(sender.sent.size(), 3u);
    EXPECT_EQ(sender.sent[0].mac, "mac-0");
    EXPECT_EQ(sender.sent[0].ip, "192.168.1.2");
    EXPECT_EQ(sender.sent[1].mac, "mac-3");
    EXPECT_EQ(sender.sent[1].ip, "192.168.1.3");
    EXPECT_EQ(sender.sent[2].mac, "mac-7");
    EXPECT_EQ(sender.sent[2].ip, "192.168.1.4");
    for (const Sent& s : sender.sent) {
        EXPECT_EQ(s.gateway, "192.168.1.1");
        EXPECT_EQ(s.mask, "255.255.255.0");
    }
    EXPECT_EQ(outcome.assignments[2].row, 7);
}

TEST(GatewaySkip, StartEqualToTheGatewayGivesTheFirstDeviceTheNextAddress)
{
    BatchPlan plan = PlanFrom("172.16.1.1", "172.16.1.254", "172.16.1.1", "255.255.0.0");
    ScriptedSender sender;
    BatchOutcome outcome = AssignAddresses(Devices(2), plan, sender.fn());
    EXPECT_EQ(NewIps(outcome), (std::vector<std::string>{"172.16.1.2", "172.16.1.3"}));
}

TEST(GatewaySkip, GatewayAt254IsSkippedThroughTheCarry)
{
    BatchPlan plan = PlanFrom("172.16.1.253", "172.16.2.9", "172.16.1.254", "255.255.0.0");
    ScriptedSender sender;
    BatchOutcome outcome = AssignAddresses(Devices(2), plan, sender.fn());
    EXPECT_EQ(NewIps(outcome), (std::vector<std::string>{"172.16.1.253", "172.16.2.1"}));
}

TEST(GatewaySkip, StartEndingInZeroIsGivenUnchanged)
{
    BatchPlan plan = PlanFrom("192.168.1.0", "192.168.1.254", "192.168.1.1", "255.255.255.0");
    ScriptedSender sender;
    BatchOutcome outcome = AssignAddresses(Devices(3), plan, sender.fn());
    EXPECT_EQ(NewIps(outcome), (std::vector<std::string>{"192.168.1.0", "192.168.1.2", "192.168.1.3"}));
}

TEST(GatewaySkip, ClassCPlanFrom250FillsUpTo254)
{
    BatchPlan plan = PlanFrom("192.168.1.250", "192.168.1.254", "192.168.1.1", "255.255.255.0");
    EXPECT_EQ(plan.ipCount, 5);
    ScriptedSender sender;
    BatchOutcome outcome = AssignAddresses(Devices(5), plan, sender.fn());
    EXPECT_EQ(NewIps(outcome), (std::vector<std::string>{"192.168.1.250", "192.168.1.251", "192.168.1.252",
                                                         "192.168.1.253", "192.168.1.254"}));
    EXPECT_TRUE(outcome.allSent());
}

// ---- Failure hand-over ----

TEST(FailureHandOver, FailedAddressGoesToTheNextDeviceAndIsListed)
{
    BatchPlan plan = PlanFrom("192.168.1.2", "192.168.1.254", "192.168.1.1", "255.255.255.0");
    ScriptedSender sender;
    sender.failing = {2};
    DevList devices = Devices(3);
    BatchOutcome outcome = AssignAddresses(devices, plan, sender.fn());
    EXPECT_EQ(NewIps(outcome), (std::vector<std::string>{"192.168.1.2", "192.168.1.3", "192.168.1.3"}));
    EXPECT_TRUE(outcome.assignments[0].sent);
    EXPECT_FALSE(outcome.assignments[1].sent);
    EXPECT_TRUE(outcome.assignments[2].sent);
    const DevIpItem& second = std::next(devices.begin())->second;
    EXPECT_EQ(outcome.strResult, "ip=" + second.strIp + ";mac=" + second.strMAC + "\r\n");
    EXPECT_EQ(outcome.message, std::string("下列设备ip修改失败:\r\n") + outcome.strResult);
    EXPECT_FALSE(outcome.allSent());
}

TEST(FailureHandOver, FailuresAreListedOneLinePerDeviceInRowOrder)
{
    BatchPlan plan = PlanFrom("192.168.1.2", "192.168.1.254", "192.168.1.1", "255.255.255.0");
    ScriptedSender sender;
    sender.failing = {1, 3};
    DevList devices;
    devices[1] = {"10.0.0.1", "AA"};
    devices[4] = {"10.0.0.4", "BB"};
    devices[9] = {"10.0.0.9", "CC"};
    BatchOutcome outcome = AssignAddresses(devices, plan, sender.fn());
    EXPECT_EQ(outcome.message, "下列设备ip修改失败:\r\nip=10.0.0.1;mac=AA\r\nip=10.0.0.9;mac=CC\r\n");
    EXPECT_EQ(NewIps(outcome), (std::vector<std::string>{"192.168.1.2", "192.168.1.2", "192.168.1.3"}));
}

TEST(FailureHandOver, FailureAfterTheGatewaySkipHandsOnTheAddressAfterTheGateway)
{
    BatchPlan plan = PlanFrom("192.168.1.1", "192.168.1.254", "192.168.1.1", "255.255.255.0");
    ScriptedSender sender;
    sender.failing = {1};
    BatchOutcome outcome = AssignAddresses(Devices(2), plan, sender.fn());
    EXPECT_EQ(NewIps(outcome), (std::vector<std::string>{"192.168.1.2", "192.168.1.2"}));
}

// ---- Count check ----

TEST(CountCheck, TooFewAddressesRefuseTheBatchBeforeAnySend)
{
    BatchPlan plan = PlanFrom("192.168.1.2", "192.168.1.4", "192.168.1.1", "255.255.255.0");
    EXPECT_EQ(plan.ipCount, 3);
    ScriptedSender sender;
    BatchOutcome refused = AssignAddresses(Devices(4), plan, sender.fn());
    EXPECT_TRUE(refused.refused);
    EXPECT_EQ(refused.message, msg::kTooManyDevices);
    EXPECT_TRUE(sender.sent.empty());
    EXPECT_FALSE(refused.allSent());

    BatchPlan four = PlanFrom("192.168.1.2", "192.168.1.5", "192.168.1.1", "255.255.255.0");
    BatchOutcome accepted = AssignAddresses(Devices(4), four, sender.fn());
    EXPECT_FALSE(accepted.refused);
    EXPECT_EQ(sender.sent.size(), 4u);
}

TEST(CountCheck, ANegativeOrZeroCountHoldsNoDevice)
{
    EXPECT_FALSE(PlanHoldsDevices(-5, 1));
    EXPECT_FALSE(PlanHoldsDevices(0, 1));
    EXPECT_TRUE(PlanHoldsDevices(1, 1));
    EXPECT_TRUE(PlanHoldsDevices(0, 0));
}
