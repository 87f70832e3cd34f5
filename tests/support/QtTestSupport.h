// What every widget test shares: readable failures for Qt strings, message
// boxes answered by the test instead of a person (with an event loop spinning
// while a box is "up", if the test asks for it), and waiting for the UI
// thread on a condition. The tests' main() (QtTestMain.cpp) gives them a
// QApplication on the offscreen platform and a registry and log of their own.
#pragma once

#include "app/shell/MessageBox.h"
#include "app/shell/ModalDialog.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <ostream>
#include <vector>

QT_BEGIN_NAMESPACE
class QTimer;
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QStringList& l, std::ostream* os)
{
    *os << '[' << l.join(QStringLiteral(", ")).toStdString() << ']';
}
QT_END_NAMESPACE

// Records every box and answers it: the queued answers in order, then OK.
// whileShown, when set, runs while a box is up, as the person reads it.
class ScriptedBoxes {
public:
    ScriptedBoxes();
    ~ScriptedBoxes();
    ScriptedBoxes(const ScriptedBoxes&) = delete;
    ScriptedBoxes& operator=(const ScriptedBoxes&) = delete;

    std::deque<int> answers;
    std::vector<lynx::platform::MessageBoxRequest> shown;
    std::function<void()> whileShown;
    QStringList texts() const;

private:
    lynx::platform::MessageBoxHandler m_previous;
};

// Answers every modal dialog with answer while the object lives, counting them.
class ScriptedDialogs {
public:
    explicit ScriptedDialogs(lynx::platform::ModalDialogHandler answer);
    ~ScriptedDialogs();
    ScriptedDialogs(const ScriptedDialogs&) = delete;
    ScriptedDialogs& operator=(const ScriptedDialogs&) = delete;

    int opened = 0;

private:
    lynx::platform::ModalDialogHandler m_answer;
    lynx::platform::ModalDialogHandler m_previous;
};

// The longest the UI thread went without running a 10 ms timer, from its
// construction on: how long the window would have seemed frozen.
class EventLoopWatch {
public:
    EventLoopWatch();
    ~EventLoopWatch();
    EventLoopWatch(const EventLoopWatch&) = delete;
    EventLoopWatch& operator=(const EventLoopWatch&) = delete;
    long long LongestGapMs() const { return m_longest; }

private:
    QTimer* m_timer;
    long long m_longest = 0;
    long long m_last = 0;
};

// Processes events (queued datagrams, timers) for at least the given time.
void Pump(int milliseconds = 0);
// Processes events until done() or the time is up; returns done().
bool WaitFor(const std::function<bool()>& done, int milliseconds);
