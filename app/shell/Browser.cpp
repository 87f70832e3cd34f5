#include "app/shell/Browser.h"

#include "platform/Seam.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>

namespace lynx::platform {

using Handler = Seam<BrowserHandler, struct BrowserService>;

namespace {

// xdg-open exits at once with an error when it finds no browser (3: no tool,
// 4: the open failed); with one, it returns once it has handed the address
// over, or when the browser it ran ends. An error after this long is the
// browser's own, not a failure to open the page.
constexpr qint64 kLaunchFailureWindowMs = 10000;

} // namespace

bool OpenInBrowser(const QString& url, std::function<void()> failedLater)
{
    if (Handler::Current())
        return Handler::Current()(url);
    const QString launcher = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (launcher.isEmpty())
        return false;
    // Deletes itself when the launcher ends; the application owns it until then.
    auto* process = new QProcess(QCoreApplication::instance());
    process->setProgram(launcher);
    process->setArguments({url});
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    auto started = std::make_shared<QElapsedTimer>();
    QObject::connect(process, &QProcess::finished, process,
                     [process, started, failedLater](int code, QProcess::ExitStatus status) {
                         if ((status != QProcess::NormalExit || code != 0) && started->elapsed() < kLaunchFailureWindowMs &&
                             failedLater)
                             failedLater();
                         process->deleteLater();
                     });
    started->start();
    process->start();
    if (!process->waitForStarted(5000)) {
        delete process;
        return false;
    }
    return true;
}

BrowserHandler SetBrowserHandler(BrowserHandler h)
{
    return Handler::Replace(std::move(h));
}

} // namespace lynx::platform
