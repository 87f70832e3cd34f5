#include "app/CLynxApp.h"
#include "platform/Translation.h"
#include "protocol/DiscoverySession.h"
#include "upgrade/UpgradeFileServer.h"

#include "lynx/Version.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kUsage =
    "usage: lynx-cameras [--lang zh|en] [--help | --version]\n"
    "Opens the Lynx window: search the LAN for parking-guidance cameras, change\n"
    "their addresses, upgrade their firmware. It listens on UDP 19027 and 8025 and\n"
    "serves firmware from TCP 9000 upward; it needs no root.\n"
    "  --lang en   the window in English (so does LYNX_LANG=en); zh, the default,\n"
    "              in Simplified Chinese\n"
    "  --help      this text\n"
    "  --version   the version\n"
    "See lynx-cameras(1); lynx-cli(1) does the same jobs on the command line.\n";

} // namespace

int main(int argc, char** argv)
{
    // Answered before any window system is needed.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("lynx-cameras %s\n", LYNX_VERSION);
            return 0;
        }
    }
    // A language that is not known is only warned about: started from the
    // desktop's menu, a window that never opened would tell the user nothing.
    const lynx::platform::LanguageChoice language =
        lynx::platform::ChooseLanguage(argc, argv, lynx::platform::LanguageDefault::Chinese);
    if (!language.error.empty()) {
        std::fprintf(stderr, "lynx-cameras: %s\n", language.error.c_str());
        return 2;
    }
    QApplication app(argc, argv);
    lynx::platform::SelectLanguage(language.lang);
    if (!language.unknown.empty())
        std::fprintf(stderr, "lynx-cameras: %s\n",
                     lynx::platform::UnknownLanguageWarning(language.unknown).toUtf8().constData());
    // The program is lynx-cameras (Debian's text web browser owns lynx), but
    // the application keeps its name lynx, which captions its message boxes;
    // the desktop file name ties the window to its menu entry and icon.
    QApplication::setApplicationName(QStringLiteral("lynx"));
    QGuiApplication::setDesktopFileName(QStringLiteral("lynx-cameras"));
    theApp.InitInstance();
    // The file server and the transport's servers outlive the window; stop
    // their threads before exit.
    StopUpgradeFileServer();
    lynx::protocol::ShutdownTransport();
    return 0;
}
