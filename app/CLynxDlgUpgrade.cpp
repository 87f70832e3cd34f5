// The window's side of a batch upgrade: the "批量升级" button, the paced send
// loop over the ticked devices, the summary line, the cameras' replies and
// notifications, and the start of the upgrade-file server.
#include "app/CLynxDlg.h"

#include "platform/FileDialog.h"
#include "platform/MessageBox.h"
#include "platform/ModalDialog.h"
#include "protocol/JsonMessages.h"
#include "protocol/Transport.h"
#include "res/DialogBuilder.h"
#include "upgrade/LocalAddress.h"
#include "upgrade/UpgradeBatch.h"
#include "upgrade/UpgradeFileServer.h"

#include <QCoreApplication>
#include <QWidget>

#include <chrono>
#include <condition_variable>
#include <cstring>

using lynx::upgrade::UpgradeBatch;

namespace {

constexpr int kFileStatic = 1024;
constexpr int kSummaryStatic = 1025;

std::function<void(int)>& PauseOverride()
{
    static std::function<void(int)> pause;
    return pause;
}

QString Text(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

std::string DeviceIdOf(const DeviceRecord& record)
{
    return std::string(record.deviceId, strnlen(record.deviceId, sizeof record.deviceId));
}

// The server thread's messages are shown by the UI thread, without owner; the
// server waits until the box is dismissed, or until it is being stopped.
void ShowFromUiThread(const std::string& text, std::stop_token stop)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    struct Shown {
        std::mutex mutex;
        std::condition_variable dismissed;
        bool done = false;
    };
    auto shown = std::make_shared<Shown>();
    QMetaObject::invokeMethod(
        app,
        [shown, text] {
            lynx::platform::MessageBoxRequest request;
            request.text = QString::fromStdString(text);
            request.caption = Text("提示");
            lynx::platform::ShowMessageBox(request);
            std::lock_guard lock(shown->mutex);
            shown->done = true;
            shown->dismissed.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(shown->mutex);
    while (!shown->done && !stop.stop_requested())
        shown->dismissed.wait_for(lock, std::chrono::milliseconds(100));
}

} // namespace

// The device list, summary line and flag as the batch bookkeeping sees them.
class CLynxDlgUpgradeView : public lynx::upgrade::UpgradeListView {
public:
    explicit CLynxDlgUpgradeView(CLynxDlg& dlg) : m_dlg(dlg) {}

    int RowCount() const override { return m_dlg.m_listDevice->GetItemCount(); }
    bool IsChecked(int row) const override { return m_dlg.m_listDevice->GetCheck(row); }
    std::string CellText(int row, int column) const override
    {
        return m_dlg.m_listDevice->GetItemText(row, column).toStdString();
    }
    void SetStatusText(int row, const std::string& text) override
    {
        m_dlg.m_listDevice->SetItemText(row, CProcessList::kStatusColumn, QString::fromStdString(text));
    }
    void SetSummaryText(const std::string& text) override
    {
        Sync(m_dlg);
        if (QWidget* summary = lynx::res::GetDlgItem(m_dlg, kSummaryStatic))
            summary->setProperty("text", QString::fromStdString(text));
    }
    void SetUpgrading(bool upgrading) override { g_bUpgrading = upgrading ? 1 : 0; }
    void AnnounceComplete() override
    {
        // Inside the send loop the box would open within a pause; it is shown
        // when the loop has ended instead.
        if (m_dlg.m_bInUpgradeSend)
            m_dlg.m_bUpgradeDonePending = true;
        else
            lynx::platform::ShowMessageBox(&m_dlg, Text("升级完成"));
    }

    // The window's own members mirror the bookkeeping for its readers.
    static void Sync(CLynxDlg& dlg)
    {
        const UpgradeBatch& batch = *dlg.m_upgradeBatch;
        dlg.m_nUpgradeTotal = batch.total();
        dlg.m_nUpgradeDone = batch.done();
        dlg.m_nUpgradeSucceeded = batch.succeeded();
        dlg.m_nUpgradeFailed = batch.failed();
        dlg.m_lstUpgradeJob = batch.queue();
    }

private:
    CLynxDlg& m_dlg;
};

UpgradeBatch& CLynxDlg::UpgradeJobs()
{
    if (!m_upgradeBatch)
        m_upgradeBatch = std::make_shared<UpgradeBatch>(std::make_unique<CLynxDlgUpgradeView>(*this));
    return *m_upgradeBatch;
}

void CLynxDlg::SetUpgradePauseForTesting(std::function<void(int)> pause)
{
    PauseOverride() = std::move(pause);
}

void CLynxDlg::StartUpgradeFileServer()
{
    m_bFileServerStarted = ::StartUpgradeFileServer(ShowFromUiThread);
}

void CLynxDlg::OnBnClickedBatchUpgrade()
{
    using namespace lynx::platform;
    if (g_bUpgrading) {
        ShowMessageBox(this, Text("升级正在进行中"));
        return;
    }
    UpgradeBatch& batch = UpgradeJobs();
    if (!batch.HasCheckedRow()) {
        ShowMessageBox(this, Text("没有选中设备"));
        return;
    }
    FileDialogRequest chooser;
    chooser.parent = this;
    chooser.filter = QStringLiteral("(*.zip)|*.zip|");
    const QString path = GetOpenFileName(chooser);
    if (path.isEmpty())
        return;
    m_strUpgradeFile = path;
    if (QWidget* fileStatic = lynx::res::GetDlgItem(*this, kFileStatic))
        fileStatic->setProperty("text", m_strUpgradeFile);

    lynx::upgrade::DeviceLookup devices;
    devices.deviceIdOfNumber = [this](int number) -> std::optional<std::string> {
        const auto it = m_deviceMap.find(number);
        if (it == m_deviceMap.end() || !it->second)
            return std::nullopt;
        return DeviceIdOf(*it->second);
    };
    const int jobs = batch.Prepare(devices);
    CLynxDlgUpgradeView::Sync(*this);
    if (jobs == 0)
        return;

    if (ShowMessageBox(this, Text("是否要进行升级？"), MB_OKCANCEL) == IDOK) {
        g_bUpgrading = 1;
        SendUpdateCommands();
        UpdateUpgradeSummary();
    } else {
        batch.Cancel();
    }
}

void CLynxDlg::SendUpdateCommands()
{
    lynx::upgrade::UpgradeSendHooks hooks;
    hooks.publishFile = [](const std::string& path, const std::string& fileName) { SetUpgradeFile(path, fileName); };
    hooks.httpPort = [] { return g_nHttpPort.load(); };
    hooks.startClient = [](const std::string& ip, uint16_t& handle) {
        return tarn_StartUDPClient(&handle, ip.c_str(), lynx::protocol::kUpdatePort, OnUpdateStatus) == 1;
    };
    hooks.clientFailed = [this] {
        lynx::platform::MessageBoxRequest request;
        request.owner = this;
        request.text = QStringLiteral("udp client error");
        request.caption = Text("提示");
        request.icon = lynx::platform::MB_ICONQUESTION;
        lynx::platform::ShowMessageBox(request);
    };
    hooks.localAddress = [](const std::string& ip) { return GetLocalAddress(ip.c_str(), lynx::protocol::kProbePort); };
    hooks.sendUpdate = [this](const std::string& url, const std::string& deviceId, uint16_t handle,
                              const std::string& ip, uint32_t tag) {
        // The URL stays UTF-8: the request writer escapes what is not ASCII.
        return SendToDevice(BuildJsonRequest("update", url.c_str(), deviceId.c_str()), handle, ip.c_str(), tag);
    };
    hooks.pause = [](int milliseconds) {
        if (PauseOverride())
            PauseOverride()(milliseconds);
        else
            lynx::platform::PauseKeepingPaint(milliseconds);
    };

    m_bInUpgradeSend = true;
    UpgradeJobs().SendUpdateCommands(m_strUpgradeFile.toStdString(), hooks);
    m_bInUpgradeSend = false;
    CLynxDlgUpgradeView::Sync(*this);
}

std::string CLynxDlg::GetLocalAddress(const char* deviceIp, int port)
{
    return lynx::upgrade::LocalAddressTowards(deviceIp ? deviceIp : "", port);
}

DeviceRecord* CLynxDlg::FindDeviceByIp(const char* ip)
{
    return lynx::protocol::FindDeviceByIp(m_deviceMap, ip);
}

void CLynxDlg::UpdateUpgradeSummary()
{
    UpgradeJobs().UpdateSummary();
    CLynxDlgUpgradeView::Sync(*this);
    if (m_bUpgradeDonePending && !m_bInUpgradeSend) {
        m_bUpgradeDonePending = false;
        lynx::platform::ShowMessageBox(this, Text("升级完成"));
    }
}

void CLynxDlg::OnUpdateStatusDatagram(const PacketHeader& header, const std::string& body)
{
    UpgradeJobs().OnDatagram(header, body);
    CLynxDlgUpgradeView::Sync(*this);
}
