// The file-open dialog, behind a seam that tests script.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace lynx::platform {

struct FileDialogRequest {
    QWidget* parent = nullptr;
    QString filter;  // Windows form: "(*.zip)|*.zip|"
    bool save = false;     // a file to write (GetSaveFileName), not one to open
    QString defaultName;   // the name proposed for a file to write
};

// The chosen path of an existing file, or an empty string when cancelled.
QString GetOpenFileName(const FileDialogRequest& request);
// The chosen path to write (the dialog asks before replacing a file), or an
// empty string when cancelled. Scripted handlers see request.save set.
QString GetSaveFileName(FileDialogRequest request);

// A filter in the Windows form, "description|pattern|..." ("(*.csv)|*.csv|"),
// as Qt's name filter: "description (pattern)" for each pair, ";;" between; a
// pattern list "*.a;*.b" becomes "*.a *.b". A description that already ends
// with its patterns in parentheses shows them once: "(*.csv)", "CSV (*.csv)".
QString QtNameFilter(const QString& windowsFilter);

using FileDialogHandler = std::function<QString(const FileDialogRequest&)>;
FileDialogHandler SetFileDialogHandler(FileDialogHandler handler);

} // namespace lynx::platform
