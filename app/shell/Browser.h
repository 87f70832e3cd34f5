// Opens a web address in the default browser (xdg-open here), behind a seam.
#pragma once

#include <QString>
#include <functional>

namespace lynx::platform {

// False when no browser could be started (no launcher on the PC). A launcher
// that starts but finds no browser to hand the address to says so within a
// few seconds, through failedLater (on the caller's thread).
bool OpenInBrowser(const QString& url, std::function<void()> failedLater = {});

using BrowserHandler = std::function<bool(const QString&)>;
BrowserHandler SetBrowserHandler(BrowserHandler handler);

} // namespace lynx::platform
