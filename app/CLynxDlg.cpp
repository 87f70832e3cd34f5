// The main window's shell: construction and destruction, window creation, the
// transport, the receive hand-off to the UI thread, and ending the dialog.
#include "app/CLynxDlg.h"

#include "platform/Translation.h"
#include "app/shell/MessageBox.h"
#include "protocol/JsonMessages.h"
#include "protocol/Messages.h"
#include "app/shell/DialogBuilder.h"
#include "app/shell/resource.h"
#include "site/CameraSdk.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSocketNotifier>
#include <QDateTime>
#include <QTimer>

#include <chrono>

int g_bUpgrading = 0;

CLynxDlg::CLynxDlg(QWidget* parent)
    : QDialog(parent),
      m_site(lynx::protocol::DatagramInbox::Wake::EventFd, UpgradeFrontEnd())
{
    // The list hears of the devices first, the window after it.
    m_model = new DeviceListModel(m_site, this);
    m_site.AddObserver(this);
    // The UI thread wakes once for each burst the receive threads hand over.
    m_wakeNotifier = new QSocketNotifier(m_site.Discovery().Inbox().WakeFd(), QSocketNotifier::Read, this);
    connect(m_wakeNotifier, &QSocketNotifier::activated, this, [this] {
        m_site.Discovery().Inbox().ClearWake();
        // A slice now, unless one is due this turn anyway: a burst's later
        // slices come one per turn of the event loop.
        if (!m_bDrainScheduled)
            DrainInbox();
    });
    InitIpTransport();
    lynx::res::EnsureResources();
    m_hIcon = QIcon(QStringLiteral(":/res/" QT_STRINGIFY(IDR_MAINFRAME) ".png"));
    m_brushBk = QBrush(QColor(255, 255, 255));
    m_bSearching = 0;
    g_bUpgrading = 0;
    BringUpCameraSdk();
}

void CLynxDlg::BringUpCameraSdk()
{
    if (const char* failure = lynx::site::BringUpCameraSdk(this)) {
        // This comes before the window exists: no owner.
        lynx::platform::MessageBoxRequest request;
        request.text = QString::fromUtf8(failure);
        request.caption = QStringLiteral("提示");
        lynx::platform::ShowMessageBox(request);
        return;
    }
    StartUpgradeFileServer();
}

CLynxDlg::~CLynxDlg()
{
    delete m_wakeNotifier;
    m_site.RemoveObserver(this);
    // The list observes the engine, which goes before the window's children do.
    delete m_model;
    m_model = nullptr;
    m_site.Table().Clear();
    lynx::site::TakeDownCameraSdk();
}

void CLynxDlg::Create()
{
    if (m_bCreated)
        return;
    m_bCreated = true;
    lynx::res::BuildDialog(*this, lynx::res::MainDialogTemplate(), [](const lynx::res::ControlTemplate& c, QWidget* parent) -> QWidget* {
        if (c.id == IDC_LIST_DEVICE)
            return new CProcessList(parent);
        return nullptr;
    });
    // It opens at its template size and can be resized and maximised.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    BindControls();
    OnInitDialog();
    CaptureTemplateLayout();
    // The first tab-stop control takes the focus, as the framework does for TRUE.
    if (QWidget* first = nextInFocusChain(); first && first != this)
        first->setFocus();
    // What arrived before the controls existed (while a start-up message was
    // up, say) is applied now.
    m_bControlsReady = true;
    ScheduleDrain();
    // Told once the window is up, on top of it: everything that needs no port
    // (the list, export, the address dialogs) still works.
    if (m_site.Discovery().PortTaken())
        QTimer::singleShot(0, this, [this] { lynx::platform::ShowMessageBox(this, QString::fromUtf8(lynx::protocol::msg::kPortsTaken)); });
}

int CLynxDlg::DoModal()
{
    Create();
    return exec();
}

void CLynxDlg::BindControls()
{
    m_listDevice = lynx::res::GetDlgItemAs<CProcessList>(*this, IDC_LIST_DEVICE);
    m_listDevice->setModel(m_model);
    m_btnSelectAll = lynx::res::GetDlgItemAs<QCheckBox>(*this, IDC_CHK_SELECT_ALL);
    m_comboProtocol = lynx::res::GetDlgItemAs<QComboBox>(*this, IDC_COMBO_PROTOCOL);
    m_chkHideSameIp = lynx::res::GetDlgItemAs<QCheckBox>(*this, IDC_CHK_HIDE_SAME_IP);
    m_chkHideSameMac = lynx::res::GetDlgItemAs<QCheckBox>(*this, IDC_CHK_HIDE_SAME_MAC);
    auto button = [this](int id) { return lynx::res::GetDlgItemAs<QAbstractButton>(*this, id); };
    connect(button(IDC_BTN_SEARCH), &QAbstractButton::clicked, this, &CLynxDlg::OnBnClickedSearch);
    connect(m_listDevice, &CProcessList::rightClicked, this, &CLynxDlg::OnNMRClickList);
    connect(button(IDC_BTN_OPEN), &QAbstractButton::clicked, this, &CLynxDlg::OnBnClickedOpen);
    connect(m_btnSelectAll, &QAbstractButton::clicked, this, &CLynxDlg::OnBnClickedSelectAll);
    connect(button(IDC_BTN_MODIFY_IP), &QAbstractButton::clicked, this, &CLynxDlg::OnBnClickedModifyIp);
    connect(button(IDC_BTN_MUL_MODIFY_IP), &QAbstractButton::clicked, this, &CLynxDlg::OnBnClickedMulModifyIp);
    connect(button(IDC_BTN_BATCH_UPGRADE), &QAbstractButton::clicked, this, &CLynxDlg::OnBnClickedBatchUpgrade);
    connect(m_listDevice, &CProcessList::columnClicked, this, &CLynxDlg::OnLvnColumnclickList);
}

bool CLynxDlg::OnInitDialog()
{
    setWindowIcon(m_hIcon);
    static constexpr int kColumnWidths[lynx::site::kColumnCount] = {50, 110, 120, 100, 100, 120, 230, 160};
    for (int i = 0; i < lynx::site::kColumnCount; ++i)
        m_listDevice->setColumnWidth(i, kColumnWidths[i]);
    m_comboProtocol->addItem(QStringLiteral("TARN"));
    m_comboProtocol->setCurrentIndex(0);
    lynx::res::GetDlgItemAs<QLineEdit>(*this, IDC_EDIT_SEARCH_SECONDS)->setText(QString::number(12));
    lynx::res::GetDlgItemAs<QCheckBox>(*this, IDC_CHK_HIDE_SAME_IP)->setChecked(true);
    lynx::res::GetDlgItemAs<QCheckBox>(*this, IDC_CHK_HIDE_SAME_MAC)->setChecked(true);
    for (QWidget* control : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        OnCtlColor(control);
    OnCtlColor(this);
    ReadSettings();
    ApplyListCapacity();
    // The setting's evident purpose: a larger receive buffer, for sites whose
    // bursts of reports outgrow the default.
    lynx::protocol::SetReceiveBufferSize(m_dwMaxUdpRecvBufSize);
    g_bUpgrading = 0;
    return true;
}

void CLynxDlg::OnClose()
{
    m_site.StopSearch();
    m_site.StopWatch();
    lynx::site::StopCameraSdkSearch(this);
    m_bClosing = true;
    reject();
}

void CLynxDlg::closeEvent(QCloseEvent* event)
{
    if (!m_bClosing && isVisible()) {
        if (!MayEnd()) {
            event->ignore();
            return;
        }
        OnClose();
    }
    event->accept();
}

bool CLynxDlg::BatchInProgress() const
{
    return g_bUpgrading != 0 || upgradeBatch().Sending() || !upgradeBatch().Settled();
}

std::vector<CLynxDlg::Work> CLynxDlg::WorkInProgress() const
{
    std::vector<Work> running;
    if (BatchInProgress())
        running.push_back(Work::UpgradeBatch);
    if (m_bInAddressBatch)
        running.push_back(Work::AddressBatch);
    if (awaitingAddressChanges())
        running.push_back(Work::AddressConfirmation);
    if (monitoring())
        running.push_back(Work::Watch);
    if (siteFileLoaded())
        running.push_back(Work::SiteFile);
    return running;
}

namespace {

const char* WhatEndingStops(CLynxDlg::Work work)
{
    switch (work) {
    case CLynxDlg::Work::UpgradeBatch:
        return "正在批量升级，退出将中止升级。";
    case CLynxDlg::Work::AddressBatch:
        return "正在批量修改IP，退出将中止修改。";
    case CLynxDlg::Work::AddressConfirmation:
        return "正在等待设备在新地址应答，退出将不再确认修改。";
    case CLynxDlg::Work::Watch:
        return "正在持续监视，退出将停止监视。";
    case CLynxDlg::Work::SiteFile:
        return "已载入站点清单，退出将卸载清单。";
    }
    return "";
}

} // namespace

bool CLynxDlg::MayEnd()
{
    const std::vector<Work> running = WorkInProgress();
    if (!running.empty()) {
        QStringList lines;
        for (Work work : running)
            lines << lynx::platform::Tr(WhatEndingStops(work));
        lines << lynx::platform::Tr("确定退出吗？");
        lynx::platform::MessageBoxRequest question;
        question.owner = this;
        question.text = lines.join(QStringLiteral("\n"));
        question.caption = QStringLiteral("提示");
        question.buttons = lynx::platform::MB_OKCANCEL;
        question.icon = lynx::platform::MB_ICONQUESTION;
        if (lynx::platform::ShowMessageBox(question) != lynx::platform::IDOK)
            return false;
    }
    m_bEnding = true;
    return true;
}

void CLynxDlg::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        // Esc ends the dialog without the close steps, once the user has
        // agreed to stop what is in progress.
        if (MayEnd())
            reject();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Enter never ends the program: a focused push button is clicked, and
        // in the seconds box Enter starts the search that was just typed;
        // anywhere else it does nothing.
        if (auto* pushButton = qobject_cast<QPushButton*>(focusWidget())) {
            pushButton->click();
        } else if (focusWidget() == lynx::res::GetDlgItem(*this, IDC_EDIT_SEARCH_SECONDS)) {
            if (!m_bSearching)
                OnBnClickedSearch();
        }
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void CLynxDlg::InitIpTransport()
{
    lynx::protocol::InitTransport();
    StartUdpServers();
}

void CLynxDlg::StartUdpServers()
{
    m_site.Discovery().StartServers();
}

void CLynxDlg::ScheduleDrain()
{
    // One slice per turn of the event loop, however the wake-ups come: the
    // turn in between paints.
    if (m_bDrainScheduled)
        return;
    m_bDrainScheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_bDrainScheduled = false;
        DrainInbox();
    });
}

namespace {

constexpr std::chrono::milliseconds kDrainSlice(2);

} // namespace

void CLynxDlg::DrainInbox()
{
    // Reception is live from construction, but nothing may reach the list or
    // the boxes before they exist: until then datagrams wait in the inbox.
    if (!m_bControlsReady)
        return;
    // The reports come parsed (the receive thread parses them): what
    // is left here is the table's insert, about a microsecond each. A burst of
    // thousands is applied in slices that keep each turn of the event loop
    // short, the paint included: 2 ms of reports, then their rows listed with
    // one insertion.
    // One answer time for the slice: its reports came within its 2 ms.
    const bool more = m_site.Drain(DuplicateBoxes(), kDrainSlice, QDateTime::currentMSecsSinceEpoch());
    SayWhenListIsFull();
    if (more)
        ScheduleDrain();
}

void CLynxDlg::DevicesAdded(int, int)
{
    ScheduleSiteRefresh();
}

void CLynxDlg::DevicesCleared()
{
    ScheduleSiteRefresh();
}

void CLynxDlg::DeviceChanged(int)
{
    ScheduleSiteRefresh();
}

void CLynxDlg::ArmEngineTick(std::optional<int> atMostMs)
{
    // One tick pending, at the earliest time anything of the engine wants it:
    // an address change's round or end, the version check, the batch.
    if (!m_engineTimer) {
        m_engineTimer = new QTimer(this);
        m_engineTimer->setSingleShot(true);
        // A coarse timer may fire early; the engine would only ask again.
        m_engineTimer->setTimerType(Qt::PreciseTimer);
        connect(m_engineTimer, &QTimer::timeout, this, &CLynxDlg::EngineTick);
    }
    std::optional<std::chrono::milliseconds> wait = m_site.NextTick(lynx::site::Site::Clock::now());
    if (atMostMs)
        wait = std::min(wait.value_or(std::chrono::milliseconds(*atMostMs)), std::chrono::milliseconds(std::max(0, *atMostMs)));
    if (!wait)
        return;
    const int ms = static_cast<int>(std::min<std::chrono::milliseconds::rep>(wait->count(), 24 * 3600 * 1000));
    if (!m_engineTimer->isActive() || m_engineTimer->remainingTime() > ms)
        m_engineTimer->start(ms);
}

void CLynxDlg::EngineTick()
{
    const bool wasSending = m_site.Upgrade().Batch().Sending();
    m_site.Tick(lynx::site::Site::Clock::now());
    if (wasSending && !m_site.Upgrade().Batch().Sending())
        UpgradeSendingEnded();
    ArmEngineTick();
}
