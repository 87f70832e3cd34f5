// The window against a site's plan and over time: a site file loaded from the
// list's context menu marks each device's state against the plan and lists
// the planned cameras not heard as grey rows, with the counts in one line;
// "持续监视" searches again every interval without clearing, and greys a
// camera silent for three searches until it answers again, while a line gives
// its interval and its last search. With neither, the window is the plain list.
#include "app/CLynxDlg.h"

#include "app/shell/DialogBuilder.h"
#include "app/shell/FileDialog.h"
#include "app/shell/MessageBox.h"
#include "app/shell/resource.h"
#include "platform/Translation.h"
#include "protocol/Messages.h"

#include <QTime>
#include <QTimer>

namespace {

int& MonitorIntervalMs()
{
    static int interval = CLynxDlg::kMonitorIntervalMs;
    return interval;
}

// The faults of a refused site file shown in one box: the first ones, and how
// many there are in all.
QString FaultsText(const std::vector<lynx::site::SiteFileFault>& faults)
{
    constexpr size_t kShown = 20;
    QStringList lines;
    for (size_t i = 0; i < faults.size() && i < kShown; ++i)
        lines << QString::fromStdString(lynx::site::FaultText(faults[i]));
    if (faults.size() > kShown)
        lines << lynx::platform::Tr("……共 %1 处错误").arg(faults.size());
    return lynx::platform::Tr("站点清单有错误，未载入：") + QStringLiteral("\n") + lines.join(QStringLiteral("\n"));
}

// "应有 200 台 · 正常 196 · 地址不符 1 · 未找到 3 · 多余 2": the differences
// only where there are some.
QString CountsLine(const lynx::site::AcceptanceSummary& s)
{
    QStringList parts{lynx::platform::Tr("应有 %1 台").arg(s.expected), lynx::platform::Tr("正常 %1").arg(s.ok)};
    const std::pair<const char*, size_t> differences[] = {{"地址不符 %1", s.address}, {"版本不符 %1", s.version},
                                                          {"地址冲突 %1", s.conflict}, {"未找到 %1", s.missing},
                                                          {"多余 %1", s.unexpected}};
    for (const auto& [format, count] : differences)
        if (count > 0)
            parts << lynx::platform::Tr(format).arg(count);
    return parts.join(QStringLiteral(" · "));
}

// "持续监视中：每 10 秒搜索一次，上次搜索 14:05:12": the interval, and the end of
// the last round whose search went out, or what the round under way is doing.
QString WatchLine(int intervalMs, bool searchSent, const std::optional<QTime>& lastSearch)
{
    const QString every = QString::number(intervalMs / 1000.0);
    if (!searchSent)
        return lynx::platform::Tr("持续监视中：每 %1 秒搜索一次，搜索未能发出").arg(every);
    if (!lastSearch)
        return lynx::platform::Tr("持续监视中：每 %1 秒搜索一次，正在搜索").arg(every);
    return lynx::platform::Tr("持续监视中：每 %1 秒搜索一次，上次搜索 %2")
        .arg(every, lastSearch->toString(QStringLiteral("HH:mm:ss")));
}

} // namespace

void CLynxDlg::MonitorSink::Event(const lynx::site::WatchEvent& event)
{
    if (event.kind != lynx::site::WatchEventKind::Disappeared && event.kind != lynx::site::WatchEventKind::Returned)
        return;
    if (const int number = m_dlg.m_site.WatchedNumberOf(event.mac))
        m_dlg.m_model->SetOffline(number, event.kind == lynx::site::WatchEventKind::Disappeared);
    m_dlg.ScheduleSiteRefresh();
}

void CLynxDlg::SetMonitorIntervalForTesting(int milliseconds)
{
    MonitorIntervalMs() = milliseconds > 0 ? milliseconds : kMonitorIntervalMs;
}

void CLynxDlg::OnMenuLoadSiteFile()
{
    lynx::platform::FileDialogRequest request;
    request.parent = this;
    request.filter = QStringLiteral("(*.csv)|*.csv|");
    const QString path = lynx::platform::GetOpenFileName(request);
    if (path.isEmpty())
        return;
    std::vector<lynx::site::SiteFileFault> faults;
    std::optional<lynx::site::SiteFile> file = lynx::site::ReadSiteFile(path.toStdString(), &faults);
    if (!file) {
        // The file loaded before, if any, stays.
        lynx::platform::ShowMessageBox(this, FaultsText(faults));
        return;
    }
    const bool readAsCp936 = file->readAsCp936;
    m_siteFile = std::move(file);
    SiteModeChanged();
    RefreshSiteView();
    if (readAsCp936)
        lynx::platform::ShowMessageBox(this, lynx::platform::Tr(lynx::site::kReadAsCp936));
}

void CLynxDlg::OnMenuUnloadSiteFile()
{
    m_siteFile.reset();
    m_model->SetAcceptance(std::nullopt);
    SiteModeChanged();
    if (QWidget* counts = lynx::res::GetDlgItem(*this, IDC_STATIC_SITE_COUNTS))
        counts->setProperty("text", QString());
    PlaceSiteCounts();
}

void CLynxDlg::OnMenuMonitor()
{
    if (monitoring()) {
        StopMonitor();
        return;
    }
    StartUdpServers();
    if (SayIfReportPortTaken())
        return;
    m_watch = std::make_unique<lynx::site::Watch>();
    m_monitorSink = std::make_unique<MonitorSink>(*this);
    // The engine's tick ends each round and sends the next one's search.
    m_bMonitorSent = m_site.StartWatch(*m_watch, *m_monitorSink, std::chrono::milliseconds(MonitorIntervalMs()),
                                       lynx::site::Site::Clock::now());
    ArmEngineTick();
    SiteModeChanged();
    m_lastWatchSearch.reset();
    ShowWatchLine();
    if (!m_bMonitorSent)
        lynx::platform::ShowMessageBox(this, QString::fromUtf8(lynx::protocol::msg::kSearchSendFailed));
}

void CLynxDlg::StopMonitor()
{
    m_site.StopWatch();
    m_watch.reset();
    m_monitorSink.reset();
    m_model->ClearOffline();
    SiteModeChanged();
    ScheduleSiteRefresh();
    ShowWatchLine();
}

void CLynxDlg::WatchRoundEnded(bool searchSent)
{
    if (searchSent)
        m_lastWatchSearch = QTime::currentTime();
    m_bMonitorSent = m_site.WatchSearchSent();
    ShowWatchLine();
    RefreshSiteView();
}

void CLynxDlg::ShowWatchLine()
{
    const QString line = monitoring() ? WatchLine(MonitorIntervalMs(), m_bMonitorSent, m_lastWatchSearch) : QString();
    if (QWidget* label = lynx::res::GetDlgItem(*this, IDC_STATIC_WATCH_STATUS)) {
        label->setProperty("text", line);
        label->setToolTip(line);
    }
}

void CLynxDlg::SiteModeChanged()
{
    // Answer times matter against a plan or over time; the plain list keeps
    // its tool tips as they were.
    m_model->ShowAnswerTimes(m_siteFile.has_value() || monitoring());
}

void CLynxDlg::ScheduleSiteRefresh()
{
    if (!m_siteFile)
        return;
    if (!m_siteRefreshTimer) {
        m_siteRefreshTimer = new QTimer(this);
        m_siteRefreshTimer->setSingleShot(true);
        connect(m_siteRefreshTimer, &QTimer::timeout, this, &CLynxDlg::RefreshSiteView);
    }
    // A burst of reports is classified once, not once a slice.
    if (!m_siteRefreshTimer->isActive())
        m_siteRefreshTimer->start(kSiteRefreshMs);
}

void CLynxDlg::RefreshSiteView()
{
    if (m_siteRefreshTimer)
        m_siteRefreshTimer->stop();
    if (!m_siteFile)
        return;
    // A camera gone dark counts as not there.
    lynx::site::AcceptanceResult result = lynx::site::CheckAcceptance(
        *m_siteFile, m_site.Table(), {}, [this](int number) { return !m_model->Offline(number); });
    const QString counts = CountsLine(result.summary);
    m_model->SetAcceptance(std::move(result));
    if (QWidget* label = lynx::res::GetDlgItem(*this, IDC_STATIC_SITE_COUNTS)) {
        label->setProperty("text", counts);
        label->setToolTip(counts);
    }
    PlaceSiteCounts();
}
