#include "platform/Browser.h"

#include "platform/Seam.h"

#include <QProcess>

namespace lynx::platform {

using Handler = Seam<BrowserHandler, struct BrowserService>;

bool OpenInBrowser(const QString& url)
{
    if (Handler::Current())
        return Handler::Current()(url);
    // The desktop's default browser; the shell verb "open" of the original.
    return QProcess::startDetached(QStringLiteral("xdg-open"), {url});
}

BrowserHandler SetBrowserHandler(BrowserHandler h)
{
    return Handler::Replace(std::move(h));
}

} // namespace lynx::platform
