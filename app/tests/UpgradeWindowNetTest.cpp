// The window's batch upgrade in a virtual LAN: simulated cameras found by a
// search download the firmware from the window's own server, check it and
// report back into their status cells.
#include "app/tests/WindowTestSupport.h"

#include "app/shell/DialogBuilder.h"
#include "app/shell/resource.h"
#include "platform/Registry.h"

#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

using namespace lynx::test;

class WindowUpgrade : public WindowInLan {
protected:
    void SetUpInLan() override
    {
        ASSERT_TRUE(MakeFirmwareZip(dir.File("cam-2.1.zip"), 200000));
        ASSERT_TRUE(WriteCorruptCopy(dir.File("cam-2.1.zip"), dir.File("cam-broken.zip")));
        Json::Value list(Json::arrayValue);
        for (int last : {101, 102, 103})
            list.append(SimCamera(last, "UPG"));
        // Readdressed cameras restart at once: a test need not wait for them.
        startCameras(list, {"--restart-ms", "0"});
        WindowInLan::SetUpInLan();
        windowSearch(1);
        ASSERT_EQ(dlg.listDevice()->GetItemCount(), 3);
        lynx::res::GetDlgItemAs<QCheckBox>(dlg, IDC_CHK_SELECT_ALL)->click();
    }

    // Runs one batch with the given file and waits for "升级完成".
    bool upgradeWith(const std::string& file)
    {
        chosen = dir.File(file);
        boxes.shown.clear();
        lynx::res::GetDlgItemAs<QPushButton>(dlg, IDC_BTN_BATCH_UPGRADE)->click();
        return WaitFor([&] { return completed(); }, 30000);
    }

    QStringList statuses() const
    {
        QStringList texts;
        for (int r = 0; r < dlg.listDevice()->GetItemCount(); ++r)
            texts << dlg.listDevice()->GetItemText(r, 7);
        return texts;
    }
};

} // namespace

TEST_F(WindowUpgrade, TickedCamerasDownloadTheFileAndReportSuccess)
{
    ASSERT_TRUE(upgradeWith("cam-2.1.zip")) << boxes.texts().join(" | ").toStdString();
    EXPECT_EQ(boxes.texts(), (QStringList{QStringLiteral("是否要进行升级？"), QStringLiteral("升级完成")}));
    const QString success = QStringLiteral("升级成功");
    EXPECT_EQ(statuses(), (QStringList{success, success, success}));
    EXPECT_EQ(summary(), QStringLiteral("总共:3    完成:3    成功:3    失败：0"));
    EXPECT_EQ(lynx::res::GetDlgItemAs<QLabel>(dlg, IDC_STATIC_UPGRADE_FILE)->text(), QString::fromStdString(dir.File("cam-2.1.zip")));
    EXPECT_EQ(g_bUpgrading, 0);
}

TEST_F(WindowUpgrade, ACameraReaddressedWithModifyIpIsUpgradedAtItsNewAddress)
{
    // The everyday sequence: search, readdress a new camera, upgrade it. Its
    // row shows the new address; its device record keeps the old one.
    CProcessList* list = dlg.listDevice();
    for (int r = 0; r < list->GetItemCount(); ++r)
        list->SetCheck(r, false);
    int moved = -1, other = -1;
    for (int r = 0; r < list->GetItemCount(); ++r) {
        if (list->GetItemText(r, 1) == QStringLiteral("192.168.1.101"))
            moved = r;
        if (list->GetItemText(r, 1) == QStringLiteral("192.168.1.102"))
            other = r;
    }
    ASSERT_GE(moved, 0);
    ASSERT_GE(other, 0);
    list->SetCheck(moved, true);
    {
        ScriptedDialogs dialogs([](QDialog& d) { return AcceptModifyIp(d, "192.168.1.150"); });
        dlg.OnBnClickedModifyIp();
    }
    // The row follows once the camera answers there.
    ASSERT_TRUE(WaitFor([&] { return !dlg.awaitingAddressChanges(); }, 30000));
    ASSERT_EQ(list->GetItemText(moved, 1), QStringLiteral("192.168.1.150"));
    // The camera has taken its new address once it listens there.
    ASSERT_TRUE(WaitUntil([] { return CanConnect("192.168.1.150", 8021); }, 10s));

    list->SetCheck(other, true);
    ASSERT_TRUE(upgradeWith("cam-2.1.zip")) << boxes.texts().join(" | ").toStdString();
    EXPECT_EQ(list->GetItemText(moved, 7), QStringLiteral("升级成功"));
    EXPECT_EQ(list->GetItemText(other, 7), QStringLiteral("升级成功"));
    EXPECT_EQ(summary(), QStringLiteral("总共:2    完成:2    成功:2    失败：0"));
}

TEST_F(WindowUpgrade, ACorruptArchiveIsReportedAsADownloadOrCheckFailure)
{
    ASSERT_TRUE(upgradeWith("cam-broken.zip")) << boxes.texts().join(" | ").toStdString();
    const QString failed = QStringLiteral("下载或校验失败");
    EXPECT_EQ(statuses(), (QStringList{failed, failed, failed}));
    EXPECT_EQ(summary(), QStringLiteral("总共:3    完成:3    成功:0    失败：3"));
}

namespace {

// Two cameras, the second of which takes the request and never reports; the
// window gives a camera five seconds to report.
class WindowUpgradeSilentCamera : public WindowInLan {
protected:
    void SetUpInLan() override
    {
        setWait(5);
        ASSERT_TRUE(MakeFirmwareZip(dir.File("cam-2.1.zip"), 200000));
        Json::Value list(Json::arrayValue);
        list.append(SimCamera(101, "UPG"));
        list.append(SimCamera(102, "UPG", {}, "silentUpgrade", true));
        startCameras(list);
        WindowInLan::SetUpInLan();
        windowSearch(1);
        ASSERT_EQ(dlg.listDevice()->GetItemCount(), 2);
    }
    void TearDown() override
    {
        WindowInLan::TearDown();
        setWait(CLynxDlg::kDefaultUpgradeWaitSeconds);
    }
    static void setWait(uint32_t seconds)
    {
        auto key = lynx::platform::RegistryKey::Create("Software\\Kova\\Harbor");
        ASSERT_TRUE(key);
        key->SetDword("UpgradeWaitSeconds", seconds);
    }
};

} // namespace

TEST_F(WindowUpgradeSilentCamera, ACameraThatNeverReportsEndsUnreportedAndTheBatchCompletes)
{
    chosen = dir.File("cam-2.1.zip");
    TickAllAndUpgrade(dlg);
    ASSERT_TRUE(WaitFor([&] { return statuses()["192.168.1.101"] == QStringLiteral("升级成功"); }, 20000));
    EXPECT_FALSE(completed());
    EXPECT_TRUE(dlg.BatchInProgress());

    ASSERT_TRUE(WaitFor([&] { return completed(); }, 20000)) << boxes.texts().join(" | ").toStdString();
    EXPECT_EQ(statuses()["192.168.1.102"], QStringLiteral("未报告升级结果"));
    EXPECT_EQ(statuses()["192.168.1.101"], QStringLiteral("升级成功"));
    EXPECT_EQ(summary(), QStringLiteral("总共:2    完成:2    成功:1    失败：1"));
    EXPECT_FALSE(dlg.BatchInProgress()) << "nothing is left running for the close question to name";
    EXPECT_EQ(boxes.texts().count(QStringLiteral("升级完成")), 1);
}
