#include "QtTestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <utility>

ScriptedBoxes::ScriptedBoxes()
{
    m_previous = lynx::platform::SetMessageBoxHandler([this](const lynx::platform::MessageBoxRequest& r) {
        shown.push_back(r);
        if (whileShown)
            whileShown();
        if (answers.empty())
            return int(lynx::platform::IDOK);
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    });
}

ScriptedBoxes::~ScriptedBoxes()
{
    lynx::platform::SetMessageBoxHandler(m_previous);
}

QStringList ScriptedBoxes::texts() const
{
    QStringList list;
    for (const auto& box : shown)
        list << box.text;
    return list;
}

ScriptedDialogs::ScriptedDialogs(lynx::platform::ModalDialogHandler answer) : m_answer(std::move(answer))
{
    m_previous = lynx::platform::SetModalDialogHandler([this](QDialog& dialog) {
        ++opened;
        return m_answer(dialog);
    });
}

ScriptedDialogs::~ScriptedDialogs()
{
    lynx::platform::SetModalDialogHandler(m_previous);
}

void Pump(int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    do {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    } while (timer.elapsed() < milliseconds);
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

bool WaitFor(const std::function<bool()>& done, int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > milliseconds)
            return false;
        Pump(5);
    }
    return true;
}

EventLoopWatch::EventLoopWatch() : m_timer(new QTimer)
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    m_last = clock.elapsed();
    QObject::connect(m_timer, &QTimer::timeout, [this] {
        const long long now = clock.elapsed();
        m_longest = std::max(m_longest, now - m_last);
        m_last = now;
    });
    m_timer->start(10);
}

EventLoopWatch::~EventLoopWatch()
{
    delete m_timer;
}
