// A camera fresh from the factory on a subnet no card of the PC is in: it
// hears the search broadcast and answers by broadcast, since it has no route
// to the PC, so lynx-cli lists it; nothing sent to its address can reach it
// until it is readdressed into the PC's subnet, which goes by broadcast too.
#include "NetlabFixture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {

using namespace lynx::test;

constexpr const char* kForeignIp = "192.168.0.64";
constexpr const char* kForeignMac = "00:1A:2B:00:07:64";
constexpr const char* kReachableIp = "192.168.1.101";
// The PC's one card on the cameras' segment, with both its addresses.
constexpr const char* kReason = "不在本机网段：网卡 eth0 为 192.168.1.100/24、10.1.2.100/24";

const Json::Value* RowWithIp(const Json::Value& rows, const std::string& ip)
{
    for (const Json::Value& row : rows)
        if (row["deviceIp"].asString() == ip)
            return &row;
    return nullptr;
}

class ForeignSubnet : public NetlabTest {
protected:
    void SetUpInLan() override
    {
        ASSERT_TRUE(MakeFirmwareZip(dir.File("cam-3.0.zip"), 200000));
        Json::Value reachable(Json::arrayValue);
        reachable.append(SimCamera(101, "NEAR", {{"newVersion", "V3.0.0"}}));
        startCameras(reachable);

        ASSERT_TRUE(AddUnroutedCameraSegmentHost(kForeignIp));
        const std::string ns = HostNamespace(kForeignIp);
        ASSERT_FALSE(ns.empty());
        // The premise: from its namespace, the PC's addresses are out of reach.
        const ProcessResult route = RunProcess({"/usr/bin/env", "ip", "-n", ns, "route", "get", PcAddress()});
        ASSERT_NE(route.exitCode, 0) << route.out;

        Json::Value foreign(Json::arrayValue);
        Json::Value camera = SimCamera(64, "FAR", {{"mac", kForeignMac}, {"newVersion", "V3.0.0"}});
        camera["ip"] = kForeignIp;
        foreign.append(camera);
        ASSERT_TRUE(WriteFile(dir.File("foreign.json"), foreign.toStyledString()));
        std::string error;
        ASSERT_TRUE(m_foreign.StartIn(ns, {"--config", dir.File("foreign.json"), "--add-addresses", "--interface",
                                           "eth0", "--answer-broadcast"},
                                      &error))
            << error;
    }

    CamsimProcess m_foreign;
};

TEST_F(ForeignSubnet, SearchMarksItUnreachableInJsonAndCsvUntilItIsReaddressedIntoThePcsSubnet)
{
    const Json::Value rows = CliSearchJson();
    const Json::Value* foreign = RowWithIp(rows, kForeignIp);
    const Json::Value* near = RowWithIp(rows, kReachableIp);
    ASSERT_TRUE(foreign && near) << rows.toStyledString();
    EXPECT_TRUE((*foreign)["reachable"].isBool());
    EXPECT_FALSE((*foreign)["reachable"].asBool());
    EXPECT_EQ((*foreign)["interface"].asString(), "eth0");
    EXPECT_TRUE((*near)["reachable"].asBool());

    const ProcessResult csv = RunCli({"search", "--seconds", "2", "--format", "csv"});
    ASSERT_EQ(csv.exitCode, 0) << csv.err;
    EXPECT_NE(csv.out.find(",interface,localAddress,reachable\r\n"), std::string::npos) << csv.out;
    const size_t line = csv.out.find(std::string(",") + kForeignIp + ",");
    ASSERT_NE(line, std::string::npos) << csv.out;
    EXPECT_EQ(csv.out.substr(csv.out.find("\r\n", line) - 6, 6), ",false") << csv.out;

    // Its address changes by broadcast; then the PC reaches it.
    const ProcessResult moved = RunCli({"set-ip", "--mac", kForeignMac, "--ip", "192.168.1.150", "--mask",
                                        "255.255.255.0", "--gateway", "192.168.1.1"});
    ASSERT_EQ(moved.exitCode, 0) << moved.out << moved.err;
    const Json::Value after = CliSearchJson();
    const Json::Value* readdressed = RowWithIp(after, "192.168.1.150");
    ASSERT_TRUE(readdressed) << after.toStyledString();
    EXPECT_TRUE((*readdressed)["reachable"].asBool());
}

TEST_F(ForeignSubnet, UpgradeEndsItsJobAtOnceWithTheReasonSendingItNothingAndUpgradesTheRest)
{
    const auto started = std::chrono::steady_clock::now();
    const ProcessResult r = RunCli({"upgrade", "--file", dir.File("cam-3.0.zip"), "--seconds", "2", "--wait", "40",
                                    "--ip", kForeignIp, "--ip", kReachableIp},
                                   100s);
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_NE(r.out.find(std::string(kForeignIp) + "\t请先修改IP\n"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find(std::string(kForeignIp) + ": " + kReason + "\n"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find(std::string(kReachableIp) + "\t升级成功\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("未报告升级结果"), std::string::npos) << r.out;
    EXPECT_LT(took, 40s) << "the batch waited for a report that could not come";
    EXPECT_EQ(m_foreign.Log().find("update request"), std::string::npos) << m_foreign.Log();
    EXPECT_NE(cameras.Log().find("update request"), std::string::npos) << cameras.Log();
}

TEST_F(ForeignSubnet, PlanWithoutARangeProposesAddressesInTheNetworkOfTheCardItAnsweredOn)
{
    const std::string plan = dir.File("plan.csv");
    const ProcessResult r = RunCli({"plan", "--write-plan", plan, "--seconds", "2"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("建议 192.168.1.2 - 192.168.1.254，网关 192.168.1.1，掩码 255.255.255.0"),
              std::string::npos)
        << r.out;
    std::ifstream file(plan);
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const size_t row = text.find(kForeignMac);
    ASSERT_NE(row, std::string::npos) << text;
    const std::string line = text.substr(row, text.find('\n', row) - row);
    EXPECT_NE(line.find(",192.168.1."), std::string::npos) << line;
    EXPECT_NE(line.find(",255.255.255.0,192.168.1.1"), std::string::npos) << line;
    EXPECT_EQ(text.find("192.168.0."), std::string::npos) << "nothing in the camera's own subnet\n" << text;
}

TEST_F(ForeignSubnet, CheckNamesTheReasonInItsDetails)
{
    const std::string site = dir.Write("site.csv", std::string("mac\n") + kForeignMac + "\n");
    const ProcessResult r = RunCli({"check", "--site", site, "--seconds", "2", "--allow-unexpected"});
    EXPECT_NE(r.out.find(kReason), std::string::npos) << r.out << r.err;
}

} // namespace
