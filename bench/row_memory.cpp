// Memory held per listed camera: lynx-cli's device table, and the window's
// list (offscreen), each sent one well-formed report per made-up camera.
//   build/bin/lynx-bench-row-memory [reports]
// The table takes every report; the window stops at its list's capacity.
// Prints, for each, the heap the rows took (what malloc hands out, mapped
// blocks included) and the process's resident memory growth, per row.
#include "app/CLynxDlg.h"
#include "bench/FakeReport.h"
#include "app/shell/MessageBox.h"
#include "protocol/DeviceTable.h"
#include "tarn.h"
#include "upgrade/UpgradeFileServer.h"

#include <QApplication>
#include <QTemporaryDir>

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

size_t heapBytes()
{
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

size_t residentBytes()
{
    std::ifstream statm("/proc/self/statm");
    size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * 4096;
}

void print(const char* what, int rows, size_t heapBefore, size_t rssBefore)
{
    const double heap = static_cast<double>(heapBytes() - heapBefore);
    const double rss = static_cast<double>(residentBytes()) - static_cast<double>(rssBefore);
    std::printf("%s, %d rows: heap %.1f MB (%.0f bytes a row), resident +%.1f MB (%.0f bytes a row)\n", what, rows,
                heap / 1e6, heap / rows, rss / 1e6, rss / rows);
}

} // namespace

int main(int argc, char** argv)
{
    const int rows = argc > 1 ? std::atoi(argv[1]) : 50000;

    const size_t heapAtStart = heapBytes();
    {
        // As a search fills it: every report a new camera, from its own address.
        lynx::protocol::DeviceTable table;
        table.SetCapacity(0);
        const size_t heapBefore = heapBytes(), rssBefore = residentBytes();
        for (int i = 0; i < rows; ++i) {
            const std::string body = lynx::bench::FakeReport(i);
            lynx::protocol::ReportArrival arrival{"eth0", "10.0.0.2", {}};
            table.AddReport(body, lynx::protocol::DuplicateFilter{true, true}, std::move(arrival));
        }
        print("device table (lynx-cli)", static_cast<int>(table.Size()), heapBefore, rssBefore);
    }
    std::printf("after the table: %+.1f MB\n", (static_cast<double>(heapBytes()) - heapAtStart) / 1e6);

    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QTemporaryDir registry;
    setenv("LYNX_REGISTRY_ROOT", registry.path().toLocal8Bit().constData(), 1);
    setenv("KOVA_CPR_FAIL", "init", 1);  // no file server needed here
    QApplication app(argc, argv);
    lynx::platform::SetMessageBoxHandler([](const lynx::platform::MessageBoxRequest&) { return 1; });
    auto* dlg = new CLynxDlg;
    dlg->Create();
    dlg->show();
    QCoreApplication::processEvents();
    const size_t heapBefore = heapBytes(), rssBefore = residentBytes();
    PacketHeader header{};
    header.bodyMarker = '$';
    for (int i = 0; i < rows; ++i) {
        const std::string body = lynx::bench::FakeReport(i);
        lynx::protocol::DiscoverySession::ReceiveReport(0, 0, header, static_cast<uint32_t>(body.size()), body.c_str());
        if (i % 1000 == 999)
            QCoreApplication::processEvents();
    }
    // The window holds no more than its list's default capacity.
    const int held = std::min<int>(rows, static_cast<int>(lynx::protocol::DeviceTable::kDefaultCapacity));
    while (dlg->listDevice()->GetItemCount() < held)
        QCoreApplication::processEvents();
    print("window list (offscreen)", dlg->listDevice()->GetItemCount(), heapBefore, rssBefore);

    delete dlg;
    StopUpgradeFileServer();
    tarn_ext_Shutdown();
    return 0;
}
