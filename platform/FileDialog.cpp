#include "platform/FileDialog.h"

#include <QFileDialog>
#include <QStringList>

namespace lynx::platform {

namespace {

FileDialogHandler& handler()
{
    static FileDialogHandler h;
    return h;
}

// "(*.zip)|*.zip|" (description|pattern|...) becomes Qt's "(*.zip) (*.zip)".
QString qtFilter(const QString& windowsFilter)
{
    QStringList parts = windowsFilter.split('|', Qt::SkipEmptyParts);
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2)
        filters << parts[i] + " (" + QString(parts[i + 1]).replace(';', ' ') + ")";
    return filters.join(";;");
}

} // namespace

QString GetOpenFileName(const FileDialogRequest& request)
{
    if (handler())
        return handler()(request);
    QFileDialog dialog(request.parent);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(qtFilter(request.filter));
    dialog.setOption(QFileDialog::ReadOnly, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

FileDialogHandler SetFileDialogHandler(FileDialogHandler h)
{
    FileDialogHandler previous = std::move(handler());
    handler() = std::move(h);
    return previous;
}

} // namespace lynx::platform
