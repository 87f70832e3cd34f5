// The device list at scale, offscreen: sorting 5000 rows, and 2000 reports
// arriving in one burst while the window keeps painting.
//   build/bin/lynx-bench-list [rows] [burst]
// Prints the median sort times and, for the burst, the time until every row is
// listed and the longest gap between two turns of the UI thread's event loop.
#include "app/CLynxDlg.h"
#include "bench/FakeReport.h"
#include "app/shell/MessageBox.h"
#include "tarn.h"
#include "upgrade/UpgradeFileServer.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

void deliver(int first, int count)
{
    PacketHeader header{};
    header.bodyMarker = '$';
    for (int i = first; i < first + count; ++i) {
        std::string body = lynx::bench::FakeReport(i);
        lynx::protocol::DiscoverySession::ReceiveReport(0, 0, header, static_cast<uint32_t>(body.size()), body.c_str());
    }
}

double medianMs(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QTemporaryDir registry;
    setenv("LYNX_REGISTRY_ROOT", registry.path().toLocal8Bit().constData(), 1);
    setenv("KOVA_CPR_FAIL", "init", 1);  // no file server needed here
    QApplication app(argc, argv);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 5000;
    const int burst = argc > 2 ? std::atoi(argv[2]) : 2000;
    lynx::platform::SetMessageBoxHandler([](const lynx::platform::MessageBoxRequest&) { return 1; });

    auto* dlg = new CLynxDlg;
    dlg->Create();
    dlg->show();
    deliver(0, rows);
    while (dlg->listDevice()->GetItemCount() < rows)
        QCoreApplication::processEvents();

    for (int column : {0, 1, 5}) {
        std::vector<double> times;
        for (int i = 0; i < 5; ++i) {
            QElapsedTimer t;
            t.start();
            dlg->OnLvnColumnclickList(column);
            times.push_back(t.nsecsElapsed() / 1e6);
        }
        std::printf("sort %d rows by column %d: median %.1f ms\n", rows, column, medianMs(times));
    }

    // The burst: one thread hands every report over at once, as the transport's
    // receive thread does; the UI thread's turns are timed meanwhile.
    qint64 longestGap = 0, longestPaint = 0;
    QElapsedTimer sinceLastTurn;
    sinceLastTurn.start();
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, sinceLastTurn.restart());
        QElapsedTimer paint;
        paint.start();
        dlg->repaint();
        longestPaint = std::max(longestPaint, paint.elapsed());
    });
    ticker.start(0);
    QElapsedTimer total;
    total.start();
    std::thread sender(deliver, rows, burst);
    while (dlg->listDevice()->GetItemCount() < rows + burst)
        QCoreApplication::processEvents();
    const double allListed = total.nsecsElapsed() / 1e6;
    sender.join();
    ticker.stop();
    std::printf("burst of %d reports onto %d rows: all listed after %.1f ms, longest UI gap %lld ms (paint %lld ms)\n",
                burst, rows, allListed, static_cast<long long>(longestGap), static_cast<long long>(longestPaint));

    delete dlg;
    StopUpgradeFileServer();
    tarn_ext_Shutdown();
    return 0;
}
