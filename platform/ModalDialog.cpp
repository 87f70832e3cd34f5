#include "platform/ModalDialog.h"

#include <QDialog>
#include <QEventLoop>
#include <QTimer>

namespace lynx::platform {

namespace {

ModalDialogHandler& handler()
{
    static ModalDialogHandler h;
    return h;
}

} // namespace

int RunModalDialog(QDialog& dlg)
{
    if (handler())
        return handler()(dlg);
    return dlg.exec();
}

ModalDialogHandler SetModalDialogHandler(ModalDialogHandler h)
{
    ModalDialogHandler previous = std::move(handler());
    handler() = std::move(h);
    return previous;
}

void PauseKeepingPaint(int ms)
{
    if (ms <= 0)
        return;
    // User input stays queued until the pause is over, as it does while the
    // original window's thread sleeps; paint and posted work go on.
    QEventLoop loop;
    // Precise: from 2 s up Qt's single shots are coarse and may end 5 % early.
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

} // namespace lynx::platform
