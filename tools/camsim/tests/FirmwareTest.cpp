// The camera's check of a downloaded firmware archive.
#include "Firmware.h"
#include "NetlabFixture.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <fstream>
#include <iterator>

namespace {

using lynx::test::TempDir;
using lynx::test::WriteFile;

std::string Bytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(FirmwareCheck, AnArchiveWhoseEntriesAllReadBackIsAccepted)
{
    TempDir dir;
    ASSERT_TRUE(lynx::test::MakeStoredZip(dir.File("fw.zip"), {{"a.bin", std::string(100000, 'a')}, {"b.txt", "version 2"}}));
    std::string reason;
    EXPECT_TRUE(camsim::VerifyArchive(dir.File("fw.zip"), &reason)) << reason;
}

TEST(FirmwareCheck, ADamagedEntryFailsItsCrc)
{
    TempDir dir;
    std::string content(5000, 'x');
    ASSERT_TRUE(lynx::test::MakeStoredZip(dir.File("fw.zip"), {{"a.bin", content}}));
    std::string bytes = Bytes(dir.File("fw.zip"));
    size_t at = bytes.find(content.substr(0, 100));
    ASSERT_NE(at, std::string::npos);
    bytes[at + 2500] = 'y';  // inside the stored data, so only the CRC can tell
    ASSERT_TRUE(WriteFile(dir.File("bad.zip"), bytes));
    std::string reason;
    EXPECT_FALSE(camsim::VerifyArchive(dir.File("bad.zip"), &reason));
    EXPECT_FALSE(reason.empty());
}

TEST(FirmwareCheck, NotAZipTruncatedOrEmptyIsRefused)
{
    TempDir dir;
    std::string reason;
    ASSERT_TRUE(WriteFile(dir.File("text.zip"), "this is no archive"));
    EXPECT_FALSE(camsim::VerifyArchive(dir.File("text.zip"), &reason));
    ASSERT_TRUE(lynx::test::MakeStoredZip(dir.File("fw.zip"), {{"a.bin", std::string(5000, 'z')}}));
    std::string bytes = Bytes(dir.File("fw.zip"));
    ASSERT_TRUE(WriteFile(dir.File("cut.zip"), bytes.substr(0, bytes.size() / 2)));
    EXPECT_FALSE(camsim::VerifyArchive(dir.File("cut.zip"), &reason));
    ASSERT_TRUE(WriteFile(dir.File("empty.zip"), ""));
    EXPECT_FALSE(camsim::VerifyArchive(dir.File("empty.zip"), &reason));
    EXPECT_FALSE(camsim::VerifyArchive(dir.File("absent.zip"), &reason));
}

TEST(FirmwareDownload, OnlyHttpIsFetched)
{
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir.File("local.zip"), "x"));
    std::atomic<bool> abort{false};
    std::string reason;
    EXPECT_FALSE(camsim::DownloadFile("file://" + dir.File("local.zip"), dir.File("out"), "", 5, abort, &reason));
    EXPECT_FALSE(camsim::DownloadFile("", dir.File("out"), "", 5, abort, &reason));
}

} // namespace
