// Opens a web address in the default browser (xdg-open here), behind a seam.
#pragma once

#include <QString>
#include <functional>

namespace lynx::platform {

bool OpenInBrowser(const QString& url);

using BrowserHandler = std::function<bool(const QString&)>;
BrowserHandler SetBrowserHandler(BrowserHandler handler);

} // namespace lynx::platform
