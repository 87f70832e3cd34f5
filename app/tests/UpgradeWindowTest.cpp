// The window's "批量升级" button driven like a user would, with the file dialog
// and every message box answered by the test, and cameras on loopback
// addresses that answer the update request and download the file.
#include "app/tests/WindowTestSupport.h"

#include "NetlabFixture.h"
#include "app/shell/FileDialog.h"
#include "app/shell/MessageBox.h"
#include "app/shell/ModalDialog.h"
#include "app/shell/DialogBuilder.h"
#include "app/shell/resource.h"
#include "tarn.h"
#include "upgrade/UpgradeFileServer.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <json/json.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <thread>

using namespace lynx::platform;

namespace {

std::string Report(const std::string& ip, const std::string& deviceId)
{
    return R"({"data":{"deviceIp":")" + ip + R"(","netMask":"255.0.0.0","gatewayIp":"127.0.0.1","deviceId":")" +
           deviceId + R"(","machineInfo":{"type":7,"name":"cam","model":"KV-100","mac":"00:11:22:33:44:)" +
           ip.substr(ip.size() - 2) + R"(","softwareVersion":"V1","hardwareVersion":"H1","sn":1,"productDate":{"time":"2020"}}}})";
}

size_t Discard(char*, size_t size, size_t count, void* total)
{
    *static_cast<size_t*>(total) += size * count;
    return size * count;
}

// A camera on a loopback address of its own: answers an update request on
// port 8025 with an accepting reply, downloads the file it names, and reports
// success when it got the whole file. One that does not download reports
// success all the same, as a host forging its address would.
class LoopbackCamera {
public:
    LoopbackCamera(std::string ip, std::string deviceId, bool downloads = true)
        : m_ip(std::move(ip)), m_deviceId(std::move(deviceId)), m_downloads(downloads)
    {
        m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        int on = 1;
        // The window's own server holds 0.0.0.0:8025; the more specific
        // address takes the datagrams meant for this camera.
        ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(8025);
        ::inet_pton(AF_INET, m_ip.c_str(), &address.sin_addr);
        m_bound = ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        m_thread = std::thread([this] { Run(); });
    }
    ~LoopbackCamera()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_fd);
    }
    bool bound() const { return m_bound; }
    std::string url() const
    {
        std::lock_guard lock(m_mutex);
        return m_url;
    }
    size_t downloaded() const { return m_downloaded; }
    int requests() const { return m_requests; }

private:
    void Run()
    {
        while (!m_stop) {
            pollfd wait{m_fd, POLLIN, 0};
            if (::poll(&wait, 1, 50) <= 0)
                continue;
            char datagram[4096];
            sockaddr_in peer{};
            socklen_t length = sizeof peer;
            const ssize_t n = ::recvfrom(m_fd, datagram, sizeof datagram, 0, reinterpret_cast<sockaddr*>(&peer), &length);
            if (n < static_cast<ssize_t>(sizeof(PacketHeader)))
                continue;
            PacketHeader header;
            std::memcpy(&header, datagram, sizeof header);
            if (header.command != 0x711)
                continue;
            ++m_requests;
            Json::Value request;
            Json::Reader().parse(std::string(datagram + sizeof header, static_cast<size_t>(n) - sizeof header), request);
            {
                std::lock_guard lock(m_mutex);
                m_url = request["filePath"].asString();
            }
            PacketHeader reply = header;
            reply.bodyMarker = '$';
            reply.result = 0x4F4B;
            ::sendto(m_fd, &reply, sizeof reply, 0, reinterpret_cast<sockaddr*>(&peer), length);

            if (!m_downloads) {
                Notify(peer, length, 0);
                continue;
            }
            size_t total = 0;
            CURL* curl = curl_easy_init();
            curl_easy_setopt(curl, CURLOPT_URL, url().c_str());
            // From its own address, as a camera connects.
            const std::string from = "host!" + m_ip;
            curl_easy_setopt(curl, CURLOPT_INTERFACE, from.c_str());
            curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Discard);
            curl_easy_setopt(curl, CURLOPT_WRITEDATA, &total);
            curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20L);
            curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
            const bool fetched = curl_easy_perform(curl) == CURLE_OK;
            curl_easy_cleanup(curl);
            m_downloaded = total;
            Notify(peer, length, fetched && total > 0 ? 0 : 2);
        }
    }

    void Notify(sockaddr_in& peer, socklen_t length, int status)
    {
        const std::string body = R"({"deviceId":")" + m_deviceId + R"(","status":)" + std::to_string(status) + "}";
        PacketHeader note{};
        note.magic = 0x8000;
        note.command = 0x712;
        note.bodyMarker = '$';
        std::string packet(reinterpret_cast<const char*>(&note), sizeof note);
        packet += body;
        ::sendto(m_fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&peer), length);
    }

    std::string m_ip;
    std::string m_deviceId;
    bool m_downloads;
    int m_fd = -1;
    bool m_bound = false;
    std::atomic<bool> m_stop{false};
    std::atomic<size_t> m_downloaded{0};
    std::atomic<int> m_requests{0};
    mutable std::mutex m_mutex;
    std::string m_url;
    std::thread m_thread;
};

class UpgradeWindow : public ::testing::Test {
protected:
    UpgradeWindow()
    {
        m_previousFiles = SetFileDialogHandler([this](const FileDialogRequest& request) {
            m_filters.push_back(request.filter.toStdString());
            m_fileParents.push_back(request.parent);
            return m_chosen;
        });
        g_bUpgrading = 0;
        // The loopback cameras receive on 8025 beside the window's server.
        setenv("LYNX_SHARE_PORTS", "1", 1);
        m_dlg = std::make_unique<CLynxDlg>();
        m_dlg->Create();
        m_pauses = SkipUpgradePauses(*m_dlg);
        m_chosen = m_dir.filePath("fw-4.2.zip");
        lynx::test::MakeFirmwareZip(m_chosen.toStdString(), 70000);
        m_firmwareSize = static_cast<size_t>(QFileInfo(m_chosen).size());
    }
    ~UpgradeWindow() override
    {
        m_dlg.reset();
        SetFileDialogHandler(m_previousFiles);
        g_bUpgrading = 0;
    }

    void AddDevice(const std::string& ip, const std::string& deviceId, bool ticked = true)
    {
        DeliverReport(Report(ip, deviceId));
        CProcessList* list = m_dlg->listDevice();
        list->SetCheck(list->GetItemCount() - 1, ticked);
    }
    std::string Status(int row) const { return m_dlg->listDevice()->GetItemText(row, 7).toStdString(); }
    std::string Summary() const
    {
        return lynx::res::GetDlgItem(*m_dlg, IDC_STATIC_UPGRADE_SUMMARY)->property("text").toString().toStdString();
    }
    qsizetype Count(const char* text) const { return boxes.texts().count(QString::fromUtf8(text)); }

    ScriptedBoxes boxes;
    QTemporaryDir m_dir;
    std::unique_ptr<CLynxDlg> m_dlg;
    QString m_chosen;
    size_t m_firmwareSize = 0;
    std::vector<std::string> m_filters;
    std::vector<QWidget*> m_fileParents;
    std::shared_ptr<std::vector<int>> m_pauses;  // the waits between requests, skipped
    FileDialogHandler m_previousFiles;
};

TEST_F(UpgradeWindow, NothingTickedIsToldAndNoFileIsAskedFor)
{
    AddDevice("127.0.0.21", "W21", false);
    m_dlg->OnBnClickedBatchUpgrade();
    EXPECT_EQ(boxes.texts(), QStringList{QStringLiteral("没有选中设备")});
    EXPECT_TRUE(m_filters.empty());
}

TEST_F(UpgradeWindow, ABatchBeingSentRefusesAnother)
{
    AddDevice("127.0.0.21", "W21");
    g_bUpgrading = 1;
    m_dlg->OnBnClickedBatchUpgrade();
    EXPECT_EQ(boxes.texts(), QStringList{QStringLiteral("升级正在进行中")});
    EXPECT_TRUE(m_filters.empty());
}

TEST_F(UpgradeWindow, CancelledFileDialogChangesNothing)
{
    AddDevice("127.0.0.21", "W21");
    m_chosen.clear();
    m_dlg->OnBnClickedBatchUpgrade();
    EXPECT_EQ(m_filters, std::vector<std::string>({"(*.zip)|*.zip|"}));
    EXPECT_EQ(m_fileParents, std::vector<QWidget*>({m_dlg.get()}));
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(Status(0), "");
    EXPECT_EQ(m_dlg->upgradeTotal(), 0);
}

TEST_F(UpgradeWindow, AFileThatIsNotAZipIsRefusedAndNoBatchStarts)
{
    AddDevice("127.0.0.21", "W21");
    for (const char* bytes : {"release notes, not firmware", ""}) {
        boxes.shown.clear();
        m_chosen = m_dir.filePath("notes.zip");
        std::ofstream(m_chosen.toStdString(), std::ios::binary | std::ios::trunc) << bytes;
        m_dlg->OnBnClickedBatchUpgrade();
        EXPECT_EQ(boxes.texts(), QStringList{QStringLiteral("升级文件不是有效的zip压缩包：") + m_chosen});
        EXPECT_EQ(m_dlg->upgradeTotal(), 0);
        EXPECT_TRUE(m_pauses->empty());
        EXPECT_EQ(Status(0), "");
    }
}

TEST_F(UpgradeWindow, CancelledConfirmationEmptiesTheTickedCellsAndSendsNothing)
{
    AddDevice("127.0.0.21", "W21");
    AddDevice("127.0.0.22", "W22");
    boxes.answers = {IDCANCEL};
    m_dlg->OnBnClickedBatchUpgrade();
    EXPECT_EQ(boxes.texts(), QStringList{QStringLiteral("是否要进行升级？")});
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].owner, m_dlg.get());
    EXPECT_EQ(m_dlg->upgradeTotal(), 2);
    EXPECT_EQ(m_dlg->upgradeDone(), 0);
    EXPECT_EQ(Status(0), "");
    EXPECT_EQ(Status(1), "");
    EXPECT_TRUE(m_pauses->empty());
    EXPECT_EQ(lynx::res::GetDlgItem(*m_dlg, IDC_STATIC_UPGRADE_FILE)->property("text").toString(), m_chosen);
}

TEST_F(UpgradeWindow, TickedCamerasAreUpgradedThroughTheToolsOwnServer)
{
    ASSERT_TRUE(m_dlg->fileServerStarted());
    LoopbackCamera first("127.0.0.31", "W31");
    LoopbackCamera second("127.0.0.32", "W32");
    ASSERT_TRUE(first.bound() && second.bound());
    AddDevice("127.0.0.31", "W31");
    AddDevice("127.0.0.99", "W99", false);
    AddDevice("127.0.0.32", "W32");

    m_dlg->OnBnClickedBatchUpgrade();
    // The second request waits its 3 seconds after the first.
    ASSERT_TRUE(WaitFor([&] { return !m_dlg->upgradeBatch().Sending(); }, 5000));
    EXPECT_EQ(*m_pauses, std::vector<int>({3000}));
    const std::string expectedUrl = "http://127.0.0.1:" + std::to_string(g_nHttpPort.load()) + "/fw-4.2.zip";
    EXPECT_EQ(first.url(), expectedUrl);
    EXPECT_EQ(second.url(), expectedUrl);
    EXPECT_EQ(g_bUpgrading, 0);

    ASSERT_TRUE(WaitFor([&] { return Status(0) == "升级成功" && Status(2) == "升级成功"; }, 20000))
        << Status(0) << " / " << Status(2);
    EXPECT_EQ(first.downloaded(), m_firmwareSize);
    EXPECT_EQ(second.downloaded(), m_firmwareSize);
    EXPECT_EQ(Status(1), "");
    EXPECT_EQ(Summary(), "总共:2    完成:2    成功:2    失败：0");
    EXPECT_EQ(m_dlg->upgradeSucceeded(), 2);
    // Announced once the last notification is applied, once.
    ASSERT_TRUE(WaitFor([&] { return Count("升级完成") > 0; }, 5000));
    EXPECT_EQ(Count("升级完成"), 1);
    EXPECT_EQ(boxes.texts().front(), QStringLiteral("是否要进行升级？"));
    EXPECT_EQ(boxes.texts().back(), QStringLiteral("升级完成"));
}

TEST_F(UpgradeWindow, ASuccessFromAnAddressThatNeverDownloadedTheFileIsNotBelieved)
{
    ASSERT_TRUE(m_dlg->fileServerStarted());
    LoopbackCamera real("127.0.0.31", "W31");
    LoopbackCamera claimant("127.0.0.33", "W33", false);
    ASSERT_TRUE(real.bound() && claimant.bound());
    AddDevice("127.0.0.31", "W31");
    AddDevice("127.0.0.33", "W33");

    m_dlg->OnBnClickedBatchUpgrade();
    ASSERT_TRUE(WaitFor([&] { return Status(0) == "升级成功" && Status(1) == "未下载固件，不予采信"; }, 20000))
        << Status(0) << " / " << Status(1);
    EXPECT_EQ(real.downloaded(), m_firmwareSize);
    EXPECT_EQ(Summary(), "总共:2    完成:2    成功:1    失败：1");
    EXPECT_EQ(m_dlg->upgradeSucceeded(), 1);
    EXPECT_EQ(m_dlg->upgradeFailed(), 1);
}

TEST_F(UpgradeWindow, ACameraOnASubnetOfNoCardIsRefusedAtOnceAndTheRestOfTheBatchGoesOn)
{
    ASSERT_TRUE(m_dlg->fileServerStarted());
    LoopbackCamera reachable("127.0.0.31", "W31");
    ASSERT_TRUE(reachable.bound());
    AddDevice("192.168.0.64", "W64");  // fresh from the factory: no card of this PC is in its subnet
    AddDevice("127.0.0.31", "W31");
    const QString foreignTip = m_dlg->listDevice()->GetItemToolTip(0, 1);
    EXPECT_TRUE(foreignTip.startsWith(QStringLiteral("不在本机网段：网卡 "))) << foreignTip.toStdString();
    EXPECT_FALSE(m_dlg->listDevice()->GetItemToolTip(1, 1).contains(QStringLiteral("不在本机网段")));

    m_dlg->OnBnClickedBatchUpgrade();
    // One request, to the reachable camera: the other was never sent one,
    // and nothing waited.
    EXPECT_FALSE(m_dlg->upgradeBatch().Sending());
    EXPECT_EQ(m_dlg->upgradeBatch().sent(), 2);
    EXPECT_TRUE(m_pauses->empty());
    EXPECT_EQ(Status(0), "请先修改IP");
    ASSERT_TRUE(WaitFor([&] { return Status(1) == "升级成功"; }, 20000)) << Status(1);
    EXPECT_EQ(Status(0), "请先修改IP");
    EXPECT_EQ(reachable.downloaded(), m_firmwareSize);
    EXPECT_EQ(Summary(), "总共:2    完成:2    成功:1    失败：1");
    ASSERT_TRUE(WaitFor([&] { return Count("升级完成") > 0; }, 5000));
    EXPECT_EQ(Count("升级完成"), 1);
}

} // namespace

namespace {

// Ending the window while its batch is being sent: the way (Esc or the title
// bar's X) and the answer to the question.
class EndingWhileSending : public UpgradeWindow, public testing::WithParamInterface<std::tuple<bool, bool>> {};

} // namespace

TEST_P(EndingWhileSending, NoLetsTheBatchGoOnAndYesSendsNothingMore)
{
    const auto [byEscape, yes] = GetParam();
    ASSERT_TRUE(m_dlg->fileServerStarted());
    LoopbackCamera first("127.0.0.41", "W41");
    LoopbackCamera second("127.0.0.42", "W42");
    ASSERT_TRUE(first.bound() && second.bound());
    AddDevice("127.0.0.41", "W41");
    AddDevice("127.0.0.42", "W42");
    m_dlg->show();

    m_dlg->OnBnClickedBatchUpgrade();
    // The person ends the window in the pause after the first request.
    const bool tried = m_dlg->upgradeBatch().Sending();
    ASSERT_TRUE(tried);
    EXPECT_EQ(m_dlg->upgradeBatch().sent(), 1);
    boxes.answers = {yes ? IDOK : IDCANCEL};
    if (byEscape)
        QTest::keyClick(m_dlg->listDevice(), Qt::Key_Escape);
    else
        m_dlg->close();
    const bool endedInThePause = !m_dlg->isVisible();
    // The window's next tick sends the second request, or finds the program ended.
    ASSERT_TRUE(WaitFor([&] { return !m_dlg->upgradeBatch().Sending(); }, 5000));
    ASSERT_GE(boxes.texts().size(), 2) << boxes.texts().join(QStringLiteral(" | ")).toStdString();
    EXPECT_EQ(boxes.texts()[1], QStringLiteral("正在批量升级，退出将中止升级。\n确定退出吗？"));
    EXPECT_EQ(endedInThePause, yes);
    EXPECT_EQ(g_bUpgrading, 0);
    ASSERT_TRUE(WaitFor([&] { return first.requests() == 1; }, 5000));
    if (yes) {
        // The second camera is never asked: the loop ended with the window.
        EXPECT_EQ(m_dlg->upgradeBatch().sent(), 1);
        EXPECT_EQ(m_dlg->upgradeBatch().queue().size(), 1u);
        ASSERT_TRUE(WaitFor([&] { return Status(0) == "升级成功"; }, 20000)) << Status(0);
        EXPECT_EQ(m_dlg->upgradeDone(), 1);
        EXPECT_EQ(second.requests(), 0);
    } else {
        EXPECT_TRUE(m_dlg->isVisible());
        ASSERT_TRUE(WaitFor([&] { return Status(0) == "升级成功" && Status(1) == "升级成功"; }, 20000))
            << Status(0) << " / " << Status(1);
        EXPECT_EQ(second.requests(), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(EachWayAndAnswer, EndingWhileSending, testing::Combine(testing::Bool(), testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) ? "Escape" : "TitleBarX") +
                                    (std::get<1>(info.param) ? "_Yes" : "_No");
                         });
