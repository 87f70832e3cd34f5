// The window's side of discovery at scale: run inside a virtual LAN whose
// simulated cameras answer in one burst (bench/discovery_window.sh does it).
// Clicks "搜索" once, waits for the time-out, and prints how many rows were
// listed, when the last one was (wall clock, to set against the simulator's
// "last report sent"), and the longest gap between two turns of the UI
// thread's event loop, each turn repainting the window, while rows arrived.
// With a second argument SEARCHES it searches that many times back to back (a
// soak) and prints the resident memory and open descriptors before the first
// search, after each tenth, and at the end. With LYNX_BENCH_SITE=FILE it
// loads that site file first; with LYNX_BENCH_WATCH_SECONDS=N it watches
// (持续监视, every 10 s) for N seconds instead of searching, and prints the
// rows shown offline at the end too.
#include "app/CLynxDlg.h"
#include "app/shell/MessageBox.h"
#include "app/shell/DialogBuilder.h"
#include "app/shell/resource.h"
#include "app/shell/FileDialog.h"
#include "app/shell/PopupMenu.h"
#include "tarn.h"
#include "upgrade/UpgradeFileServer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>
#include <cstdio>

namespace {

long StatusKiB(const char* field)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::string(field).size());
    return -1;
}

long OpenDescriptors()
{
    long n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

void PrintSoakLine(const char* when, int searches, int listed)
{
    std::printf("soak %-6s searches %4d listed %5d RSS %6ld KiB fds %3ld\n", when, searches, listed,
                StatusKiB("VmRSS:"), OpenDescriptors());
    std::fflush(stdout);
}

// Chooses a menu entry of the list's context menu, as a right-click would.
void ChooseFromMenu(CLynxDlg& dlg, int entry)
{
    lynx::platform::SetPopupMenuHandler([entry](const lynx::platform::MenuItems&) { return entry; });
    dlg.OnNMRClickList(-1);
}

int OfflineRows(CLynxDlg& dlg)
{
    int offline = 0;
    for (int row = 0; row < dlg.listDevice()->GetItemCount(); ++row)
        offline += dlg.listDevice()->GetItemText(row, 7) == QStringLiteral("离线");
    return offline;
}

}  // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QTemporaryDir registry;
    setenv("LYNX_REGISTRY_ROOT", registry.path().toLocal8Bit().constData(), 1);
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 4;
    const int searches = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
    int searched = 0;
    lynx::platform::SetMessageBoxHandler([](const lynx::platform::MessageBoxRequest&) { return 1; });

    auto* dlg = new CLynxDlg;
    dlg->Create();
    dlg->show();
    lynx::res::GetDlgItemAs<QLineEdit>(*dlg, IDC_EDIT_SEARCH_SECONDS)->setText(QString::number(seconds));
    if (const char* site = std::getenv("LYNX_BENCH_SITE")) {
        lynx::platform::SetFileDialogHandler([site](const lynx::platform::FileDialogRequest&) { return QString(site); });
        ChooseFromMenu(*dlg, ID_MENU_LOAD_SITE);
    }
    const int watchSeconds = std::getenv("LYNX_BENCH_WATCH_SECONDS") ? std::atoi(std::getenv("LYNX_BENCH_WATCH_SECONDS")) : 0;

    int lastCount = 0;
    double lastRowAt = 0;
    qint64 longestGap = 0, longestPaint = 0;
    std::vector<qint64> gaps;
    QElapsedTimer sinceLastTurn;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const int count = dlg->listDevice()->GetItemCount();
        if (count > 0 && lastCount < count) {
            // Gaps count only while rows are arriving.
            longestGap = std::max(longestGap, sinceLastTurn.elapsed());
            gaps.push_back(sinceLastTurn.elapsed());
            lastRowAt = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
        }
        lastCount = count;
        sinceLastTurn.restart();
        QElapsedTimer paint;
        paint.start();
        dlg->repaint();
        if (count > 0 && count < 10000)
            longestPaint = std::max(longestPaint, paint.elapsed());
        if (watchSeconds == 0 && !dlg->isSearching()) {
            if (++searched >= searches) {
                QCoreApplication::quit();
                return;
            }
            if (searched % 10 == 0)
                PrintSoakLine("after", searched, count);
            lastCount = 0;
            lynx::res::GetDlgItemAs<QPushButton>(*dlg, IDC_BTN_SEARCH)->click();
        }
    });
    if (searches > 1)
        PrintSoakLine("before", 0, 0);
    if (watchSeconds > 0) {
        ChooseFromMenu(*dlg, ID_MENU_MONITOR);
        QTimer::singleShot(watchSeconds * 1000, &app, &QCoreApplication::quit);
    } else {
        lynx::res::GetDlgItemAs<QPushButton>(*dlg, IDC_BTN_SEARCH)->click();
    }
    sinceLastTurn.start();
    ticker.start(0);
    app.exec();
    if (searches > 1)
        PrintSoakLine("end", searched, dlg->listDevice()->GetItemCount());
    std::printf("listed %d\n", dlg->listDevice()->GetItemCount());
    if (watchSeconds > 0)
        std::printf("offline %d\n", OfflineRows(*dlg));
    std::printf("timing: last row listed at %.6f\n", lastRowAt);
    std::printf("longest UI gap while rows arrived: %lld ms\n", static_cast<long long>(longestGap));
    // The window's peak memory, holding every row it listed.
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            std::printf("peak RSS: %s\n", line.substr(6).c_str());
    std::sort(gaps.begin(), gaps.end());
    if (!gaps.empty())
        std::fprintf(stderr, "turns %zu, median gap %lld ms, 95th %lld ms, longest paint %lld ms\n", gaps.size(),
                     static_cast<long long>(gaps[gaps.size() / 2]), static_cast<long long>(gaps[gaps.size() * 95 / 100]),
                     static_cast<long long>(longestPaint));
    delete dlg;
    StopUpgradeFileServer();
    tarn_ext_Shutdown();
    return 0;
}
