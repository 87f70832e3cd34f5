// gtest with a QApplication on the offscreen platform, and a registry root and
// log folder of the run's own, for the tests that drive the main window.
#include "tarn.h"
#include "upgrade/UpgradeFileServer.h"

#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QTemporaryDir registry;
    setenv("LYNX_REGISTRY_ROOT", registry.path().toLocal8Bit().constData(), 1);
    QTemporaryDir logs;
    setenv("LYNX_LOG_DIR", logs.path().toLocal8Bit().constData(), 1);
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    StopUpgradeFileServer();
    tarn_ext_Shutdown();
    return result;
}
