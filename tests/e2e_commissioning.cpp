// Commissioning a site with lynx-cli in a virtual LAN: an address plan checked
// against a search, applied and confirmed; upgrades verified by the version the
// cameras come back with, retried where they failed, and the as-built report.
#include "NetlabFixture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

using namespace lynx::test;

std::string Mac(int last)
{
    return "00:1A:2B:00:01:" + std::to_string(last - 100 + 10);
}

Json::Value Camera(int last, const char* option = nullptr, Json::Value value = true)
{
    return SimCamera(last, "CMS",
                     {{"mac", Mac(last)}, {"softwareVersion", "V1.0.3"}, {"newVersion", "V2.0.0"}, {"restartMs", 500}},
                     option, value);
}

class Commissioning : public NetlabTest {
protected:
    void SetUpInLan() override
    {
        firmware = dir.File("cam-2.0.zip");
        ASSERT_TRUE(MakeFirmwareZip(firmware, 100000));
    }
    ProcessResult cli(std::vector<std::string> args)
    {
        ProcessResult r = RunCli(args, 120s);
        EXPECT_FALSE(r.timedOut) << r.out << r.err;
        return r;
    }

    std::string firmware;
};

TEST_F(Commissioning, APlanWithFlagsIsShownAndRefusedWithEveryFlag)
{
    Json::Value list(Json::arrayValue);
    for (int last : {101, 102, 103, 104})
        list.append(Camera(last));
    startCameras(list);
    const std::string plan = dir.Write("plan.csv", "mac,ip,mask,gateway\n"
                                                   "# the site's plan\n" +
                                                       Mac(101) + ",192.168.1.150,255.255.255.0,192.168.1.1\n" +
                                                       "00:1A:2B:00:09:99,192.168.1.151,255.255.255.0,192.168.1.1\n" +
                                                       Mac(102) + ",192.168.1.103,255.255.255.0,192.168.1.1\n" +
                                                       Mac(104) + ",192.168.1.150,255.255.255.0,192.168.9.1\n" +
                                                       Mac(103) + ",192.168.1.103,255.0.255.0,192.168.1.1\n");
    for (const bool dryRun : {true, false}) {
        std::vector<std::string> args{"assign", "--plan", plan, "--seconds", "2"};
        if (dryRun)
            args.push_back("--dry-run");
        const ProcessResult r = cli(args);
        EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
        const std::string& shown = dryRun ? r.out : r.err;
        // In the language the command speaks (Chinese here), flags and all.
        for (const std::string& flag :
             {std::string("搜索中未找到此 MAC"), std::string("此地址也在第 6 行"), std::string("此地址也在第 3 行"),
              "地址已被 " + Mac(103) + " 占用", std::string("网关 192.168.9.1 不在 192.168.1.150/255.255.255.0 之内"),
              std::string("子网掩码错误！")})
            EXPECT_NE(shown.find(flag), std::string::npos) << flag << "\n" << shown;
        if (dryRun) {
            EXPECT_NE(r.out.find("第 3 行  " + Mac(101) + "  192.168.1.101 -> 192.168.1.150  掩码 255.255.255.0  网关 "
                                 "192.168.1.1\n"),
                      std::string::npos)
                << r.out;
            EXPECT_NE(r.out.find("00:1A:2B:00:09:99  （未找到） -> 192.168.1.151"), std::string::npos) << r.out;
            EXPECT_NE(r.out.find("共 5 行，5 行被标出\n"), std::string::npos) << r.out;
        } else {
            EXPECT_NE(r.err.find("lynx-cli assign: 方案中有 5 行被标出，未发送任何修改\n"), std::string::npos) << r.err;
        }
    }
    // Nothing was sent: every camera is where it was.
    const Json::Value found = CliSearchJson();
    for (const char* ip : {"192.168.1.101", "192.168.1.102", "192.168.1.103", "192.168.1.104"})
        EXPECT_EQ(RowsWithIp(found, ip), 1) << ip;
}

TEST_F(Commissioning, AWrittenPlanIsAppliedConfirmedAndReported)
{
    Json::Value list(Json::arrayValue);
    for (int last : {101, 102, 103})
        list.append(Camera(last));
    startCameras(list);
    const std::string plan = dir.File("plan.csv");
    ProcessResult r = cli({"plan", "--start", "192.168.1.160", "--end", "192.168.1.170", "--gateway", "192.168.1.1",
                           "--mask", "255.255.255.0", "--write-plan", plan, "--seconds", "2"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    std::ifstream in(plan);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find(Mac(102) + ",192.168.1.16"), std::string::npos) << text.str();

    const std::string report = dir.File("assign.csv");
    r = cli({"assign", "--plan", plan, "--seconds", "2", "--confirm-wait", "20", "--report", report});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    const Json::Value found = CliSearchJson();
    EXPECT_EQ(RowsWithIp(found, "192.168.1.160") + RowsWithIp(found, "192.168.1.161") + RowsWithIp(found, "192.168.1.162"), 3)
        << r.out;
    std::ifstream reportIn(report);
    std::stringstream rows;
    rows << reportIn.rdbuf();
    EXPECT_EQ(rows.str().rfind("mac,oldIp,newIp,oldVersion,newVersion,statuses,outcome\r\n", 0), 0u) << rows.str();
    for (int last : {101, 102, 103})
        EXPECT_NE(rows.str().find(Mac(last) + ",192.168.1." + std::to_string(last) + ",192.168.1.16"), std::string::npos)
            << rows.str();
    EXPECT_EQ(Count(rows.str(), ",confirmed\r\n"), 3u) << rows.str();
}

TEST_F(Commissioning, UpgradesAreVerifiedRetriedAndALiarIsNamed)
{
    Json::Value list(Json::arrayValue);
    list.append(Camera(101));
    list.append(Camera(102, "failInstalls", 1));     // fails once, then succeeds
    list.append(Camera(103, "newVersion", ""));      // says success, keeps V1.0.3
    list.append(Camera(104));
    startCameras(list);
    const std::string report = dir.File("upgrade.json");
    const ProcessResult r = cli({"upgrade", "--file", firmware, "--all", "--seconds", "2", "--wait", "30", "--parallel",
                                 "2", "--verify", "--reboot-wait", "8", "--expect-version", "V2.0.0", "--retry", "1",
                                 "--report", report});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("retry 1 of 1: 2 cameras"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(Mac(103) + "\tnot verified: reported success but still runs V1.0.3"), std::string::npos)
        << r.out;
    const Json::Value rows = ReadJsonFile(report);
    ASSERT_EQ(rows.size(), 4u) << r.out;
    std::map<std::string, std::string> outcome;
    for (const Json::Value& row : rows) {
        outcome[row["mac"].asString()] = row["outcome"].asString();
        EXPECT_EQ(row["oldVersion"].asString(), "V1.0.3");
        EXPECT_FALSE(row["statuses"].empty());
    }
    EXPECT_EQ(outcome[Mac(101)], "verified");
    EXPECT_EQ(outcome[Mac(102)], "verified");
    EXPECT_EQ(outcome[Mac(104)], "verified");
    EXPECT_EQ(outcome[Mac(103)], "reported success but still runs V1.0.3");
    for (const Json::Value& row : rows) {
        if (row["mac"].asString() == Mac(102)) {
            std::string statuses;
            for (const Json::Value& s : row["statuses"])
                statuses += s["status"].asString() + "|";
            EXPECT_NE(statuses.find("升级失败"), std::string::npos) << statuses;
            EXPECT_NE(statuses.find("verified: V2.0.0"), std::string::npos) << statuses;
        }
    }
}

} // namespace
