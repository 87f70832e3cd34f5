// End to end in the virtual LAN (run by netlab in the PC's namespace, with
// simulated cameras beside it): cameras readdressed by lynx-cli and by the
// window's two address commands answer the next search at their new
// addresses. The cameras keep their new addresses from one test to the next,
// so every test finds them by MAC with a search first.
#include "NetlabAddressSupport.h"

TEST(NetlabCli, AssignReaddressesCamerasAndTheNextSearchListsThemThere)
{
    const Listing before = CliSearch();
    ASSERT_EQ(before.size(), 3u);
    const std::vector<std::string> macs = Macs(before);

    QStringList args{"assign", "--start", "192.168.1.200", "--end", "192.168.1.210", "--gateway", "192.168.1.201",
                     "--mask", "255.255.255.0"};
    for (const std::string& mac : macs)
        args << "--mac" << QString::fromStdString(mac);
    ProcessResult assign = RunCli(args);
    ASSERT_EQ(assign.status, 0) << assign.err;
    EXPECT_EQ(assign.out, macs[0] + " 192.168.1.200\n" + macs[1] + " 192.168.1.202\n" + macs[2] + " 192.168.1.203\n" +
                              msg::kAllSucceeded + "\n");

    WaitForRestart();
    const Listing after = CliSearch();
    ASSERT_EQ(after.size(), 3u);
    const char* expected[] = {"192.168.1.200", "192.168.1.202", "192.168.1.203"};
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(after.count(macs[i]), 1u) << macs[i];
        EXPECT_EQ(after.at(macs[i]).ip, expected[i]);
        EXPECT_EQ(after.at(macs[i]).gateway, "192.168.1.201");
        EXPECT_EQ(after.at(macs[i]).mask, "255.255.255.0");
    }
}

TEST(NetlabCli, SetIpMovesOneCameraAndLeavesTheOthers)
{
    const Listing before = CliSearch();
    ASSERT_EQ(before.size(), 3u);
    const std::string mac = Macs(before).front();
    // Class A: only the first octets of mask and gateway are checked.
    ProcessResult set = RunCli({"set-ip", "--mac", QString::fromStdString(mac), "--ip", "10.1.2.77", "--mask",
                                "255.255.255.0", "--gateway", "10.9.9.1"});
    ASSERT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(set.out, std::string(msg::kChangeSucceeded) + "\n");

    // An invalid entry sends nothing and says why.
    ProcessResult invalid = RunCli({"set-ip", "--mac", QString::fromStdString(mac), "--ip", "192.168.1.78", "--mask",
                                    "255.255.0.0", "--gateway", "192.168.1.1"});
    EXPECT_EQ(invalid.status, 2);
    EXPECT_EQ(invalid.err, std::string(msg::kMaskError) + "\n");

    WaitForRestart();
    const Listing after = CliSearch();
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

