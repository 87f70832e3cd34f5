#include "app/CLynxApp.h"
#include "tarn.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("lynx"));
    theApp.InitInstance();
    // The transport's servers outlive the window; stop their threads before exit.
    tarn_ext_Shutdown();
    return 0;
}
