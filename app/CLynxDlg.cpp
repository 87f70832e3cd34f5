// The main window's shell: construction and destruction, window creation, the
// transport, the receive hand-off to the UI thread, and ending the dialog.
#include "app/CLynxDlg.h"

#include "kova_cpr.h"
#include "platform/MessageBox.h"
#include "protocol/JsonMessages.h"
#include "protocol/Transport.h"
#include "res/DialogBuilder.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QCloseEvent>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>
#include <QTimerEvent>

CLynxDlg* g_pMainDlg = nullptr;
std::mutex g_mainDlgMutex;
int g_bUpgrading = 0;

namespace {

void OnConnectionNotify(uint16_t, int) {}

void OnSdkInfo(int, const char*, void*) {}

} // namespace

// Hands one datagram to the UI thread: queued under the lock, and the eventfd
// counts up; the UI thread wakes once for however many arrived and takes the
// whole queue at once.
void CLynxDlg::PostDatagram(uint16_t port, const PacketHeader& header, std::string body)
{
    std::lock_guard lock(g_mainDlgMutex);
    CLynxDlg* dlg = g_pMainDlg;
    if (!dlg)
        return;
    dlg->m_inbox.push_back({port, header, std::move(body)});
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(dlg->m_wakeFd, &one, sizeof one);
}

int OnReportDatagram(uint32_t, uint32_t, PacketHeader header, uint32_t bodyLength, const char* body)
{
    // Every '$' datagram on the report port is a device report, whatever its command.
    if (header.bodyMarker != lynx::protocol::kMarkerBody)
        return 0;
    CLynxDlg::PostDatagram(lynx::protocol::kReportPort, header, Utf8ToGbk(std::string_view(body, bodyLength)));
    return 0;
}

int OnUpdateStatus(uint32_t, uint32_t, PacketHeader header, uint32_t bodyLength, const char* body)
{
    CLynxDlg::PostDatagram(lynx::protocol::kUpdatePort, header, std::string(body, bodyLength));
    return 0;
}

CLynxDlg::CLynxDlg(QWidget* parent) : QDialog(parent)
{
    m_reportSocket = 0;
    // Made before any receive callback can reach this dialog.
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_wakeNotifier = new QSocketNotifier(m_wakeFd, QSocketNotifier::Read, this);
    connect(m_wakeNotifier, &QSocketNotifier::activated, this, [this] {
        uint64_t count = 0;
        [[maybe_unused]] ssize_t got = ::read(m_wakeFd, &count, sizeof count);
        DrainInbox();
    });
    {
        std::lock_guard lock(g_mainDlgMutex);
        g_pMainDlg = this;
    }
    InitIpTransport();
    lynx::res::EnsureResources();
    m_hIcon = QIcon(QStringLiteral(":/res/128.png"));
    m_nDeviceCount = 0;
    m_brushBk = QBrush(QColor(255, 255, 255));
    m_bSearching = 0;
    m_nUpgradeSucceeded = m_nUpgradeFailed = m_nUpgradeDone = m_nUpgradeTotal = 0;
    g_bUpgrading = 0;
    BringUpCameraSdk();
}

void CLynxDlg::BringUpCameraSdk()
{
    using lynx::platform::MessageBoxRequest;
    auto fail = [](const char* text) {
        // These come before the window exists: no owner.
        MessageBoxRequest request;
        request.text = QString::fromUtf8(text);
        request.caption = QStringLiteral("提示");
        lynx::platform::ShowMessageBox(request);
    };
    if (!KOVA_CPR_Init(0)) {
        fail("SDK初始化失败！");
        return;
    }
    KOVA_CPR_PARAM sdkParam{};
    if (!KOVA_CPR_GetParam(&sdkParam)) {
        fail("获取SDK参数失败！");
        return;
    }
    sdkParam.words[1] = 1;
    if (!KOVA_CPR_SetParam(&sdkParam)) {
        fail("设置SDK参数失败！");
        return;
    }
    KOVA_CPR_SetInfoCallBack(OnSdkInfo, this);
    KOVA_CPR_SetHeartBeatParam(5, 2);
    StartUpgradeFileServer();
}

CLynxDlg::~CLynxDlg()
{
    {
        std::lock_guard lock(g_mainDlgMutex);
        if (g_pMainDlg == this)
            g_pMainDlg = nullptr;
        m_inbox.clear();
    }
    delete m_wakeNotifier;
    ::close(m_wakeFd);
    for (auto& [id, qtId] : m_timers)
        killTimer(qtId);
    m_timers.clear();
    m_deviceMap.clear();
    while (!m_deviceList.empty())
        m_deviceList.pop_front();
    KOVA_CPR_Cleanup();
}

void CLynxDlg::Create()
{
    if (m_bCreated)
        return;
    m_bCreated = true;
    lynx::res::BuildDialog(*this, lynx::res::MainDialogTemplate(), [](const lynx::res::ControlTemplate& c, QWidget* parent) -> QWidget* {
        if (c.id == 1001)
            return new CProcessList(parent);
        return nullptr;
    });
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    DoDataExchange();
    BindMessageMap();
    OnInitDialog();
    // The first tab-stop control takes the focus, as the framework does for TRUE.
    if (QWidget* first = nextInFocusChain(); first && first != this)
        first->setFocus();
    // What arrived before the controls existed (while a start-up message was
    // up, say) is applied now.
    m_bControlsReady = true;
    QTimer::singleShot(0, this, &CLynxDlg::DrainInbox);
}

int CLynxDlg::DoModal()
{
    Create();
    return exec();
}

void CLynxDlg::DoDataExchange()
{
    m_listDevice = lynx::res::GetDlgItemAs<CProcessList>(*this, 1001);
    m_btnSelectAll = lynx::res::GetDlgItemAs<QCheckBox>(*this, 1003);
    m_comboProtocol = lynx::res::GetDlgItemAs<QComboBox>(*this, 1027);
    m_chkHideSameIp = lynx::res::GetDlgItemAs<QCheckBox>(*this, 1007);
    m_chkHideSameMac = lynx::res::GetDlgItemAs<QCheckBox>(*this, 1008);
}

void CLynxDlg::BindMessageMap()
{
    auto button = [this](int id) { return lynx::res::GetDlgItemAs<QAbstractButton>(*this, id); };
    connect(button(1000), &QAbstractButton::clicked, this, &CLynxDlg::OnBnClickedSearch);
    connect(m_listDevice, &CProcessList::rightClicked, this, &CLynxDlg::OnNMRClickList);
    connect(button(1002), &QAbstractButton::clicked, this, &CLynxDlg::OnBnClickedOpen);
    connect(m_btnSelectAll, &QAbstractButton::clicked, this, &CLynxDlg::OnBnClickedSelectAll);
    connect(button(1004), &QAbstractButton::clicked, this, &CLynxDlg::OnBnClickedModifyIp);
    connect(button(1005), &QAbstractButton::clicked, this, &CLynxDlg::OnBnClickedMulModifyIp);
    connect(button(1006), &QAbstractButton::clicked, this, &CLynxDlg::OnBnClickedBatchUpgrade);
    connect(m_listDevice, &CProcessList::columnClicked, this, &CLynxDlg::OnLvnColumnclickList);
}

bool CLynxDlg::OnInitDialog()
{
    setWindowIcon(m_hIcon);
    m_listDevice->SetExtendedStyle(0x25);
    static const struct {
        const char* title;
        int width;
    } columns[] = {{"序号", 50},      {"设备IP", 110},   {"MAC地址", 120},  {"网关地址", 100},
                   {"子网掩码", 100}, {"设备型号", 120}, {"软件版本", 230}, {"状态", 160}};
    for (int i = 0; i < 8; ++i)
        m_listDevice->InsertColumn(i, QString::fromUtf8(columns[i].title), columns[i].width);
    m_comboProtocol->addItem(QStringLiteral("TARN"));
    m_comboProtocol->setCurrentIndex(0);
    lynx::res::GetDlgItemAs<QLineEdit>(*this, 1026)->setText(QString::number(12));
    lynx::res::GetDlgItemAs<QCheckBox>(*this, 1007)->setChecked(true);
    lynx::res::GetDlgItemAs<QCheckBox>(*this, 1008)->setChecked(true);
    for (QWidget* control : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        OnCtlColor(control);
    OnCtlColor(this);
    ReadSettings();
    g_bUpgrading = 0;
    return true;
}

void CLynxDlg::OnClose()
{
    KillTimer(kSearchTimer);
    KOVA_CPR_StopSearch();
    KOVA_CPR_SetSearchCB(nullptr, this);
    m_bClosing = true;
    reject();
}

void CLynxDlg::closeEvent(QCloseEvent* event)
{
    if (!m_bClosing && isVisible())
        OnClose();
    event->accept();
}

void CLynxDlg::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        // The framework's Cancel: the dialog ends without the close steps.
        reject();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // A focused push button is clicked; anywhere else Enter is the
        // framework's OK, which ends the dialog.
        if (auto* pushButton = qobject_cast<QPushButton*>(focusWidget())) {
            pushButton->click();
            return;
        }
        accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void CLynxDlg::SetTimer(int timerId, int milliseconds)
{
    KillTimer(timerId);
    // Precise: Qt's default coarse timers may fire up to 5 % early, and a
    // search of 13 s would end 0.65 s before its time.
    m_timers[timerId] = startTimer(milliseconds, Qt::PreciseTimer);
}

void CLynxDlg::KillTimer(int timerId)
{
    auto it = m_timers.find(timerId);
    if (it == m_timers.end())
        return;
    killTimer(it->second);
    m_timers.erase(it);
}

void CLynxDlg::timerEvent(QTimerEvent* event)
{
    for (const auto& [id, qtId] : m_timers) {
        if (qtId == event->timerId()) {
            OnTimer(id);
            return;
        }
    }
    QDialog::timerEvent(event);
}

void CLynxDlg::InitIpTransport()
{
    m_reportSocket = 0;
    tarn_Init(1, 35, 35, "C://log//", 0, 0, 0, 0);
    tarn_SetLogFlag(1);
    tarn_RegisterConnectionNotify(OnConnectionNotify);
    StartUdpServers();
}

void CLynxDlg::StartUdpServers()
{
    if (m_reportSocket == 0) {
        if (tarn_StartUDPServer(&m_reportSocket, OnReportDatagram, 0, 0, lynx::protocol::kReportPort) != 1)
            m_reportSocket = 0;
    }
    uint16_t udpServerSocket = 0;
    tarn_StartUDPServer(&udpServerSocket, OnUpdateStatus, 0, 0, lynx::protocol::kUpdatePort);
}

void CLynxDlg::SendSearch()
{
    lynx::protocol::SendSearch(m_reportSocket);
}

bool CLynxDlg::SendChangeIp(const DeviceRecord& record)
{
    return lynx::protocol::SendChangeIp(m_reportSocket, record);
}

bool CLynxDlg::SendToDevice(const std::string& text, uint16_t handle, const char* deviceIp, uint32_t tag)
{
    return lynx::protocol::SendToDevice(text, handle, deviceIp, tag);
}

void CLynxDlg::DropWaitingReports()
{
    const auto isReport = [](const Inbound& in) { return in.port == lynx::protocol::kReportPort; };
    {
        std::lock_guard lock(g_mainDlgMutex);
        std::erase_if(m_inbox, isReport);
    }
    std::erase_if(m_pending, isReport);
}

void CLynxDlg::DrainInbox()
{
    // Reception is live from construction, but nothing may reach the list or
    // the boxes before they exist: until then datagrams wait in the inbox.
    if (!m_bControlsReady)
        return;
    {
        std::lock_guard lock(g_mainDlgMutex);
        for (Inbound& in : m_inbox)
            m_pending.push_back(std::move(in));
        m_inbox.clear();
    }
    // A burst of thousands of reports is applied in slices, so that the window
    // keeps painting between them.
    QElapsedTimer slice;
    slice.start();
    while (!m_pending.empty()) {
        Inbound in = std::move(m_pending.front());
        m_pending.pop_front();
        if (in.port == lynx::protocol::kReportPort)
            OnDeviceReport(in.body.c_str());
        else
            OnUpdateStatusDatagram(in.header, in.body);
        if (slice.elapsed() >= 8 && !m_pending.empty()) {
            QTimer::singleShot(0, this, &CLynxDlg::DrainInbox);
            return;
        }
    }
}
