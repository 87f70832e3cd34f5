#include "app/shell/ModalDialog.h"

#include "platform/Seam.h"

#include <QDialog>
#include <QEventLoop>
#include <QTimer>

namespace lynx::platform {

using Handler = Seam<ModalDialogHandler, struct ModalDialogService>;

int RunModalDialog(QDialog& dlg)
{
    if (Handler::Current())
        return Handler::Current()(dlg);
    return dlg.exec();
}

ModalDialogHandler SetModalDialogHandler(ModalDialogHandler h)
{
    return Handler::Replace(std::move(h));
}

void PauseKeepingPaint(int ms)
{
    if (ms <= 0)
        return;
    // User input stays queued until the pause is over, so a click cannot start
    // anything in the middle of the send loop; paint and posted work go on.
    QEventLoop loop;
    // Precise: from 2 s up Qt's single shots are coarse and may end 5 % early.
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

} // namespace lynx::platform
