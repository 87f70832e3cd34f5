#include "app/CLynxApp.h"
#include "tarn.h"
#include "upgrade/UpgradeFileServer.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("lynx"));
    theApp.InitInstance();
    // The file server and the transport's servers outlive the window; stop
    // their threads before exit.
    StopUpgradeFileServer();
    tarn_ext_Shutdown();
    return 0;
}
