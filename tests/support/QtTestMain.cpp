// gtest with a QApplication on the offscreen platform, and a registry root of
// the run's own, so no test touches the machine's.
#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

#include "tarn.h"
#include "upgrade/UpgradeFileServer.h"

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QTemporaryDir registry;
    setenv("LYNX_REGISTRY_ROOT", registry.path().toLocal8Bit().constData(), 1);
    QTemporaryDir logs;
    setenv("LYNX_LOG_DIR", logs.path().toLocal8Bit().constData(), 1);
    // The window's version check after a batch stays off unless a test asks
    // for it: the other tests see the batch's own texts.
    setenv("LYNX_VERIFY_AFTER_UPGRADE", "0", 0);
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    StopUpgradeFileServer();
    tarn_ext_Shutdown();
    return result;
}
