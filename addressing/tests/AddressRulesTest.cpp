#include "addressing/AddressRules.h"
#include "addressing/Messages.h"

#include <gtest/gtest.h>

using namespace lynx::addressing;

namespace {

std::optional<std::string> Single(const char* ip, const char* mask, const char* gateway)
{
    return ValidateSingleChange(ParseIpFields(ip), ParseIpFields(mask), ParseIpFields(gateway));
}

struct PlanResult {
    std::optional<std::string> message;
    PlanValues values;
};

PlanResult Plan(const char* start, const char* end, const char* gateway, const char* mask)
{
    PlanResult r;
    PlanEntries entries{ParseIpFields(gateway), ParseIpFields(start), ParseIpFields(end), ParseIpFields(mask)};
    r.message = ValidatePlan(entries, r.values);
    return r;
}

Octets O(const char* text)
{
    return ParseIpFields(text).octets;
}

} // namespace

// ---- Classes ----

TEST(AddressClasses, SingleChangeCountsLoopbackAsClassC)
{
    EXPECT_EQ(SingleChangeClass(0), AddressClass::C);
    EXPECT_EQ(SingleChangeClass(1), AddressClass::A);
    EXPECT_EQ(SingleChangeClass(126), AddressClass::A);
    EXPECT_EQ(SingleChangeClass(127), AddressClass::C);
    EXPECT_EQ(SingleChangeClass(128), AddressClass::B);
    EXPECT_EQ(SingleChangeClass(191), AddressClass::B);
    EXPECT_EQ(SingleChangeClass(192), AddressClass::C);
    EXPECT_EQ(SingleChangeClass(255), AddressClass::C);
}

TEST(AddressClasses, PlanCountsLoopbackAsClassA)
{
    EXPECT_EQ(PlanClass(0), AddressClass::C);
    EXPECT_EQ(PlanClass(1), AddressClass::A);
    EXPECT_EQ(PlanClass(127), AddressClass::A);
    EXPECT_EQ(PlanClass(128), AddressClass::B);
    EXPECT_EQ(PlanClass(191), AddressClass::B);
    EXPECT_EQ(PlanClass(192), AddressClass::C);
    EXPECT_EQ(PlanClass(255), AddressClass::C);
}

// ---- Single change ----

TEST(SingleChange, BlankFieldsAreReportedInTheOrderIpMaskGateway)
{
    EXPECT_EQ(Single("192.168.1.", "", ""), msg::kIpError);
    EXPECT_EQ(Single("192.168.1.9", "255.255.255.", ""), msg::kMaskError);
    EXPECT_EQ(Single("192.168.1.9", "255.255.255.0", "192.168..1"), msg::kGatewayError);
    EXPECT_EQ(Single("", "", "192.168.1.1"), msg::kIpError);
}

TEST(SingleChange, MaskMustHave255InTheClassOctetsOnly)
{
    EXPECT_EQ(Single("172.16.5.5", "255.0.255.0", "172.16.0.1"), msg::kMaskError);
    EXPECT_EQ(Single("192.168.1.9", "255.255.0.0", "192.168.1.1"), msg::kMaskError);
    EXPECT_EQ(Single("10.1.2.3", "254.0.0.0", "10.0.0.1"), msg::kMaskError);
    // Not contiguous, but only the first octet counts for class A.
    EXPECT_EQ(Single("10.1.2.3", "255.0.255.0", "10.0.0.1"), std::nullopt);
    // The mask is checked before the gateway is even read.
    EXPECT_EQ(Single("172.16.5.5", "255.0.0.0", ""), msg::kMaskError);
}

TEST(SingleChange, GatewayMustShareTheClassOctetsWithTheIp)
{
    EXPECT_EQ(Single("192.168.1.9", "255.255.255.0", "192.168.2.1"), msg::kGatewayError);
    EXPECT_EQ(Single("172.16.5.5", "255.255.0.0", "172.17.5.1"), msg::kGatewayError);
    EXPECT_EQ(Single("172.16.5.5", "255.255.0.0", "172.16.200.1"), std::nullopt);
    // Class A compares only the first octet of gateway and mask.
    EXPECT_EQ(Single("10.1.2.3", "255.255.255.0", "10.200.0.1"), std::nullopt);
    EXPECT_EQ(Single("10.1.2.3", "255.0.0.0", "11.1.2.1"), msg::kGatewayError);
}

TEST(SingleChange, LoopbackIsHandledAsClassC)
{
    EXPECT_EQ(Single("127.0.0.5", "255.255.0.0", "127.0.0.1"), msg::kMaskError);
    EXPECT_EQ(Single("127.0.0.5", "255.255.255.0", "127.0.1.1"), msg::kGatewayError);
    EXPECT_EQ(Single("127.0.0.5", "255.255.255.0", "127.0.0.1"), std::nullopt);
}

TEST(SingleChange, NothingElseIsTested)
{
    EXPECT_EQ(Single("192.168.1.0", "255.255.255.0", "192.168.1.0"), std::nullopt);
    EXPECT_EQ(Single("192.168.1.255", "255.255.255.255", "192.168.1.255"), std::nullopt);
    EXPECT_EQ(Single("0.0.0.0", "255.255.255.0", "0.0.0.7"), std::nullopt);
}

// ---- Plan: the order of the checks ----

TEST(PlanChecks, StartAbove254IsReportedBeforeAnyOtherField)
{
    EXPECT_EQ(Plan("192.168.1.255", "", "", "").message, msg::kStartAbove254);
    EXPECT_EQ(Plan("192.168.1.254", "", "", "").message, msg::kMaskError);
    // A blank last field reads as 0 in the control's text, so it passes this check.
    EXPECT_EQ(Plan("192.168.1.", "192.168.1.9", "192.168.1.1", "255.255.255.0").message, msg::kStartError);
}

TEST(PlanChecks, BlankFieldsAreReportedMaskStartEndGateway)
{
    EXPECT_EQ(Plan("", "", "", "").message, msg::kMaskError);
    EXPECT_EQ(Plan("", "", "", "255.255.255.0").message, msg::kStartError);
    EXPECT_EQ(Plan("192.168.1.2", "", "", "255.255.255.0").message, msg::kEndError);
    EXPECT_EQ(Plan("192.168.1.2", "192.168.1.9", "192.168.1.", "255.255.255.0").message, msg::kPlanGatewayError);
}

TEST(PlanChecks, MaskMustFitTheStartsClass)
{
    EXPECT_EQ(Plan("192.168.1.2", "192.168.1.9", "192.168.1.1", "255.255.0.0").message, msg::kPlanMaskClassError);
    EXPECT_EQ(Plan("172.16.1.2", "172.16.1.9", "172.16.1.1", "255.0.0.0").message, msg::kPlanMaskClassError);
    EXPECT_EQ(Plan("127.0.0.2", "127.0.0.9", "127.0.0.1", "255.0.0.0").message, std::nullopt);
    EXPECT_EQ(Plan("10.0.0.2", "10.0.0.9", "10.0.0.1", "255.0.255.0").message, std::nullopt);
}

TEST(PlanChecks, EndBelowStartIsRefusedEqualPasses)
{
    EXPECT_EQ(Plan("192.168.1.20", "192.168.1.10", "192.168.1.1", "255.255.255.0").message, msg::kEndBelowStart);
    // The comparison is unsigned: a first octet above 127 is not negative.
    EXPECT_EQ(Plan("200.0.0.2", "100.0.0.2", "200.0.0.1", "255.255.255.0").message, msg::kEndBelowStart);
    EXPECT_EQ(Plan("192.168.1.20", "192.168.1.20", "192.168.1.1", "255.255.255.0").message, std::nullopt);
}

TEST(PlanChecks, SubnetsOfStartAndEndMustMatchTheGateways)
{
    EXPECT_EQ(Plan("192.168.1.2", "192.168.1.100", "192.168.2.1", "255.255.255.0").message, msg::kStartSubnetError);
    EXPECT_EQ(Plan("100.0.0.2", "200.0.0.2", "100.0.0.1", "255.0.0.0").message, msg::kEndSubnetError);
    EXPECT_EQ(Plan("10.0.1.2", "10.1.0.2", "10.0.0.1", "255.255.0.0").message, msg::kEndSubnetError);
    // The gateway may lie inside the range, and the end's last octet is not limited.
    EXPECT_EQ(Plan("192.168.1.2", "192.168.1.255", "192.168.1.50", "255.255.255.0").message, std::nullopt);
}

TEST(PlanChecks, MembersHoldTheEntriesAsTheControlsGiveThem)
{
    PlanResult r = Plan("10.0.1.2", "10.0.3.254", "010.0.0.1", "255.255.0.0");
    ASSERT_EQ(r.message, std::nullopt);
    EXPECT_EQ(r.values.gateWay, "10.0.0.1");
    EXPECT_EQ(r.values.netMask, "255.255.0.0");
    EXPECT_EQ(r.values.startIp, (Octets{10, 0, 1, 2}));
    EXPECT_EQ(r.values.endIp, (Octets{10, 0, 3, 254}));
    EXPECT_EQ(r.values.gateWayIp, (Octets{10, 0, 0, 1}));
}

// ---- Plan: host counts ----

TEST(HostCounts, DefaultPlansOfEachClassOffer253)
{
    EXPECT_EQ(Plan("192.168.1.2", "192.168.1.254", "192.168.1.1", "255.255.255.0").values.ipCount, 253);
    EXPECT_EQ(Plan("10.0.0.2", "10.0.0.254", "10.0.0.1", "255.0.0.0").values.ipCount, 253);
    EXPECT_EQ(Plan("172.16.3.2", "172.16.3.254", "172.16.3.1", "255.255.0.0").values.ipCount, 253);
    // Class B start equal to the gateway.
    EXPECT_EQ(Plan("172.16.1.1", "172.16.1.254", "172.16.1.1", "255.255.0.0").values.ipCount, 253);
}

TEST(HostCounts, GatewayBelowTheStartAddsOneAddress)
{
    EXPECT_EQ(Plan("192.168.1.10", "192.168.1.20", "192.168.1.50", "255.255.255.0").values.ipCount, 10);
    EXPECT_EQ(Plan("192.168.1.10", "192.168.1.20", "192.168.1.5", "255.255.255.0").values.ipCount, 11);
    EXPECT_EQ(Plan("192.168.1.10", "192.168.1.20", "192.168.1.10", "255.255.255.0").values.ipCount, 10);
    EXPECT_EQ(Plan("192.168.1.10", "192.168.1.10", "192.168.1.5", "255.255.255.0").values.ipCount, 1);
    EXPECT_EQ(Plan("192.168.1.10", "192.168.1.10", "192.168.1.10", "255.255.255.0").values.ipCount, 0);
}

TEST(HostCounts, HigherOctetsCountByTheClass)
{
    PlanResult a = Plan("10.0.1.2", "10.0.3.254", "10.0.0.1", "255.255.0.0");
    EXPECT_EQ(a.message, std::nullopt);
    EXPECT_EQ(a.values.ipCount, 761);  // 253 + 254 + 254
    EXPECT_EQ(Plan("172.16.1.253", "172.16.2.10", "172.16.2.1", "255.255.0.0").values.ipCount, 11);
    EXPECT_EQ(PositionDifference(AddressClass::A, O("10.2.0.1"), O("10.1.0.1")), 64770);
    EXPECT_EQ(PositionDifference(AddressClass::B, O("172.17.5.9"), O("172.16.5.9")), 0);
    EXPECT_EQ(PositionDifference(AddressClass::C, O("192.168.9.9"), O("192.168.1.5")), 4);
    EXPECT_EQ(PositionDifference(AddressClass::A, O("10.0.0.1"), O("10.254.254.254")), -(254 * 64770 + 254 * 254 + 253));
}

TEST(HostCounts, CountIsComputedEvenWhenTheSubnetTestFails)
{
    PlanResult r = Plan("192.168.1.2", "192.168.1.100", "192.168.2.1", "255.255.255.0");
    EXPECT_EQ(r.message, msg::kStartSubnetError);
    EXPECT_EQ(r.values.ipCount, 99);
}

// ---- Subnet parsing ----

TEST(SubnetParse, InetAddrReadsDottedTextFirstOctetMostSignificant)
{
    EXPECT_EQ(InetAddr("192.168.1.2"), 0xC0A80102u);
    EXPECT_EQ(InetAddr("255.255.255.255"), 0xFFFFFFFFu);
    EXPECT_EQ(InetAddr("not an address"), 0xFFFFFFFFu);
    EXPECT_EQ(LastOctetOfText("192.168.1.255"), 255);
    EXPECT_EQ(LastOctetOfText("192.168.1.2549"), 254);
    EXPECT_EQ(LastOctetOfText("192.168.1."), 0);
}

// ---- Proposal ----

TEST(Proposal, FieldsFollowThePrefixAndTheMaskItsClass)
{
    EXPECT_EQ(NetworkPrefix("192.168.1.100"), "192.168.1.");
    EXPECT_EQ(NetworkEntry("192.168.1.100"), "192.168.1.0");

    PlanProposal c = ProposePlan(NetworkPrefix("192.168.1.100"));
    EXPECT_EQ(c.gateway, "192.168.1.1");
    EXPECT_EQ(c.start, "192.168.1.2");
    EXPECT_EQ(c.end, "192.168.1.254");
    EXPECT_EQ(c.mask, "255.255.255.0");

    EXPECT_EQ(ProposePlan("10.0.0.").mask, "255.0.0.0");
    EXPECT_EQ(ProposePlan("127.0.1.").mask, "255.0.0.0");
    EXPECT_EQ(ProposePlan("172.16.3.").mask, "255.255.0.0");
    EXPECT_EQ(ProposePlan("191.1.1.").mask, "255.255.0.0");
    EXPECT_EQ(ProposePlan("0.1.1.").mask, "255.255.255.0");
}

TEST(Proposal, AcceptedAtOnceForEveryClass)
{
    for (const char* address : {"192.168.1.100", "10.0.0.5", "172.16.3.4", "127.0.1.1"}) {
        PlanProposal p = ProposePlan(NetworkPrefix(address));
        PlanResult r = Plan(p.start.c_str(), p.end.c_str(), p.gateway.c_str(), p.mask.c_str());
        EXPECT_EQ(r.message, std::nullopt) << address;
        EXPECT_EQ(r.values.ipCount, 253) << address;
    }
}
