// lynx-cli's output reaches its file or its reader, or the failure is said:
// nothing printed to a full disk, and no report half-written, ends in success.
#include "NetlabFixture.h"
#include "site/SiteReport.h"
#include "platform/WholeFile.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sched.h>

namespace {

using lynx::platform::WriteFileWhole;

TEST(Output, StandardOutputToAFullDiskIsAFailure)
{
    // Every help and the version: each one a reader may send to a file.
    for (const char* words : {"--version", "--help", "-h", "help", "search --help", "set-ip --help", "plan --help",
                              "assign --help", "assign --plan x.csv --help", "upgrade --help", "check --help",
                              "watch -h", "watch --help"}) {
        const lynx::test::ProcessResult r = lynx::test::RunProcess(
            {"/bin/sh", "-c", std::string(LYNX_CLI_PROGRAM) + " " + words + " > /dev/full"}, std::chrono::seconds(30));
        EXPECT_EQ(r.exitCode, 1) << words;
        EXPECT_NE(r.err.find("cannot write to standard output"), std::string::npos) << words << ": " << r.err;
    }
}

// A small file system of the test's own, mounted where only this process
// sees it: 64 KiB that fill up.
class SmallDisk : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0 || ::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", dir.path().c_str(), "tmpfs", 0, "size=64k") != 0)
            GTEST_SKIP() << "mounting a small tmpfs needs root";
        mounted = true;
    }
    void TearDown() override
    {
        if (mounted)
            ::umount2(dir.path().c_str(), MNT_DETACH);
    }
    std::string Read(const std::string& path) const
    {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    size_t Entries() const
    {
        return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir.path()), {}));
    }
    lynx::test::TempDir dir;
    bool mounted = false;
};

TEST_F(SmallDisk, AnExistingReportSurvivesWholeWhenTheDiskIsFull)
{
    const std::string report = dir.File("addresses.csv");
    const std::string before(3000, 'r');
    ASSERT_TRUE(lynx::test::WriteFile(report, before));
    ASSERT_EQ(::chmod(report.c_str(), 0640), 0);
    std::string error;
    EXPECT_FALSE(WriteFileWhole(report, std::string(100000, 'n'), &error));
    EXPECT_NE(error.find(report), std::string::npos) << error;
    EXPECT_NE(error.find("No space"), std::string::npos) << error;
    EXPECT_EQ(Read(report), before) << "the report that was there is kept whole";
    EXPECT_EQ(Entries(), 1u) << "nothing half-written is left beside it";

    // With room, it is replaced whole and keeps its permissions.
    EXPECT_TRUE(WriteFileWhole(report, std::string(20000, 'n'), &error)) << error;
    EXPECT_EQ(Read(report), std::string(20000, 'n'));
    struct stat status {};
    ASSERT_EQ(::stat(report.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    EXPECT_EQ(Entries(), 1u);
}

TEST_F(SmallDisk, ARunsReportThatDoesNotFitLeavesTheLastOneAsItWas)
{
    // lynx-cli's --report, as assign and upgrade write it.
    const std::string path = dir.File("upgrade.json");
    lynx::site::SiteReport small;
    small.Camera("00:1A:2B:00:00:01").newIp = "192.168.1.20";
    std::string error;
    ASSERT_TRUE(small.Write(path, &error)) << error;
    const std::string before = Read(path);
    lynx::site::SiteReport large;
    for (int i = 0; i < 2000; ++i)
        large.AddStatus("00:1A:2B:00:" + std::to_string(i / 256) + ":" + std::to_string(i % 256), "升级成功");
    EXPECT_FALSE(large.Write(path, &error));
    EXPECT_EQ(Read(path), before);
    EXPECT_EQ(Entries(), 1u);
}

TEST(Output, AFileThatIsNoRegularFileIsWrittenInPlace)
{
    std::string error;
    EXPECT_TRUE(WriteFileWhole("/dev/null", "report", &error)) << error;
    EXPECT_FALSE(WriteFileWhole("/dev/full", "report", &error));
    EXPECT_NE(error.find("/dev/full"), std::string::npos) << error;
    EXPECT_FALSE(WriteFileWhole("/nonexistent-folder/report.csv", "report", &error));
}

} // namespace
