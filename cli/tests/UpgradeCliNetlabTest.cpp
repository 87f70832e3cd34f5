// `lynx-cli upgrade` in a virtual LAN: simulated cameras fetch the firmware
// from the tool's own server over HTTP, check the archive and report back.
#include "NetlabFixture.h"

#include <gtest/gtest.h>

namespace {

using namespace lynx::test;

Json::Value Camera(int last, const char* option = nullptr, Json::Value value = true)
{
    return SimCamera(last, "FW", {{"installMs", 300}}, option, value);
}

class CliUpgrade : public NetlabTest {
protected:
    static void SetUpTestSuite()
    {
        if (!InNetlab())
            return;
        s_dir = std::make_unique<TempDir>();
        ASSERT_TRUE(MakeFirmwareZip(s_dir->File("cam-3.0.zip"), 300000));
        ASSERT_TRUE(WriteCorruptCopy(s_dir->File("cam-3.0.zip"), s_dir->File("cam-bad.zip")));

        Json::Value cameras(Json::arrayValue);
        cameras.append(Camera(101, "newVersion", "V3.0.0"));
        cameras.append(Camera(102, "newVersion", "V3.0.0"));
        cameras.append(Camera(103, "refuseUpgrade"));
        cameras.append(Camera(104));
        cameras.append(Camera(105, "reportStatus", 7));
        // Every search also brings broken bodies (a thousand '[' among them)
        // to the tool's ports 19027 and 8025, from a camera nobody upgrades.
        cameras.append(Camera(106, "malformed"));
        s_cameras = std::make_unique<CamsimProcess>();
        std::string error;
        ASSERT_TRUE(s_cameras->StartCameras(cameras, {}, &error)) << error;
    }
    static void TearDownTestSuite()
    {
        s_cameras.reset();
        s_dir.reset();
    }
    static ProcessResult Upgrade(const std::string& file, const std::vector<std::string>& devices)
    {
        std::vector<std::string> args{"upgrade", "--file", s_dir->File(file), "--seconds", "2", "--wait", "120"};
        args.insert(args.end(), devices.begin(), devices.end());
        return RunCli(args, 100s);
    }

    static std::unique_ptr<TempDir> s_dir;
    static std::unique_ptr<CamsimProcess> s_cameras;
};

std::unique_ptr<TempDir> CliUpgrade::s_dir;
std::unique_ptr<CamsimProcess> CliUpgrade::s_cameras;

TEST_F(CliUpgrade, AtATerminalALiveLineCountsTheJobsDoneAndFailed)
{
    std::vector<std::string> args{"upgrade", "--file", s_dir->File("cam-3.0.zip"), "--seconds", "2", "--wait", "120",
                                  "--ip", "192.168.1.101", "192.168.1.103"};
    const ProcessResult run = RunCliOnTerminal(args, 100s);
    ASSERT_FALSE(run.timedOut) << run.out << run.err;
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;  // 103 refuses
    EXPECT_NE(run.err.find("\r\033[K已找到相机："), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("\r\033[K已完成升级：0/2，失败 0"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("\r\033[K已完成升级：2/2，失败 1"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.substr(run.err.size() - 4), "\r\033[K") << "cleared at the end: " << run.err;
    // Standard output, a pipe, has the statuses as ever and nothing of the line.
    EXPECT_NE(run.out.find("192.168.1.101\t升级成功"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find('\033'), std::string::npos) << run.out;
}

TEST_F(CliUpgrade, CamerasDownloadTheFileFromTheToolAndReportSuccess)
{
    const ProcessResult run = Upgrade("cam-3.0.zip", {"--ip", "192.168.1.101", "192.168.1.102"});
    ASSERT_FALSE(run.timedOut) << run.out << run.err;
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    for (const char* ip : {"192.168.1.101", "192.168.1.102"}) {
        EXPECT_NE(run.out.find(std::string(ip) + "\t等待中"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find(std::string(ip) + "\t已发送升级命令,等待升级"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find(std::string(ip) + "\t升级中"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find(std::string(ip) + "\t升级成功"), std::string::npos) << run.out;
    }
    EXPECT_NE(run.out.find("总共:2    完成:2    成功:2    失败：0"), std::string::npos) << run.out;
    EXPECT_EQ(Count(run.out, "升级完成"), 1u) << run.out;

    // The cameras now run what they downloaded.
    const ProcessResult search = RunCli({"search", "--seconds", "2", "--format", "json"});
    const Json::Value found = ParseJson(search.out);
    int upgraded = 0;
    for (const Json::Value& device : found)
        if (device["softwareVersion"].asString() == "V3.0.0")
            ++upgraded;
    EXPECT_EQ(upgraded, 2) << search.out;
}

TEST_F(CliUpgrade, CorruptArchiveIsReportedAsDownloadOrCheckFailure)
{
    const ProcessResult run = Upgrade("cam-bad.zip", {"--ip", "192.168.1.104"});
    ASSERT_FALSE(run.timedOut) << run.out << run.err;
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
    EXPECT_NE(run.out.find("192.168.1.104\t下载或校验失败"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("总共:1    完成:1    成功:0    失败：1"), std::string::npos) << run.out;
}

TEST_F(CliUpgrade, RefusalAndUnknownStatusAreFailuresAndNothingIsWaitedOutForThem)
{
    // --wait is 120 s; the run ends as soon as both cameras have answered.
    const ProcessResult run = Upgrade("cam-3.0.zip", {"--ip", "192.168.1.103", "--ip", "192.168.1.105"});
    ASSERT_FALSE(run.timedOut) << run.out << run.err;
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
    EXPECT_NE(run.out.find("192.168.1.103\t设备未就绪，请稍后再试"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("192.168.1.105\t(状态已清空)"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("总共:2    完成:2    成功:0    失败：2"), std::string::npos) << run.out;
    // The refused job never reports, so the batch is never complete.
    EXPECT_EQ(Count(run.out, "升级完成"), 0u) << run.out;
}

TEST_F(CliUpgrade, AddressThatNoCameraAnswersFromFails)
{
    const ProcessResult run = Upgrade("cam-3.0.zip", {"--ip", "192.168.1.199"});
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
    EXPECT_NE(run.err.find("192.168.1.199"), std::string::npos) << run.err;
}

} // namespace
