// Each camera's download as `lynx-cli upgrade` follows it, in a virtual LAN of
// simulated cameras that read the firmware slowly: the JSON lines of each
// camera up to 100 %, the live line's downloads, the report's bytes and times,
// and a camera that stops reading.
#include "NetlabFixture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

namespace {

using namespace lynx::test;

constexpr int kFirmwareBytes = 1000000;

std::string MacOf(int last)
{
    return "02:50:00:00:00:" + std::to_string(last);
}

class CliProgress : public NetlabTest {
protected:
    static void SetUpTestSuite()
    {
        if (!InNetlab())
            return;
        s_dir = std::make_unique<TempDir>();
        ASSERT_TRUE(MakeFirmwareZip(s_dir->File("cam-4.0.zip"), kFirmwareBytes));
        Json::Value cameras(Json::arrayValue);
        for (int last : {11, 12, 13})
            cameras.append(SimCamera(last, "SLOW", {{"mac", MacOf(last)}}));
        // One that hangs after its first 100 kB, until its download time-out.
        cameras.append(SimCamera(14, "HUNG", {{"mac", MacOf(14)}}, "stallAfterBytes", 100000));
        s_cameras = std::make_unique<CamsimProcess>();
        std::string error;
        // About four seconds for each download.
        ASSERT_TRUE(s_cameras->StartCameras(cameras, {"--download-rate", "262144", "--download-timeout", "20"}, &error))
            << error;
    }
    static void TearDownTestSuite()
    {
        s_cameras.reset();
        s_dir.reset();
    }

    // Each JSON line of standard output, by the camera's MAC; every line must be one.
    static std::map<std::string, std::vector<Json::Value>> LinesByMac(const std::string& out)
    {
        std::map<std::string, std::vector<Json::Value>> lines;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);) {
            const Json::Value object = ParseJson(line);
            EXPECT_TRUE(object.isObject()) << "not a JSON line: " << line;
            if (!object.isObject())
                continue;
            for (const char* key : {"mac", "ip", "state", "percent"})
                EXPECT_TRUE(object.isMember(key)) << key << " missing: " << line;
            lines[object["mac"].asString()].push_back(object);
        }
        return lines;
    }

    static std::unique_ptr<TempDir> s_dir;
    static std::unique_ptr<CamsimProcess> s_cameras;
};

std::unique_ptr<TempDir> CliProgress::s_dir;
std::unique_ptr<CamsimProcess> CliProgress::s_cameras;

TEST_F(CliProgress, EachCamerasJsonLinesRiseInStepsOfTenTo100AndTheReportHasItsBytesAndTime)
{
    const std::string site = dir.Write("site.csv", "mac,ip\n" + MacOf(13) + ",192.168.1.13\n");
    const std::string report = dir.File("upgrade.json");
    // Chosen three ways: by MAC, by address and by site file.
    const ProcessResult run = RunCliOnTerminal({"upgrade", "--file", s_dir->File("cam-4.0.zip"), "--seconds", "2",
                                                "--wait", "60", "--parallel", "3", "--format", "json", "--mac",
                                                MacOf(11), "--ip", "192.168.1.12", "--site", site, "--report", report},
                                               100s);
    ASSERT_FALSE(run.timedOut) << run.out << run.err;
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;

    const auto lines = LinesByMac(run.out);
    EXPECT_EQ(lines.size(), 3u) << run.out;
    for (int last : {11, 12, 13}) {
        const auto camera = lines.find(MacOf(last));
        ASSERT_NE(camera, lines.end()) << MacOf(last) << "\n" << run.out;
        std::vector<int> steps;
        int before = 0;
        for (const Json::Value& line : camera->second) {
            EXPECT_EQ(line["ip"].asString(), "192.168.1." + std::to_string(last));
            const int percent = line["percent"].asInt();
            EXPECT_GE(percent, before) << "a download never goes back: " << run.out;
            before = percent;
            if (steps.empty() || steps.back() != percent / 10)
                steps.push_back(percent / 10);
        }
        // Ten steps of four seconds' download, each seen at the engine's tick.
        EXPECT_GE(steps.size(), 8u) << run.out;
        EXPECT_EQ(steps.back(), 10) << run.out;
        EXPECT_EQ(camera->second.back()["state"].asString(), "succeeded") << run.out;
        EXPECT_EQ(camera->second.back()["percent"].asInt(), 100) << run.out;
        EXPECT_GE(camera->second.back()["bytes"].asUInt64(), static_cast<uint64_t>(kFirmwareBytes));
    }
    // The terminal's live line counts the downloads in flight, in Chinese.
    EXPECT_NE(run.err.find("；正在下载：3 台，平均 "), std::string::npos) << run.err;

    std::ifstream in(report);
    std::stringstream text;
    text << in.rdbuf();
    const Json::Value rows = ParseJson(text.str());
    ASSERT_EQ(rows.size(), 3u) << text.str();
    for (const Json::Value& row : rows) {
        EXPECT_GE(row["bytesServed"].asUInt64(), static_cast<uint64_t>(kFirmwareBytes)) << row.toStyledString();
        // Read at a quarter of a megabyte a second.
        EXPECT_GT(row["downloadSeconds"].asDouble(), 1.0) << row.toStyledString();
    }
}

TEST_F(CliProgress, ACameraThatStopsReadingIsCutOffAndFailedOnce)
{
    const std::string report = dir.File("upgrade.csv");
    const ProcessResult run = RunCli({"upgrade", "--file", s_dir->File("cam-4.0.zip"), "--seconds", "2", "--wait", "60",
                                      "--stall-seconds", "2", "--format", "json", "--mac", MacOf(14), "--report", report},
                                     100s);
    ASSERT_FALSE(run.timedOut) << run.out << run.err;
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
    const auto lines = LinesByMac(run.out);
    ASSERT_EQ(lines.count(MacOf(14)), 1u) << run.out;
    int stalled = 0;
    for (const Json::Value& line : lines.at(MacOf(14))) {
        EXPECT_NE(line["state"].asString(), "succeeded") << run.out;
        if (line["state"].asString() == "stalled") {
            ++stalled;
            EXPECT_EQ(line["status"].asString(), "下载停滞") << run.out;
            EXPECT_LT(line["percent"].asInt(), 100) << run.out;
        }
    }
    EXPECT_EQ(stalled, 1) << run.out;

    std::ifstream in(report);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str().rfind("mac,oldIp,newIp,oldVersion,newVersion,statuses,outcome,bytesServed,downloadSeconds\r\n", 0),
              0u)
        << text.str();
    // Served a part of the file, never the whole of it: no download time.
    EXPECT_NE(text.str().find(",下载停滞,"), std::string::npos) << text.str();
    EXPECT_EQ(text.str().substr(text.str().size() - 3), ",\r\n") << text.str();
}

} // namespace
