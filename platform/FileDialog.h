// The file-open dialog, behind a seam that tests script.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace lynx::platform {

struct FileDialogRequest {
    QWidget* parent = nullptr;
    QString filter;  // Windows form: "(*.zip)|*.zip|"
};

// The chosen path of an existing file, or an empty string when cancelled.
QString GetOpenFileName(const FileDialogRequest& request);

using FileDialogHandler = std::function<QString(const FileDialogRequest&)>;
FileDialogHandler SetFileDialogHandler(FileDialogHandler handler);

} // namespace lynx::platform
