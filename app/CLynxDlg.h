// The main window: the device list, the search controls, the address commands
// and the batch upgrade. It owns the site engine it drives (the devices, their
// ticks and statuses, the upgrade run) for the life of the process, and shows
// the engine's devices through a DeviceListModel in its CProcessList.
#pragma once

#include "app/CProcessList.h"
#include "app/DeviceListModel.h"
#include "app/shell/resource.h"
#include "site/ReaddressFlow.h"
#include "site/Site.h"
#include "site/SiteFile.h"
#include "site/VersionCheck.h"
#include "site/WatchFlow.h"

#include <QBrush>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QIcon>
#include <QImage>
#include <QString>
#include <QTime>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// A batch upgrade is being sent; column sorting is refused while it is set.
extern int g_bUpgrading;

class CLynxDlg : public QDialog, private lynx::site::SiteObserver {
    Q_OBJECT
public:
    static constexpr int IDD = IDD_LYNX_DIALOG;

    explicit CLynxDlg(QWidget* parent = nullptr);
    ~CLynxDlg() override;

    // Creates the window's controls and runs OnInitDialog (once).
    void Create();
    // Create, then run modally; returns the modal result (1 OK, 2 Cancel).
    int DoModal();

    // Start-up and lifecycle.
    bool OnInitDialog();
    void OnClose();
    // A batch is being sent, or some of its cameras have not reported yet.
    bool BatchInProgress() const;
    // What ending the window now would stop, in the order the question names
    // it: Esc and the title bar's X ask first while any of it is in progress.
    enum class Work { UpgradeBatch, AddressBatch, AddressConfirmation, Watch, SiteFile };
    std::vector<Work> WorkInProgress() const;

    // Transport.
    void InitIpTransport();
    void StartUdpServers();

    // Search and the device table (UI thread).
    void OnBnClickedSearch();
    // The search time-out, the entered seconds plus one, told by the engine.
    void SearchEnded() override;
    // The device shown in a row (its record), null for none.
    DeviceRecord* GetDeviceByRow(int row);

    // The list.
    void OnLvnColumnclickList(int column);
    void OnBnClickedSelectAll();
    void OnNMRClickList(int row);
    void OnMenuIeBrowse();
    void OnMenuMoreInfo();
    void OnBnClickedOpen();
    static constexpr const char* kNoBrowser = "无法打开网页：没有找到浏览器。";

    // Address changes.
    void OnBnClickedModifyIp();
    void OnBnClickedMulModifyIp();
    // Broadcasts one address change, on every card; false when it went out on none.
    bool ChangeDeviceIp(const QString& mac, const QString& ip, const QString& gateway, const QString& mask);
    // A change counts once its camera answers at the new address: the window
    // searches for it again and again, for ConfirmSeconds (DWORD, key
    // Software\Kova\Harbor; default 60), its row showing the wait.
    // Changes are awaited, or their outcome is about to be told.
    bool awaitingAddressChanges() const { return m_site.Readdressing() != nullptr; }

    // Batch upgrade.
    void OnBnClickedBatchUpgrade();
    void SendUpdateCommands();
    void UpdateUpgradeSummary();
    // After the last request, a camera is given UpgradeWaitSeconds (DWORD,
    // key Software\Kova\Harbor; default 600) to report; one that has not by
    // then ends "未报告升级结果", and the batch completes.
    static constexpr int kDefaultUpgradeWaitSeconds = 600;
    // Starts the upgrade-file server (only once the camera SDK is up).
    void StartUpgradeFileServer();

    // Painting and settings.
    void ReadSettings();
    void OnPaint();
    static bool LoadImageFromResource(QImage* image, int id, const char* type);
    QBrush OnCtlColor(QWidget* control);

    // Test access to state the window shows.
    int searchSeconds() const { return m_nSearchSeconds; }
    bool isSearching() const { return m_bSearching != 0; }
    int deviceCount() const { return m_site.Count(); }
    lynx::site::Site& site() { return m_site; }
    const lynx::site::Site& site() const { return m_site; }
    CProcessList* listDevice() const { return m_listDevice; }
    DeviceListModel* listModel() const { return m_model; }
    int menuRow() const { return m_nMenuRow; }
    uint32_t maxUdpRecvBufSize() const { return m_dwMaxUdpRecvBufSize; }
    uint16_t reportSocket() const { return m_site.Discovery().ReportSocket(); }
    bool fileServerStarted() const { return m_bFileServerStarted; }
    int upgradeTotal() const { return upgradeBatch().total(); }
    int upgradeDone() const { return upgradeBatch().done(); }
    int upgradeSucceeded() const { return upgradeBatch().succeeded(); }
    int upgradeFailed() const { return upgradeBatch().failed(); }
    const lynx::upgrade::UpgradeBatch& upgradeBatch() const { return m_site.Upgrade().Batch(); }

    // For commissioning a site (CLynxDlgSite.cpp): the window grows with its frame,
    // marks addresses held by two cameras, and exports the list.
    void OnMenuExportList();
    // When a batch has ended, the cameras that reported success are searched
    // for again after their restart, and a row whose camera answers with
    // another software version shows it. Off when the registry value
    // VerifyAfterUpgrade (DWORD, key Software\Kova\Harbor) is 0, or the
    // environment has LYNX_VERIFY_AFTER_UPGRADE=0 (1 forces it on); the delay is
    // VerifyRebootSeconds (default 90), the search after it lasts
    // VerifySearchSeconds (default 60), a request every 5 seconds.
    void StartVersionCheck();
    // The rows the list holds at most: the registry value MaxDevices (DWORD,
    // key Software\Kova\Harbor; 0: no limit), 65536 without it. Reports
    // beyond are not listed, and a box says so once per search.
    void ApplyListCapacity();
    static constexpr const char* kListFull = "设备列表已满，之后的应答不再列出。台数上限：";
    bool versionCheckRunning() const { return m_site.VersionChecking(); }

    // A site file against the list, and watching the site (CLynxDlgWatch.cpp).
    void OnMenuLoadSiteFile();
    void OnMenuUnloadSiteFile();
    // "持续监视" on or off: a search every interval, without clearing.
    void OnMenuMonitor();
    static constexpr int kMonitorIntervalMs = 10000;
    static void SetMonitorIntervalForTesting(int milliseconds);  // 0 restores it
    bool siteFileLoaded() const { return m_siteFile.has_value(); }
    bool monitoring() const { return m_site.Watching(); }
    // Classifies the list against the site file now (it does so by itself
    // shortly after each change).
    void RefreshSiteView();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // What the site engine tells the window.
    void DevicesAdded(int first, int count) override;
    void DevicesCleared() override;
    void DeviceChanged(int number) override;
    void UpgradeSummary(const std::string& text) override;
    void UpgradingChanged(bool upgrading) override;
    void UpgradeComplete() override;
    std::string SummaryFormat() const override;
    void UpgradeReviewDue(int milliseconds) override;
    // The engine's tick, from the window's one timer: what is due sent, the
    // held notices and the downloads looked at, the address changes' rounds
    // and the version check's searches. Armed for the earliest time the
    // engine wants (and, asked by the batch, no later than atMostMs).
    void ArmEngineTick(std::optional<int> atMostMs = std::nullopt);
    void EngineTick();
    // The last request has gone out: the summary, and the cameras' wait.
    void UpgradeSendingEnded();

    // A DWORD setting under Software\Kova\Harbor, when it is set.
    static std::optional<uint32_t> SettingDword(const char* name);
    // The batch's wait for its cameras' reports is over (UpgradeWaitSeconds).
    void UpgradeWaitOver();
    // Esc and the title bar's X: whether the window may end, asked of the
    // user while work is in progress.
    bool MayEnd();
    // Finds the controls the window works with, and connects their signals.
    void BindControls();
    void BringUpCameraSdk();
    // Applies what the receive threads handed over, a burst in slices.
    void DrainInbox();
    void ScheduleDrain();
    lynx::protocol::DuplicateFilter DuplicateBoxes() const;
    // The window's side of the upgrade run (CLynxDlgUpgrade.cpp).
    lynx::upgrade::UpgradeRun::FrontEnd UpgradeFrontEnd();
    // The template's geometry of every control, taken once the dialog is built.
    void CaptureTemplateLayout();
    // The site's counts line whole, however long its text is in the language
    // chosen: wrapped within the top row, the list moved down below it.
    void PlaceSiteCounts();
    // The address commands' side (CLynxDlgAddress.cpp): the single change
    // goes on from a row once the change before it is settled; the changes
    // sent are confirmed by the steps, which a timer and the reports move on.
    void ModifyIpFrom(int row);
    bool SayIfAwaitingChanges();
    // Every conflict of the changes (an address another camera holds, one
    // given twice) shown, and going on only when the user agrees.
    bool ConflictsAccepted(const std::vector<lynx::site::AddressChange>& changes);
    void BeginReaddress(bool batch);
    // The engine has no change awaited any more: its outcome told from the loop.
    void ReaddressEnded() override;
    void TellReaddressOutcome();
    // A box, once per search, when reports were not listed for the capacity.
    void SayWhenListIsFull();
    // Opens a device's web page: false when no browser could be started (a
    // launcher that finds none later says so itself, through SayNoBrowser).
    bool OpenWebPage(const DeviceRecord& record);
    void SayNoBrowser();
    // Why the PC cannot reach the device of a row at its address ("IP：
    // reason"); empty when it can. Its web page would never load.
    QString UnreachableAt(int row) const;
    // Whether answer times are shown follows the site file and the watch.
    void SiteModeChanged();
    // Says so when another program holds the report port (true).
    bool SayIfReportPortTaken();
    // A watch's round ended (the engine's tick): the line and the site's view.
    void WatchRoundEnded(bool searchSent) override;
    void StopMonitor();
    // The line that says the watch is on: its interval and its last search.
    void ShowWatchLine();
    void ScheduleSiteRefresh();
    static constexpr int kSiteRefreshMs = 200;

    // The engine, and the list's model over it.
    lynx::site::Site m_site;
    DeviceListModel* m_model = nullptr;

    // The window's state.
    QIcon m_hIcon;
    CProcessList* m_listDevice = nullptr;
    int m_nMenuRow = -1;  // the row the context menu was opened on, -1 below the last
    QCheckBox* m_btnSelectAll = nullptr;
    QBrush m_brushBk;
    int m_nSearchSeconds = 0;
    uint32_t m_dwMaxUdpRecvBufSize = 2097152;
    int m_bSearching = 0;
    QString m_strUpgradeFile;
    QComboBox* m_comboProtocol = nullptr;

    // The window's own bookkeeping.
    bool m_bCreated = false;
    bool m_bControlsReady = false;  // Create has run to its end: datagrams may be applied
    QCheckBox* m_chkHideSameIp = nullptr;
    QCheckBox* m_chkHideSameMac = nullptr;
    bool m_bClosing = false;
    bool m_bEnding = false;          // the user chose to end the window: a batch sends nothing more
    bool m_bInAddressBatch = false;  // the address plan's changes are going out
    bool m_bReaddressBatch = false;     // the plan's changes: one message at the end
    int m_nModifyNextRow = -1;          // the single change goes on here once settled; -1: none
    bool m_bBrowserBoxUp = false;  // "no browser" is being shown
    bool m_bListFullTold = false;  // the full list was said in this search
    bool m_bFileServerStarted = false;
    class QSocketNotifier* m_wakeNotifier = nullptr;  // the inbox's eventfd
    bool m_bDrainScheduled = false;
    QImage m_logo;                // decoded and premultiplied at the first paint
    QImage m_logoScaled;          // m_logo stretched to the placeholder's size
    bool m_bLogoLoaded = false;
    class QTimer* m_engineTimer = nullptr;  // the engine's next tick
    class QTimer* m_upgradeWaitTimer = nullptr;  // the batch's wait for its cameras' reports
    QSize m_templateSize;                // the dialog at its template size
    struct TemplatePlace {
        QWidget* control = nullptr;
        QRect rect;               // at the template size
        bool grows = false;       // by the width and height gained (the list)
        bool movesDown = false;   // below the list
        bool movesRight = false;  // in the right half
        bool widens = false;      // by the width gained (the upgrade file's name)
    };
    std::vector<TemplatePlace> m_templateLayout;
    int m_templateStatusWidth = 0;
    // The site file loaded, and the watch while "持续监视" is on.
    std::optional<lynx::site::SiteFile> m_siteFile;
    class QTimer* m_siteRefreshTimer = nullptr;
    // A watched camera gone dark is grey until it answers again.
    class MonitorSink : public lynx::site::WatchSink {
    public:
        explicit MonitorSink(CLynxDlg& dlg) : m_dlg(dlg) {}
        void Event(const lynx::site::WatchEvent& event) override;

    private:
        CLynxDlg& m_dlg;
    };
    std::unique_ptr<lynx::site::Watch> m_watch;
    std::unique_ptr<MonitorSink> m_monitorSink;
    bool m_bMonitorSent = false;  // the round's search went out
    std::optional<QTime> m_lastWatchSearch;  // when the last round whose search went out ended
};
