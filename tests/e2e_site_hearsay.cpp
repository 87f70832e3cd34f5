// A site checked against its plan while another host on the cameras' segment
// (192.168.1.66) answers for cameras: for one that is not on the LAN at all,
// with its MAC and planned address, and at a real camera's address under a
// made-up MAC. lynx-cli's check and the window's site view believe only each
// camera's own word and name the other host. And a crowd of made-up MACs at
// one address, each its sender's own word, gives a check whose output grows
// with the crowd, not with its square.
#include "app/tests/WindowTestSupport.h"

#include "app/shell/DialogBuilder.h"
#include "app/shell/PopupMenu.h"
#include "app/shell/resource.h"

#include <gtest/gtest.h>

namespace {

using namespace lynx::test;

constexpr const char* kForger = "192.168.1.66";
constexpr const char* kCrowd = "192.168.1.77";
constexpr const char* kCrowdBridge = "192.168.1.78";
constexpr const char* kAbsentMac = "00:1A:2B:00:09:09";
constexpr const char* kAbsentIp = "192.168.1.109";
constexpr const char* kMadeUpMac = "FE:00:00:00:00:42";
constexpr uint16_t kReportPort = 19027;

Json::Value Camera(const std::string& ip, const std::string& mac, const std::string& id)
{
    Json::Value camera(Json::objectValue);
    camera["ip"] = ip;
    camera["mac"] = mac;
    camera["deviceId"] = id;
    camera["softwareVersion"] = "V1.0.0";
    return camera;
}

// A report the forger sends in a camera's name, as lynx-cli's search lists it.
Json::Value Claimed(const std::string& ip, const std::string& mac)
{
    Json::Value device(Json::objectValue);
    device["deviceIp"] = ip;
    device["mac"] = mac;
    device["netMask"] = "255.255.255.0";
    device["gatewayIp"] = "192.168.1.1";
    device["deviceId"] = "FORGED";
    device["name"] = "cam";
    device["model"] = "CAM";
    return device;
}

struct Flood : BackgroundRun {
    Flood(const char* from, long count, std::chrono::seconds over, std::vector<std::string> kind)
        : BackgroundRun(
              [=] { return RunFlood(from, kReportPort, count, std::to_string(over.count()), kind, over + 60s); })
    {
    }
};

class SiteHearsay : public WindowInLan {
protected:
    SiteHearsay() : WindowInLan({.create = false}) {}
    static void SetUpTestSuite()
    {
        if (InNetlab()) {
            ASSERT_TRUE(AddCameraSegmentHost(kForger));
            ASSERT_TRUE(AddCameraSegmentHost(kCrowd));
            // The crowd stands for cameras fresh from the factory behind a
            // bridge, all at one address: the PC knows the bridge's card for
            // the bridge's own address too, so the card speaks for no one.
            ASSERT_TRUE(AddPcNeighbour(kCrowdBridge, HostHardwareAddress(kCrowd)));
        }
    }
    void SetUpInLan() override
    {
        WindowInLan::SetUpInLan();
        Json::Value list(Json::arrayValue);
        list.append(Camera("192.168.1.101", "00:1A:2B:00:09:01", "H1"));
        list.append(Camera("192.168.1.102", "00:1A:2B:00:09:02", "H2"));
        startCameras(list);
        site = dir.Write("site.csv", "mac,ip,label\n"
                                     "00:1A:2B:00:09:01,192.168.1.101,H-1\n"
                                     "00:1A:2B:00:09:02,192.168.1.102,H-2\n"
                                     "00:1A:2B:00:09:09,192.168.1.109,H-9\n");
        Json::Value claims(Json::arrayValue);
        claims.append(Claimed(kAbsentIp, kAbsentMac));
        claims.append(Claimed("192.168.1.101", kMadeUpMac));
        forged = dir.Write("claims.json", claims.toStyledString());
    }
    // The forger answers for its cameras all through a search of `seconds`.
    Flood forger(std::chrono::seconds over) { return Flood(kForger, 40 * over.count(), over, forgery()); }
    std::vector<std::string> forgery() const { return {"--kind", "claims", "--devices", forged}; }

    std::string site, forged;
};

Json::Value RowOfMac(const Json::Value& rows, const std::string& mac)
{
    for (const Json::Value& row : rows)
        if (row["mac"].asString() == mac)
            return row;
    return Json::Value();
}

} // namespace

TEST_F(SiteHearsay, CheckNamesTheHostAnsweringForAnAbsentCameraAndNeverCountsItOk)
{
    ProcessResult json, table;
    {
        Flood claims(kForger, 160, 4s, forgery());
        json = RunCli({"check", "--site", site, "--seconds", "3", "--format", "json"}, 60s);
        ASSERT_EQ(claims.Finish().exitCode, 0);
    }
    EXPECT_EQ(json.exitCode, 1) << json.out << json.err;
    EXPECT_NE(json.err.find("应有 3 台，正常 2，地址不符 0，版本不符 0，未找到 1，多余 1，地址冲突 0"), std::string::npos)
        << json.err;
    const Json::Value rows = ParseJson(json.out);
    const Json::Value absent = RowOfMac(rows, kAbsentMac);
    EXPECT_EQ(absent["state"].asString(), "missing") << json.out;
    EXPECT_EQ(absent["ip"].asString(), "") << json.out;
    ASSERT_EQ(absent["hearsayFrom"].size(), 1u) << json.out;
    EXPECT_EQ(absent["hearsayFrom"][0].asString(), kForger);
    EXPECT_EQ(absent["hearsaySenders"].asUInt(), 1u);
    // The made-up MAC at the first camera's address is another host's word:
    // no conflict for the camera, and listed as what it is.
    const Json::Value first = RowOfMac(rows, "00:1A:2B:00:09:01");
    EXPECT_EQ(first["state"].asString(), "ok") << json.out;
    EXPECT_EQ(first["conflicts"].asUInt(), 0u) << json.out;
    const Json::Value madeUp = RowOfMac(rows, kMadeUpMac);
    EXPECT_EQ(madeUp["state"].asString(), "unexpected") << json.out;
    EXPECT_EQ(madeUp["hearsayFrom"][0].asString(), kForger) << json.out;

    {
        Flood claims(kForger, 160, 4s, forgery());
        table = RunCli({"check", "--site", site, "--seconds", "3"}, 60s);
        ASSERT_EQ(claims.Finish().exitCode, 0);
    }
    EXPECT_EQ(table.exitCode, 1) << table.out << table.err;
    EXPECT_NE(table.out.find("另一台主机 192.168.1.66 替这台摄像机应答"), std::string::npos) << table.out;
    EXPECT_EQ(table.out.find("IP冲突"), std::string::npos) << table.out;
}

TEST_F(SiteHearsay, TheWindowsSiteViewShowsTheAbsentCameraMissingWithItsHearsayAndNoConflict)
{
    lynx::platform::MenuItems menu;
    const auto previous = lynx::platform::SetPopupMenuHandler([&](const lynx::platform::MenuItems& items) {
        menu = items;
        return ID_MENU_LOAD_SITE;
    });
    struct Restored {
        lynx::platform::PopupMenuHandler handler;
        ~Restored() { lynx::platform::SetPopupMenuHandler(handler); }
    } restored{previous};
    dlg.Create();
    {
        Flood claims(kForger, 120, 3s, forgery());
        windowSearch(2);
        ASSERT_EQ(claims.Finish().exitCode, 0);
    }
    chosen = site;
    dlg.OnNMRClickList(-1);
    ASSERT_TRUE(dlg.siteFileLoaded());

    const auto counts = lynx::res::GetDlgItem(dlg, IDC_STATIC_SITE_COUNTS)->property("text").toString();
    EXPECT_EQ(counts, QStringLiteral("应有 3 台 · 正常 2 · 未找到 1 · 多余 1")) << counts.toStdString();
    CProcessList* rows = dlg.listDevice();
    const auto rowOf = [&](const QString& mac, int skip) {
        for (int r = 0; r < rows->GetItemCount(); ++r)
            if (rows->GetItemText(r, 2) == mac && skip-- == 0)
                return r;
        return -1;
    };
    // The forger's row for the absent camera reads as what it is; the
    // camera's own row is the planned one, grey and missing, naming the host.
    const int said = rowOf(QString::fromLatin1(kAbsentMac), 0);
    const int missing = rowOf(QString::fromLatin1(kAbsentMac), 1);
    ASSERT_GE(said, 0);
    ASSERT_GE(missing, 0);
    EXPECT_EQ(rows->GetItemText(said, 7), QStringLiteral("他机代答"));
    EXPECT_EQ(rows->GetItemText(missing, 7), QStringLiteral("未找到"));
    EXPECT_TRUE(rows->GetItemToolTip(missing, 7).contains(QStringLiteral("另一台主机 192.168.1.66 替这台摄像机应答")))
        << rows->GetItemToolTip(missing, 7).toStdString();
    // No conflict mark for the camera whose address the forger used.
    const int first = rowOf(QStringLiteral("00:1A:2B:00:09:01"), 0);
    ASSERT_GE(first, 0);
    EXPECT_FALSE(rows->GetItemBackground(first, 1).isValid());
    EXPECT_EQ(rows->GetItemText(first, 7), QString());
}

TEST_F(SiteHearsay, ThousandsOfMacsAtOneAddressGiveACheckWhoseOutputGrowsWithTheirNumber)
{
    constexpr long kMacs = 2000;
    ProcessResult table, json;
    {
        Flood crowd(kCrowd, kMacs, 2s, {"--kind", "crowd"});
        table = RunCli({"check", "--site", site, "--seconds", "4"}, 120s);
        ASSERT_EQ(crowd.Finish().exitCode, 0);
    }
    {
        Flood crowd(kCrowd, kMacs, 2s, {"--kind", "crowd"});
        json = RunCli({"check", "--site", site, "--seconds", "4", "--format", "json"}, 120s);
        ASSERT_EQ(crowd.Finish().exitCode, 0);
    }
    EXPECT_EQ(table.exitCode, 1) << table.err;
    // Every row naming every other MAC would print 2000 x 2000 MACs (72 MB);
    // a few per row keep the table within a few hundred bytes a row.
    EXPECT_LT(table.out.size(), static_cast<size_t>(kMacs) * 2000) << table.out.size();
    EXPECT_NE(table.out.find("及另外"), std::string::npos);
    const Json::Value rows = ParseJson(json.out);
    int atCrowd = 0;
    for (const Json::Value& row : rows)
        atCrowd += row["ip"].asString() == kCrowd;
    ASSERT_GT(atCrowd, kMacs / 2) << json.err;
    for (const Json::Value& row : rows) {
        if (row["ip"].asString() != kCrowd)
            continue;
        ASSERT_EQ(row["conflicts"].asInt(), atCrowd - 1) << row.toStyledString();
        ASSERT_LE(row["conflictWith"].size(), 8u) << row.toStyledString();
    }
}
