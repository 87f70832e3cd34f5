// Helpers shared by the widget tests: one QApplication for the process, and a
// message box script that records every box and answers from a queue.
#pragma once

#include "platform/MessageBox.h"

#include <QApplication>
#include <QString>

#include <deque>
#include <vector>

inline void EnsureApplication()
{
    if (QApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "addressing_tests";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
}

// Installs itself as the message box handler for its lifetime; boxes are
// answered with the queued answers in order, then with IDOK.
class MessageBoxScript {
public:
    MessageBoxScript()
    {
        m_previous = lynx::platform::SetMessageBoxHandler([this](const lynx::platform::MessageBoxRequest& r) {
            shown.push_back(r);
            if (answers.empty())
                return int(lynx::platform::IDOK);
            int answer = answers.front();
            answers.pop_front();
            return answer;
        });
    }
    ~MessageBoxScript() { lynx::platform::SetMessageBoxHandler(m_previous); }
    MessageBoxScript(const MessageBoxScript&) = delete;
    MessageBoxScript& operator=(const MessageBoxScript&) = delete;

    std::vector<QString> texts() const
    {
        std::vector<QString> t;
        for (const auto& r : shown)
            t.push_back(r.text);
        return t;
    }

    std::vector<lynx::platform::MessageBoxRequest> shown;
    std::deque<int> answers;

private:
    lynx::platform::MessageBoxHandler m_previous;
};
