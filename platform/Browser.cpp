#include "platform/Browser.h"

#include <QProcess>

namespace lynx::platform {

namespace {

BrowserHandler& handler()
{
    static BrowserHandler h;
    return h;
}

} // namespace

bool OpenInBrowser(const QString& url)
{
    if (handler())
        return handler()(url);
    // The desktop's default browser; the shell verb "open" of the original.
    return QProcess::startDetached(QStringLiteral("xdg-open"), {url});
}

BrowserHandler SetBrowserHandler(BrowserHandler h)
{
    BrowserHandler previous = std::move(handler());
    handler() = std::move(h);
    return previous;
}

} // namespace lynx::platform
