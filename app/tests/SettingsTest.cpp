// The registry setting, the logo and the control colours.
#include "app/tests/WindowTestSupport.h"

#include "platform/Registry.h"
#include "app/shell/DialogBuilder.h"
#include "app/shell/resource.h"

#include <QDir>
#include <QImage>
#include <QLabel>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

class RegistryRootOfItsOwn : public testing::Test {
protected:
    void SetUp() override
    {
        previous = getenv("LYNX_REGISTRY_ROOT") ? getenv("LYNX_REGISTRY_ROOT") : "";
        setenv("LYNX_REGISTRY_ROOT", root.path().toLocal8Bit().constData(), 1);
    }
    void TearDown() override { setenv("LYNX_REGISTRY_ROOT", previous.c_str(), 1); }

    uint32_t readSetting()
    {
        CLynxDlg dlg;
        dlg.Create();
        return dlg.maxUdpRecvBufSize();
    }

    ScriptedBoxes boxes;
    QTemporaryDir root;
    std::string previous;
};

} // namespace

TEST_F(RegistryRootOfItsOwn, TheListHoldsAtMostMaxDevicesAndSaysSoOnce)
{
    auto key = lynx::platform::RegistryKey::Create("Software\\Kova\\Harbor");
    ASSERT_TRUE(key);
    key->SetDword("MaxDevices", 3);
    CLynxDlg dlg;
    dlg.Create();
    for (int i = 1; i <= 6; ++i)
        DeliverReport(ReportJson("192.168.1." + std::to_string(100 + i), "00:1A:2B:00:00:" + std::to_string(10 + i)));
    EXPECT_TRUE(WaitFor([&] { return !boxes.shown.empty(); }, 2000));
    EXPECT_EQ(dlg.listDevice()->GetItemCount(), 3);
    EXPECT_EQ(boxes.texts(), QStringList{QStringLiteral("设备列表已满，之后的应答不再列出。台数上限：3")});
}

TEST_F(RegistryRootOfItsOwn, FirstStartCreatesTheKeyAndTheNextReadsItBack)
{
    EXPECT_EQ(readSetting(), 2097152u);
    auto key = lynx::platform::RegistryKey::Open("Software\\Kova\\Harbor");
    ASSERT_TRUE(key);
    auto value = key->Query("MaxUdpRecvbufSize");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->type, lynx::platform::RegistryValueType::Dword);
    EXPECT_EQ(value->data, (std::vector<uint8_t>{0x00, 0x00, 0x20, 0x00}));
    key->SetDword("MaxUdpRecvbufSize", 8388608);
    EXPECT_EQ(readSetting(), 8388608u);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(RegistryRootOfItsOwn, ALargerSettingGrowsTheReceiveBuffers)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "without privileges the system caps the buffer at net.core.rmem_max";
    constexpr uint32_t kAsked = 96u * 1024 * 1024;
    ASSERT_TRUE(lynx::platform::RegistryKey::Create("Software\\Kova\\Harbor")->SetDword("MaxUdpRecvbufSize", kAsked));
    CLynxDlg dlg;
    dlg.Create();
    EXPECT_GE(tarn_ext_ReceiveBufferSize(dlg.reportSocket()), kAsked);
    tarn_ext_SetReceiveBufferSize(0);  // the default again, for the tests after this one
}

TEST_F(RegistryRootOfItsOwn, AKeyWithoutTheValueGetsNothingCreated)
{
    ASSERT_TRUE(lynx::platform::RegistryKey::Create("Software\\Kova\\Harbor"));
    EXPECT_EQ(readSetting(), 2097152u);
    EXPECT_FALSE(lynx::platform::RegistryKey::Open("Software\\Kova\\Harbor")->Query("MaxUdpRecvbufSize"));
}

TEST_F(RegistryRootOfItsOwn, AnUnwritableRootGivesTheDefaultAndNoMessage)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root may write anywhere; run as an ordinary user to check an unwritable root";
    ASSERT_EQ(chmod(root.path().toLocal8Bit().constData(), 0500), 0);
    EXPECT_EQ(readSetting(), 2097152u);
    EXPECT_TRUE(boxes.shown.empty());
    chmod(root.path().toLocal8Bit().constData(), 0700);
}

TEST_F(RegistryRootOfItsOwn, ARootThatIsAFileGivesTheDefaultAndNoMessage)
{
    // Stands for a root the user cannot write, also when the tests run as root.
    QString file = root.path() + "/not-a-folder";
    { QFile f(file); ASSERT_TRUE(f.open(QIODevice::WriteOnly)); }
    setenv("LYNX_REGISTRY_ROOT", file.toLocal8Bit().constData(), 1);
    EXPECT_EQ(readSetting(), 2097152u);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST(Registry, KeyNamesCannotClimbOutOfTheRoot)
{
    QTemporaryDir root;
    setenv("LYNX_REGISTRY_ROOT", (root.path() + "/reg").toLocal8Bit().constData(), 1);
    auto key = lynx::platform::RegistryKey::Create("..\\..\\escape");
    ASSERT_TRUE(key);
    EXPECT_TRUE(QString::fromStdString(key->path()).startsWith(root.path() + "/reg/"));
    EXPECT_FALSE(QDir(root.path() + "/escape").exists());
}

TEST(Painting, TheLogoIsAPngWithAlphaDrawnIntoThePlaceholder)
{
    QImage logo;
    ASSERT_TRUE(CLynxDlg::LoadImageFromResource(&logo, IDB_LOGO, "png"));
    EXPECT_EQ(logo.size(), QSize(580, 167));
    EXPECT_TRUE(logo.hasAlphaChannel());
    QImage none;
    EXPECT_FALSE(CLynxDlg::LoadImageFromResource(&none, 999, "png"));
    EXPECT_FALSE(CLynxDlg::LoadImageFromResource(nullptr, 133, "png"));

    ScriptedBoxes boxes;
    CLynxDlg dlg;
    dlg.Create();
    dlg.show();
    QImage shot = dlg.grab().toImage();
    QRect place = lynx::res::ControlRect(dlg, IDC_STATIC_LOGO);
    int coloured = 0;
    for (int x = place.left(); x <= place.right(); ++x)
        for (int y = place.top(); y <= place.bottom(); ++y)
            coloured += shot.pixelColor(x, y) != QColor(Qt::white);
    EXPECT_GT(coloured, place.width() * place.height() / 10);
    // Outside the placeholder the dialog is white.
    EXPECT_EQ(shot.pixelColor(place.left() - 3, place.top() + 2), QColor(Qt::white));
}

TEST(Painting, TheSummaryLineIsBlueAndTheRestKeepsItsColours)
{
    ScriptedBoxes boxes;
    CLynxDlg dlg;
    dlg.Create();
    auto* summary = lynx::res::GetDlgItemAs<QLabel>(dlg, IDC_STATIC_UPGRADE_SUMMARY);
    EXPECT_EQ(summary->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    auto* label = lynx::res::GetDlgItemAs<QWidget>(dlg, IDC_STATIC_UPGRADE_FILE);
    EXPECT_NE(label->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    EXPECT_EQ(dlg.palette().color(QPalette::Window), QColor(Qt::white));
}
