// The window's status cells during a batch upgrade in a virtual LAN, among
// simulated cameras that read the firmware slowly: each camera's bar follows
// its real download and gives way to its state's text.
#include "app/tests/WindowTestSupport.h"

#include "app/DeviceListModel.h"
#include "app/shell/DialogBuilder.h"
#include "app/shell/resource.h"

#include <QPushButton>

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace {

using namespace lynx::test;

class WindowProgress : public WindowInLan {
protected:
    void SetUpInLan() override
    {
        ASSERT_TRUE(MakeFirmwareZip(dir.File("cam-5.0.zip"), 800000));
        Json::Value list(Json::arrayValue);
        for (int last : {121, 122})
            list.append(SimCamera(last, "BAR"));
        // About three seconds for each download.
        startCameras(list, {"--download-rate", "262144"});
        WindowInLan::SetUpInLan();
        windowSearch(1);
        ASSERT_EQ(dlg.listDevice()->GetItemCount(), 2);
        lynx::res::GetDlgItemAs<QCheckBox>(dlg, IDC_CHK_SELECT_ALL)->click();
    }
    QModelIndex status(int row) const { return dlg.listDevice()->model()->index(row, 7); }
};

} // namespace

TEST_F(WindowProgress, EachBarRisesWithItsCamerasDownloadThenGivesWayToTheStatesText)
{
    chosen = dir.File("cam-5.0.zip");
    lynx::res::GetDlgItemAs<QPushButton>(dlg, IDC_BTN_BATCH_UPGRADE)->click();
    // What each row's bar showed while the batch ran, as the user saw it.
    std::map<int, std::set<int>> percents;
    std::map<int, bool> everFailed;
    const bool done = WaitFor(
        [&] {
            for (int row = 0; row < 2; ++row) {
                percents[row].insert(status(row).data(DeviceListModel::PercentRole).toInt());
                everFailed[row] = everFailed[row] || status(row).data(DeviceListModel::FailedRole).toBool();
            }
            return completed();
        },
        60000);
    ASSERT_TRUE(done) << boxes.texts().join(" | ").toStdString();
    for (int row = 0; row < 2; ++row) {
        std::set<int> between = percents[row];
        between.erase(0);
        between.erase(100);
        EXPECT_GE(between.size(), 3u) << "row " << row << ": the bar rises through its download";
        EXPECT_TRUE(percents[row].count(100)) << "row " << row << ": green once the camera has the whole file";
        EXPECT_FALSE(everFailed[row]) << "row " << row;
        // Then the state's text alone.
        EXPECT_EQ(dlg.listDevice()->GetItemText(row, 7), QStringLiteral("升级成功"));
        EXPECT_EQ(status(row).data(DeviceListModel::PercentRole).toInt(), 0);
    }
    EXPECT_EQ(summary(), QStringLiteral("总共:2    完成:2    成功:2    失败：0"));
}
