// lynx-cli's live progress line: drawn on standard error when it is a
// terminal, redrawn in place and cleared before the program's own lines and
// at the end; never written into a pipe or a file.
#include "NetlabFixture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {

using namespace lynx::test;

constexpr const char* kErase = "\r\033[K";

using LiveLine = NetlabTest;

TEST_F(LiveLine, ASearchAtATerminalShowsTheCamerasFoundAndTheSecondsLeftThenClearsTheLine)
{
    const ProcessResult r = RunCliOnTerminal({"search", "--seconds", "2", "--format", "csv"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const size_t cameras = NetlabCameras().size();
    // Drawn from the start, redrawn as the cameras answer and the time runs.
    EXPECT_NE(r.err.find(std::string(kErase) + "已找到相机：0 台，剩余 2 秒"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("已找到相机：" + std::to_string(cameras) + " 台，剩余 1 秒"), std::string::npos) << r.err;
    // Each redraw starts at the line's beginning, and the line is gone at the end.
    EXPECT_EQ(Count(r.err, "已找到相机"), Count(r.err, kErase) - 1) << r.err;
    EXPECT_GE(Count(r.err, "已找到相机"), 3u) << r.err;
    EXPECT_LE(Count(r.err, "已找到相机"), 12u) << "a few times a second at most: " << r.err;
    EXPECT_EQ(r.err.substr(r.err.size() - std::string(kErase).size()), kErase) << r.err;
    // Standard output, a pipe here, is the list alone.
    EXPECT_EQ(r.out.find('\033'), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("已找到相机"), std::string::npos) << r.out;
}

TEST_F(LiveLine, ClearedBeforeAMessageOnStandardError)
{
    // No camera has the MAC: the line counts the seconds, then gives way to the message.
    const ProcessResult r = RunCliOnTerminal({"set-ip", "--mac", "02:99:00:00:00:07", "--ip", "192.168.1.151", "--mask",
                                              "255.255.255.0", "--gateway", "192.168.1.1", "--confirm-wait", "2"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    const size_t message = r.err.find("lynx-cli set-ip: 02:99:00:00:00:07 在 2 秒内未在 192.168.1.151 应答");
    ASSERT_NE(message, std::string::npos) << r.err;
    EXPECT_NE(r.err.find("在新地址应答：0/1，剩余"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.rfind(kErase, message), message - std::string(kErase).size()) << r.err;
    EXPECT_EQ(r.err.find("在新地址应答", message), std::string::npos) << "not drawn again after it: " << r.err;
}

TEST_F(LiveLine, NeverWrittenToAPipeOrAFile)
{
    const ProcessResult piped = RunCli({"search", "--seconds", "1"});
    EXPECT_EQ(piped.exitCode, 0) << piped.err;
    EXPECT_EQ(piped.err, "");

    const std::string file = dir.File("err.txt");
    const ProcessResult filed =
        RunProcess({"/bin/sh", "-c", BinDir() + "/lynx-cli search --seconds 1 2>" + file}, 30s, {"LYNX_LANG=zh"});
    EXPECT_EQ(filed.exitCode, 0);
    std::ifstream in(file, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "");
}

} // namespace
