// `lynx-cli check` in a virtual LAN: a site with a camera in each state is
// checked, mended with lynx-cli's own commands (assign to the planned
// addresses, upgrade to the planned version) and passes the same check; a
// site file with faults is refused with every fault and sends nothing.
#include "NetlabFixture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <string>

namespace {

using namespace lynx::test;

const char* const kOk = "00:1A:2B:00:05:01";
const char* const kAddress = "00:1A:2B:00:05:02";
const char* const kVersion = "00:1A:2B:00:05:03";
const char* const kMissing = "00:1A:2B:00:05:04";
const char* const kConflictPlanned = "00:1A:2B:00:05:05";  // at its planned address, shared
const char* const kConflictMoved = "00:1A:2B:00:05:06";    // on the other's address
const char* const kUnexpected = "00:1A:2B:00:05:09";

Json::Value Camera(int last, const char* mac, const char* version)
{
    return SimCamera(last, "CHK",
                     {{"mac", mac},
                      {"mask", "255.255.255.0"},
                      {"gateway", "192.168.1.1"},
                      {"softwareVersion", version},
                      {"productDate", "2018-11-07"},
                      {"newVersion", "V2.0.0"},
                      {"restartMs", 500}});
}

// The site's plan: its own version for two cameras (one as the list shows
// it, with its build date), the version for all (--expect-version) for the rest.
const char* const kSite = "mac,ip,mask,gateway,softwareVersion,label\n"
                          "00:1A:2B:00:05:01,192.168.1.101,255.255.255.0,192.168.1.1,V2.0.0 build[2018-11-07],A-01\n"
                          "00:1A:2B:00:05:02,192.168.1.112,255.255.255.0,192.168.1.1,,A-02\n"
                          "00:1A:2B:00:05:03,192.168.1.103,255.255.255.0,192.168.1.1,V2.0.0,A-03\n"
                          "00:1A:2B:00:05:04,192.168.1.104,255.255.255.0,192.168.1.1,,A-04\n"
                          "00:1A:2B:00:05:05,192.168.1.105,255.255.255.0,192.168.1.1,,A-05\n"
                          "00:1A:2B:00:05:06,192.168.1.106,255.255.255.0,192.168.1.1,,A-06\n";

class CliCheck : public NetlabTest {
protected:
    ProcessResult check(const std::vector<std::string>& more = {})
    {
        std::vector<std::string> args{"check", "--site", site, "--seconds", "2", "--expect-version", "V2.0.0"};
        args.insert(args.end(), more.begin(), more.end());
        ProcessResult r = RunCli(args, 60s);
        EXPECT_FALSE(r.timedOut) << r.out << r.err;
        return r;
    }
    // The state of each camera in the JSON output, by MAC.
    static std::map<std::string, Json::Value> ByMac(const std::string& json)
    {
        std::map<std::string, Json::Value> rows;
        for (const Json::Value& row : ParseJson(json))
            rows[row["mac"].asString()] = row;
        return rows;
    }

    std::string site = dir.Write("site.csv", kSite);
};

TEST_F(CliCheck, ACameraInEachStateIsNamedThenTheSiteIsMendedWithLynxAndPasses)
{
    Json::Value list(Json::arrayValue);
    list.append(Camera(101, kOk, "V2.0.0"));
    list.append(Camera(102, kAddress, "V2.0.0"));
    list.append(Camera(103, kVersion, "V1.0.3"));
    list.append(Camera(105, kConflictPlanned, "V2.0.0"));
    list.append(Camera(105, kConflictMoved, "V2.0.0"));
    list.append(Camera(109, kUnexpected, "V2.0.0"));
    startCameras(list);

    const std::string report = dir.File("check.json");
    ProcessResult r = check({"--format", "json", "--report", report});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_EQ(r.err, "应有 6 台，正常 1，地址不符 1，版本不符 1，未找到 1，多余 1，地址冲突 2\n");
    auto rows = ByMac(r.out);
    ASSERT_EQ(rows.size(), 7u) << r.out;
    const std::map<std::string, std::string> states{{kOk, "ok"},           {kAddress, "address"},
                                                    {kVersion, "version"}, {kMissing, "missing"},
                                                    {kUnexpected, "unexpected"}, {kConflictPlanned, "conflict"},
                                                    {kConflictMoved, "conflict"}};
    for (const auto& [mac, state] : states)
        EXPECT_EQ(rows[mac]["state"].asString(), state) << mac << "\n" << r.out;
    EXPECT_EQ(rows[kAddress]["plannedIp"].asString(), "192.168.1.112");
    EXPECT_EQ(rows[kAddress]["ip"].asString(), "192.168.1.102");
    EXPECT_EQ(rows[kAddress]["label"].asString(), "A-02");
    EXPECT_EQ(rows[kVersion]["plannedVersion"].asString(), "V2.0.0");
    EXPECT_EQ(rows[kVersion]["softwareVersion"].asString(), "V1.0.3");
    EXPECT_EQ(rows[kMissing]["ip"].asString(), "");
    EXPECT_EQ(rows[kConflictMoved]["plannedIp"].asString(), "192.168.1.106");
    EXPECT_EQ(rows[kConflictMoved]["conflictWith"][0].asString(), kConflictPlanned);
    EXPECT_EQ(rows[kUnexpected]["ip"].asString(), "192.168.1.109");
    // The report holds the same rows.
    const Json::Value saved = ReadJsonFile(report);
    ASSERT_EQ(saved.size(), 7u);
    EXPECT_EQ(saved[0]["mac"].asString(), kOk);
    EXPECT_EQ(saved[0]["state"].asString(), "ok");

    // The missing camera is put up and the stray one taken away.
    cameras.Stop();
    list.removeIndex(5, nullptr);
    list.append(Camera(104, kMissing, "V2.0.0"));
    startCameras(list);
    // Lynx mends the rest: the site file is the address plan, the firmware
    // the planned version.
    r = RunCli({"assign", "--plan", site, "--seconds", "2", "--confirm-wait", "30"}, 90s);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    const std::string firmware = dir.File("cam-2.0.zip");
    ASSERT_TRUE(MakeFirmwareZip(firmware, 100000));
    r = RunCli({"upgrade", "--file", firmware, "--ip", "192.168.1.103", "--seconds", "2", "--wait", "60", "--verify",
                "--reboot-wait", "30", "--expect-version", "V2.0.0"},
               120s);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

    const std::string csv = dir.File("check.csv");
    r = check({"--report", csv});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "应有 6 台，正常 6，地址不符 0，版本不符 0，未找到 0，多余 0，地址冲突 0\n");
    EXPECT_EQ(r.out.rfind("状态", 0), 0u) << "a table under its headers:\n" << r.out;
    EXPECT_EQ(Count(r.out, "正常"), 6u) << r.out;
    std::ifstream in(csv, std::ios::binary);
    const std::string csvText((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(csvText.rfind("\xEF\xBB\xBFline,mac,state,", 0), 0u) << csvText;
    EXPECT_EQ(Count(csvText, ",ok,"), 6u) << csvText;
}

TEST_F(CliCheck, ASiteFileWithFaultsIsRefusedWithEveryFaultAndNothingIsSent)
{
    Json::Value list(Json::arrayValue);
    list.append(Camera(101, kOk, "V2.0.0"));
    startCameras(list);
    const std::string bad = dir.Write("bad.csv", "mac,ip,mask,gateway\n"
                                                 "00:1A:2B:00:05:01,192.168.1.101,255.255.255.0,192.168.1.1\n"
                                                 "00:1A:2B:00:05:0Z,192.168.1.102,255.255.255.0,192.168.1.1\n"
                                                 "00:1A:2B:00:05:03,192.168.1.101,255.255.255.0,192.168.1.300\n");
    const ProcessResult r = RunCli({"check", "--site", bad, "--seconds", "2"}, 30s);
    EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
    EXPECT_EQ(r.out, "");
    for (const std::string fault : {"第 3 行，mac 列：MAC地址“00:1A:2B:00:05:0Z”无效",
                                    "第 4 行，ip 列：IP地址与第 2 行重复",
                                    "第 4 行，gateway 列：“192.168.1.300”不是点分十进制的IPv4地址"})
        EXPECT_NE(r.err.find(bad + ": " + fault + "\n"), std::string::npos) << fault << "\n" << r.err;
    EXPECT_EQ(Count(r.err, "\n"), 3u) << r.err;
    // Nothing was sent: after one search more, the camera has heard exactly one.
    ASSERT_EQ(CliSearchJson().size(), 1u);
    ASSERT_TRUE(WaitUntil([&] { return Count(cameras.Log(), "search from ") >= 1; }, 5s));
    EXPECT_EQ(Count(cameras.Log(), "search from "), 1u) << cameras.Log();
}

} // namespace
