// lynx-cli's address commands end to end in the virtual LAN (run by netlab in
// the PC's namespace, with simulated cameras beside it): cameras readdressed
// by set-ip and assign answer a later search at their new addresses. The
// cameras keep their new addresses from one test to the next, so every test
// finds them by MAC with a search first.
#include "NetlabFixture.h"

#include "addressing/Messages.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using namespace lynx::test;
namespace msg = lynx::addressing::msg;

// A camera's row as a search lists it.
struct Listed {
    std::string ip, mac, gateway, mask;
};
using Listing = std::map<std::string, Listed>;  // by MAC

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    for (size_t start = 0;;) {
        const size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos)
            return parts;
        start = at + 1;
    }
}

// `lynx-cli search` as CSV: number, IP, MAC, gateway, mask, ...
Listing CliSearch()
{
    const ProcessResult r = RunCli({"search", "--seconds", "2", "--format", "csv"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    Listing listing;
    const std::vector<std::string> lines = Split(r.out, '\n');
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::vector<std::string> cells = Split(lines[i], ',');
        if (cells.size() >= 5)
            listing[cells[2]] = Listed{cells[1], cells[2], cells[3], cells[4]};
    }
    return listing;
}

// Searches again until the camera with mac answers from ip: a readdressed
// camera is silent while it restarts.
Listing CliSearchUntilAt(const std::string& mac, const std::string& ip)
{
    Listing listing;
    for (int attempt = 0; attempt < 5; ++attempt) {
        listing = CliSearch();
        if (listing.count(mac) && listing.at(mac).ip == ip)
            break;
    }
    return listing;
}

std::vector<std::string> Macs(const Listing& listing)
{
    std::vector<std::string> macs;
    for (const auto& [mac, row] : listing)
        macs.push_back(mac);
    return macs;
}

using NetlabCli = NetlabTest;

} // namespace

TEST_F(NetlabCli, AssignReaddressesCamerasAndTheNextSearchListsThemThere)
{
    const Listing before = CliSearch();
    ASSERT_EQ(before.size(), 3u);
    const std::vector<std::string> macs = Macs(before);

    std::vector<std::string> args{"assign", "--start", "192.168.1.200", "--end", "192.168.1.210", "--gateway",
                                  "192.168.1.201", "--mask", "255.255.255.0"};
    for (const std::string& mac : macs) {
        args.push_back("--mac");
        args.push_back(mac);
    }
    const ProcessResult assign = RunCli(args);
    ASSERT_EQ(assign.exitCode, 0) << assign.err;
    EXPECT_EQ(assign.out, macs[0] + " 192.168.1.200\n" + macs[1] + " 192.168.1.202\n" + macs[2] + " 192.168.1.203\n" +
                              msg::kAllSucceeded + "\n");

    const char* expected[] = {"192.168.1.200", "192.168.1.202", "192.168.1.203"};
    const Listing after = CliSearchUntilAt(macs[2], expected[2]);
    ASSERT_EQ(after.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(after.count(macs[i]), 1u) << macs[i];
        EXPECT_EQ(after.at(macs[i]).ip, expected[i]);
        EXPECT_EQ(after.at(macs[i]).gateway, "192.168.1.201");
        EXPECT_EQ(after.at(macs[i]).mask, "255.255.255.0");
    }
}

TEST_F(NetlabCli, SetIpForAMacNoCameraHasFailsAndSaysSo)
{
    // Sent without error, but no camera answers at the address: no success.
    const ProcessResult set = RunCli({"set-ip", "--mac", "02:99:00:00:00:01", "--ip", "192.168.1.150", "--mask",
                                      "255.255.255.0", "--gateway", "192.168.1.1", "--confirm-wait", "3"});
    EXPECT_EQ(set.exitCode, 1) << set.out << set.err;
    EXPECT_EQ(set.out.find(msg::kChangeSucceeded), std::string::npos) << set.out;
    // In the language the command speaks (Chinese here).
    EXPECT_NE(set.err.find("02:99:00:00:00:01 在 3 秒内未在 192.168.1.150 应答"), std::string::npos) << set.err;

    // Fire-and-forget when asked.
    const ProcessResult sent = RunCli({"set-ip", "--mac", "02:99:00:00:00:01", "--ip", "192.168.1.150", "--mask",
                                       "255.255.255.0", "--gateway", "192.168.1.1", "--no-confirm"});
    EXPECT_EQ(sent.exitCode, 0) << sent.err;
    EXPECT_EQ(sent.out, std::string(msg::kChangeSucceeded) + "\n");
}

TEST_F(NetlabCli, SetIpMovesOneCameraAndLeavesTheOthers)
{
    const Listing before = CliSearch();
    ASSERT_EQ(before.size(), 3u);
    const std::string mac = Macs(before).front();
    // Class A: only the first octets of mask and gateway are checked.
    const ProcessResult set = RunCli({"set-ip", "--mac", mac, "--ip", "10.1.2.77", "--mask",
                                "255.255.255.0", "--gateway", "10.9.9.1"});
    ASSERT_EQ(set.exitCode, 0) << set.err;
    EXPECT_EQ(set.out, std::string(msg::kChangeSucceeded) + "\n");

    // An invalid entry sends nothing and says why.
    const ProcessResult invalid = RunCli({"set-ip", "--mac", mac, "--ip", "192.168.1.78", "--mask",
                                    "255.255.0.0", "--gateway", "192.168.1.1"});
    EXPECT_EQ(invalid.exitCode, 2);
    EXPECT_EQ(invalid.err, std::string(msg::kMaskError) + "\n");

    const Listing after = CliSearchUntilAt(mac, "10.1.2.77");
    ASSERT_EQ(after.size(), 3u);
    EXPECT_EQ(after.at(mac).ip, "10.1.2.77");
    EXPECT_EQ(after.at(mac).mask, "255.255.255.0");
    EXPECT_EQ(after.at(mac).gateway, "10.9.9.1");
    for (const auto& [otherMac, row] : before) {
        if (otherMac != mac) {
            EXPECT_EQ(after.at(otherMac).ip, row.ip);
        }
    }
}

