// What `lynx-cli upgrade` accepts, and the local-address probe it shares with
// the window.
#include "NetlabFixture.h"
#include "cli/UpgradeCommand.h"
#include "upgrade/LocalAddress.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

using lynx::cli::ParseUpgradeOptions;
using lynx::cli::UpgradeOptions;

namespace {

class UpgradeOptionsTest : public ::testing::Test {
protected:
    UpgradeOptionsTest() : m_file(m_dir.File("FW.zip")) { lynx::test::MakeFirmwareZip(m_file, 1000); }
    std::optional<UpgradeOptions> Parse(std::vector<std::string> args)
    {
        m_error.clear();
        return ParseUpgradeOptions(args, &m_error);
    }
    lynx::test::TempDir m_dir;
    std::string m_file;
    std::string m_error;
};

TEST_F(UpgradeOptionsTest, DefaultsAndChoices)
{
    auto all = Parse({"--file", m_file, "--all"});
    ASSERT_TRUE(all) << m_error;
    EXPECT_EQ(all->file, m_file);
    EXPECT_TRUE(all->all);
    EXPECT_EQ(all->seconds, 12);
    EXPECT_EQ(all->waitSeconds, 600);

    auto ips = Parse({"--ip", "10.0.0.1", "10.0.0.2", "--file=" + m_file, "--ip=10.0.0.3", "--ip", "10.0.0.1",
                      "--seconds", "0", "--wait", "5"});
    ASSERT_TRUE(ips) << m_error;
    EXPECT_EQ(ips->ips, (std::vector<std::string>{"10.0.0.1", "10.0.0.2", "10.0.0.3"}));
    EXPECT_EQ(ips->seconds, 1);  // brought into the search range
    EXPECT_EQ(ips->waitSeconds, 5);
}

TEST_F(UpgradeOptionsTest, CamerasAreChosenByAddressMacAndSiteFileTogether)
{
    auto chosen = Parse({"--file", m_file, "--mac", "00-1a-2b-3c-4d-5e", "001A2B3C4D5F", "--ip", "10.0.0.1",
                         "--mac=00:1a:2b:3c:4d:5e", "--site", "site.csv"});
    ASSERT_TRUE(chosen) << m_error;
    EXPECT_EQ(chosen->macs, (std::vector<std::string>{"00-1a-2b-3c-4d-5e", "001A2B3C4D5F", "00:1a:2b:3c:4d:5e"}));
    EXPECT_EQ(chosen->ips, std::vector<std::string>{"10.0.0.1"});
    EXPECT_EQ(chosen->site, "site.csv");
    EXPECT_FALSE(chosen->json);
    EXPECT_EQ(chosen->stallSeconds, 60);

    auto byMac = Parse({"--file", m_file, "--mac", "00:1A:2B:3C:4D:5E", "--format", "json", "--stall-seconds", "5"});
    ASSERT_TRUE(byMac) << m_error;
    EXPECT_TRUE(byMac->json);
    EXPECT_EQ(byMac->stallSeconds, 5);
    ASSERT_TRUE(Parse({"--file", m_file, "--site", "site.csv", "--format=text"})) << m_error;
}

TEST_F(UpgradeOptionsTest, ASiteFileWithAFaultIsRefusedWholeBeforeAnySearch)
{
    std::ostringstream out, err;
    const std::string site = m_dir.Write("site.csv", "mac,ip\n00:1A:2B:3C:4D:5E,10.0.0.1\nnot a mac,10.0.0.2\n");
    EXPECT_EQ(lynx::cli::RunUpgrade({"--file", m_file, "--site", site, "--seconds", "1"}, out, err), lynx::cli::kExitUsage);
    EXPECT_NE(err.str().find("lynx-cli upgrade: " + site), std::string::npos) << err.str();
    EXPECT_EQ(out.str(), "");
}

TEST_F(UpgradeOptionsTest, InputThatIsNotUnderstoodIsRefusedWithAReason)
{
    const std::vector<std::vector<std::string>> bad = {
        {"--all"},                                        // no file
        {"--file", m_dir.File("missing.zip"), "--all"},      // no such file
        {"--file", m_dir.path(), "--all"},                // a folder
        {"--file", m_dir.Write("notes.zip", "not a zip at all"), "--all"},  // text under a zip's name
        {"--file", m_dir.Write("cut.zip", "PK\x03\x04\x14"), "--all"},     // a zip cut short
        {"--file", m_file},                               // no devices
        {"--file", m_file, "--all", "--ip", "10.0.0.1"},  // both
        {"--file", m_file, "--ip", "10.0.0.300"},
        {"--file", m_file, "--ip", "cam1"},
        {"--file", m_file, "--ip"},
        {"--file", m_file, "--all", "--wait", "-1"},
        {"--file", m_file, "--all", "--seconds", "ten"},
        {"--file", m_file, "--all", "--verbose"},
        {"--file", m_file, "--all=yes"},
        {"--file", m_file, "--all", "--mac", "00:1A:2B:3C:4D:5E"},  // all and a choice
        {"--file", m_file, "--all", "--site", "site.csv"},
        {"--file", m_file, "--mac", "00:1A:2B:3C:4D"},              // eleven digits... ten
        {"--file", m_file, "--mac", "00:1A:2B:3C:4D:5G"},
        {"--file", m_file, "--mac"},
        {"--file", m_file, "--all", "--format", "csv"},
        {"--file", m_file, "--all", "--format", "json", "--format", "text"},
        {"--file", m_file, "--all", "--stall-seconds", "0"},
        {"--file", m_file, "--all", "--stall-seconds", "soon"},
    };
    for (const auto& args : bad) {
        EXPECT_FALSE(Parse(args)) << ::testing::PrintToString(args);
        EXPECT_FALSE(m_error.empty()) << ::testing::PrintToString(args);
    }
}

TEST_F(UpgradeOptionsTest, RunGivesStatusTwoForInvalidInputAndZeroForHelp)
{
    std::ostringstream out, err;
    const std::string notZip = m_dir.Write("notzip.zip", "hello");
    EXPECT_EQ(lynx::cli::RunUpgrade({"--file", notZip, "--all"}, out, err), lynx::cli::kExitUsage);
    EXPECT_NE(err.str().find("zip"), std::string::npos) << err.str();
    EXPECT_NE(err.str().find(notZip), std::string::npos) << err.str();
    EXPECT_EQ(lynx::cli::RunUpgrade({"--file", m_file}, out, err), lynx::cli::kExitUsage);
    EXPECT_NE(err.str().find("--all or --ip"), std::string::npos);
    EXPECT_EQ(lynx::cli::RunUpgrade({"--help"}, out, err), lynx::cli::kExitOk);
    EXPECT_NE(out.str().find("usage: lynx-cli upgrade"), std::string::npos);
}

TEST(LocalAddress, IsTheLocalEndOfAConnectionTowardsTheDevice)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    socklen_t length = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    EXPECT_EQ(lynx::upgrade::LocalAddressTowards("127.0.0.1", ntohs(address.sin_port)), "127.0.0.1");
    ::close(listener);
}

TEST(LocalAddress, IsEmptyForTextThatIsNoAddress)
{
    EXPECT_EQ(lynx::upgrade::LocalAddressTowards("", 8021), "");
    EXPECT_EQ(lynx::upgrade::LocalAddressTowards("camera-7", 8021), "");
    EXPECT_EQ(lynx::upgrade::LocalAddressTowards("127.0.0.1", 0), "");
}

} // namespace

TEST(LocalAddress, IsLearntOncePerNetworkCardOfABatch)
{
    // Three cameras behind loopback share one card; an address without a
    // route is probed on its own; a new batch learns afresh.
    std::vector<std::string> probed;
    const auto probe = [&probed](const std::string& ip) {
        probed.push_back(ip);
        return std::string("127.0.0.1");
    };
    lynx::upgrade::LocalAddressFinder batch(probe);
    for (const char* camera : {"127.0.0.21", "127.0.0.22", "127.0.0.23"})
        EXPECT_EQ(batch.Towards(camera), "127.0.0.1") << camera;
    EXPECT_EQ(probed, std::vector<std::string>{"127.0.0.21"});
    EXPECT_EQ(lynx::upgrade::RouteSourceTowards("127.0.0.22"), "127.0.0.1");
    EXPECT_EQ(lynx::upgrade::RouteSourceTowards("camera-7"), "");

    lynx::upgrade::LocalAddressFinder next(probe);
    next.Towards("127.0.0.22");
    EXPECT_EQ(probed.size(), 2u);
}
