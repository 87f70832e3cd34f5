// The window's side of a batch upgrade: the "批量升级" button, the paced sends
// over the ticked devices driven by a timer of the window's own loop, the
// summary line, the cameras' replies and notifications, and the start of the
// upgrade-file server.
#include "app/CLynxDlg.h"

#include "platform/Translation.h"
#include "app/shell/FileDialog.h"
#include "app/shell/MessageBox.h"
#include "protocol/Messages.h"
#include "protocol/Transport.h"
#include "app/shell/DialogBuilder.h"
#include "app/shell/resource.h"
#include "upgrade/FirmwareFile.h"
#include "upgrade/Messages.h"
#include "upgrade/UpgradeFileServer.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <condition_variable>

namespace msg = lynx::upgrade::msg;

namespace {

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

void CLynxDlg::UpgradeSummary(const std::string& text)
{
    if (QWidget* summary = lynx::res::GetDlgItem(*this, IDC_STATIC_UPGRADE_SUMMARY))
        summary->setProperty("text", QString::fromStdString(text));
}

void CLynxDlg::UpgradingChanged(bool upgrading)
{
    g_bUpgrading = upgrading ? 1 : 0;
}

void CLynxDlg::UpgradeComplete()
{
    if (m_upgradeWaitTimer)
        m_upgradeWaitTimer->stop();
    // The restarted cameras' versions are checked later (while the box is up too).
    StartVersionCheck();
    // Told within a step of the batch (a datagram applied, a tick): the box
    // opens from the window's own loop once that step is over, so that no
    // step of the batch runs inside another.
    QTimer::singleShot(0, this, [this] { lynx::platform::ShowMessageBox(this, Text(msg::kBatchComplete)); });
}

void CLynxDlg::UpgradeReviewDue(int milliseconds)
{
    ArmEngineTick(milliseconds);
}

std::string CLynxDlg::SummaryFormat() const
{
    return lynx::platform::TrUtf8(msg::kSummaryFormat);
}

lynx::upgrade::UpgradeRun::FrontEnd CLynxDlg::UpgradeFrontEnd()
{
    lynx::upgrade::UpgradeRun::FrontEnd frontEnd;
    frontEnd.stopped = [this] { return m_bEnding; };
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
    if (m_site.Discovery().PortTaken()) {
        ShowMessageBox(this, Text(lynx::protocol::msg::kPortsTaken));
        return;
    }
    lynx::upgrade::UpgradeBatch& batch = m_site.Upgrade().Batch();
    if (!m_site.AnyTicked()) {
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

    // The last batch's wait ends with it.
    if (m_upgradeWaitTimer)
        m_upgradeWaitTimer->stop();
    // The ticked devices, in the order the list shows them.
    std::vector<int> ticked;
    for (int row = 0; row < m_model->rowCount(); ++row) {
        if (const int device = m_model->DeviceAt(row); m_site.Ticked(device))
            ticked.push_back(device);
    }
    if (batch.Prepare(m_site.BatchOf(ticked)) == 0)
        return;

    if (ShowMessageBox(this, Text(msg::kConfirmUpgrade), MB_OKCANCEL) == IDOK) {
        // The last batch's check would write over this batch's status cells.
        m_site.CancelVersionCheck();
        g_bUpgrading = 1;
        // The first request goes out now, the others from the ticks.
        SendUpdateCommands();
        if (!batch.Sending())
            UpgradeSendingEnded();
    } else {
        batch.Cancel();
    }
}

void CLynxDlg::SendUpdateCommands()
{
    m_site.Upgrade().SendUpdateCommands(m_strUpgradeFile.toStdString());
}

void CLynxDlg::UpgradeSendingEnded()
{
    UpdateUpgradeSummary();
    if (m_site.Upgrade().Batch().Settled())
        return;
    // The cameras' wait runs from the last request.
    if (!m_upgradeWaitTimer) {
        m_upgradeWaitTimer = new QTimer(this);
        m_upgradeWaitTimer->setSingleShot(true);
        connect(m_upgradeWaitTimer, &QTimer::timeout, this, &CLynxDlg::UpgradeWaitOver);
    }
    const uint32_t seconds =
        std::clamp<uint32_t>(SettingDword("UpgradeWaitSeconds").value_or(kDefaultUpgradeWaitSeconds), 1, 86400);
    m_upgradeWaitTimer->start(static_cast<int>(seconds * 1000));
}

void CLynxDlg::UpdateUpgradeSummary()
{
    m_site.Upgrade().Batch().UpdateSummary();
}

void CLynxDlg::UpgradeWaitOver()
{
    m_site.Upgrade().Batch().EndUnreported();
}
