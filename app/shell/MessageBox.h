// Message boxes, behind one seam that tests script: a test installs a handler,
// reads every box that was asked for and answers it, and no modal loop runs.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace lynx::platform {

enum MessageBoxButtons { MB_OK = 0x0, MB_OKCANCEL = 0x1 };
enum MessageBoxIcon { MB_ICONNONE = 0x0, MB_ICONQUESTION = 0x20 };
enum MessageBoxResult { IDOK = 1, IDCANCEL = 2 };

struct MessageBoxRequest {
    QWidget* owner = nullptr;   // null: the window in front owns it (none before any is up)
    QString text;
    QString caption;
    int buttons = MB_OK;
    int icon = MB_ICONNONE;
    bool modeless = false;      // shown without blocking its caller or its owner (details box)
};

// Shows a box and returns IDOK or IDCANCEL. A modeless box returns IDOK at once.
int ShowMessageBox(const MessageBoxRequest& request);
// Shorthand for the usual box captioned "提示".
int ShowMessageBox(QWidget* owner, const QString& text, int buttons = MB_OK);

using MessageBoxHandler = std::function<int(const MessageBoxRequest&)>;
// Replaces the real boxes (null restores them); returns the previous handler.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

} // namespace lynx::platform
