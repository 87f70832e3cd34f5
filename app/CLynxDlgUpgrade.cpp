// The window's side of a batch upgrade: the "批量升级" button, the paced send
// loop over the ticked devices, the summary line, the cameras' replies and
// notifications, and the start of the upgrade-file server.
#include "app/CLynxDlg.h"

#include "platform/Translation.h"
#include "app/shell/FileDialog.h"
#include "app/shell/MessageBox.h"
#include "app/shell/ModalDialog.h"
#include "protocol/Messages.h"
#include "protocol/Transport.h"
#include "app/shell/DialogBuilder.h"
#include "app/shell/resource.h"
#include "upgrade/FirmwareFile.h"
#include "upgrade/LocalAddress.h"
#include "upgrade/Messages.h"
#include "upgrade/UpgradeFileServer.h"

#include <QCoreApplication>
#include <QThread>
#include <QWidget>

#include <chrono>
#include <condition_variable>

namespace msg = lynx::upgrade::msg;

namespace {


std::function<void(int)>& PauseOverride()
{
    static std::function<void(int)> pause;
    return pause;
}

QString Text(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

// The server thread's messages are shown by the UI thread, without owner; the
// server waits until the box is dismissed, or until it is being stopped.
void ShowFromUiThread(const std::string& text, std::stop_token stop)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    lynx::platform::MessageBoxRequest request;
    request.text = QString::fromStdString(text);
    request.caption = Text("提示");
    if (QThread::currentThread() == app->thread()) {
        lynx::platform::ShowMessageBox(request);
        return;
    }
    struct Shown {
        std::mutex mutex;
        std::condition_variable dismissed;
        bool done = false;
    };
    auto shown = std::make_shared<Shown>();
    QMetaObject::invokeMethod(
        app,
        [shown, request] {
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
        m_dlg.m_listDevice->SetItemText(row, CProcessList::kStatusColumn, lynx::platform::Tr(text.c_str()));
    }
    std::string SummaryFormat() const override { return lynx::platform::TrUtf8(msg::kSummaryFormat); }
    void SetSummaryText(const std::string& text) override
    {
        if (QWidget* summary = lynx::res::GetDlgItem(m_dlg, IDC_STATIC_UPGRADE_SUMMARY))
            summary->setProperty("text", QString::fromStdString(text));
    }
    void SetUpgrading(bool upgrading) override { g_bUpgrading = upgrading ? 1 : 0; }
    void AnnounceComplete() override
    {
        // Inside the send loop the box would open within a pause; it is shown
        // when the loop has ended instead.
        // The restarted cameras' versions are checked later (while the box is up too).
        m_dlg.StartVersionCheck();
        if (m_dlg.m_bInUpgradeSend)
            m_dlg.m_bUpgradeDonePending = true;
        else
            lynx::platform::ShowMessageBox(&m_dlg, Text(msg::kBatchComplete));
    }

private:
    CLynxDlg& m_dlg;
};

std::unique_ptr<lynx::upgrade::UpgradeListView> CLynxDlg::MakeUpgradeView()
{
    return std::make_unique<CLynxDlgUpgradeView>(*this);
}

lynx::upgrade::UpgradeRun::FrontEnd CLynxDlg::UpgradeFrontEnd()
{
    lynx::upgrade::UpgradeRun::FrontEnd frontEnd;
    frontEnd.replies = OnUpdateStatus;
    frontEnd.pause = [](int milliseconds) {
        if (PauseOverride())
            PauseOverride()(milliseconds);
        else
            lynx::platform::PauseKeepingPaint(milliseconds);
    };
    frontEnd.clientFailed = [this] {
        lynx::platform::MessageBoxRequest request;
        request.owner = this;
        request.text = Text(msg::kClientError);
        request.caption = Text("提示");
        request.icon = lynx::platform::MB_ICONQUESTION;
        lynx::platform::ShowMessageBox(request);
    };
    return frontEnd;
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
        ShowMessageBox(this, Text(msg::kBatchRunning));
        return;
    }
    // The cameras' replies and notifications come to port 8025: a batch whose
    // outcomes another program would receive must not start.
    StartUdpServers();
    if (m_discovery.PortTaken()) {
        ShowMessageBox(this, Text(lynx::protocol::msg::kPortsTaken));
        return;
    }
    lynx::upgrade::UpgradeBatch& batch = m_upgrade.Batch();
    if (!batch.HasCheckedRow()) {
        ShowMessageBox(this, Text(msg::kNoneTicked));
        return;
    }
    FileDialogRequest chooser;
    chooser.parent = this;
    chooser.filter = Text(msg::kZipFilter);
    const QString path = GetOpenFileName(chooser);
    if (path.isEmpty())
        return;
    // A file the cameras cannot unpack would fail each of them only after its
    // download: it is refused here, and no batch starts.
    if (const auto fault = lynx::upgrade::FirmwareFileFault(path.toStdString())) {
        ShowMessageBox(this, TrPrefixed(fault->c_str(), path));
        return;
    }
    m_strUpgradeFile = path;
    if (QWidget* fileStatic = lynx::res::GetDlgItem(*this, IDC_STATIC_UPGRADE_FILE))
        fileStatic->setProperty("text", m_strUpgradeFile);

    lynx::upgrade::DeviceLookup devices;
    devices.deviceIdOfNumber = [this](int number) -> std::optional<std::string> {
        const DeviceRecord* record = m_discovery.Table().ByNumber(number);
        if (!record)
            return std::nullopt;
        return std::string(record->deviceId, strnlen(record->deviceId, sizeof record->deviceId));
    };
    if (batch.Prepare(devices) == 0)
        return;

    if (ShowMessageBox(this, Text(msg::kConfirmUpgrade), MB_OKCANCEL) == IDOK) {
        // The last batch's check would write over this batch's status cells.
        CancelVersionCheck();
        g_bUpgrading = 1;
        SendUpdateCommands();
        UpdateUpgradeSummary();
    } else {
        batch.Cancel();
    }
}

void CLynxDlg::SendUpdateCommands()
{
    m_bInUpgradeSend = true;
    m_upgrade.SendUpdateCommands(m_strUpgradeFile.toStdString());
    m_bInUpgradeSend = false;
}

std::string CLynxDlg::GetLocalAddress(const char* deviceIp, int port)
{
    return lynx::upgrade::LocalAddressTowards(deviceIp ? deviceIp : "", port);
}

DeviceRecord* CLynxDlg::FindDeviceByIp(const char* ip)
{
    return ip ? m_discovery.Table().ByIp(ip) : nullptr;
}

void CLynxDlg::UpdateUpgradeSummary()
{
    m_upgrade.Batch().UpdateSummary();
    if (m_bUpgradeDonePending && !m_bInUpgradeSend) {
        m_bUpgradeDonePending = false;
        lynx::platform::ShowMessageBox(this, Text(msg::kBatchComplete));
    }
}

void CLynxDlg::OnUpdateStatusDatagram(const PacketHeader& header, const std::string& body, uint32_t from)
{
    m_upgrade.Batch().OnDatagram(header, body, from);
}
