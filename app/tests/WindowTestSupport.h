// What the window tests share: every message box, browser start, menu and
// file dialog is answered by the test, never by a person.
#pragma once

#include "app/CLynxDlg.h"
#include "platform/MessageBox.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <ostream>
#include <string>

// Readable failures: strings print as text, not as code units.
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}
QT_BEGIN_NAMESPACE
inline void PrintTo(const QStringList& l, std::ostream* os)
{
    *os << '[' << l.join(QStringLiteral(", ")).toStdString() << ']';
}
QT_END_NAMESPACE

struct ShownBox {
    QString text;
    QString caption;
    bool owned = false;
    bool modeless = false;
    int buttons = 0;
};

// Records every box and answers it (OK unless answers were queued). whileShown,
// when set, runs while a box is up, as the person reads it: a real box runs an
// event loop then.
class ScriptedBoxes {
public:
    ScriptedBoxes();
    ~ScriptedBoxes();
    std::deque<int> answers;
    std::vector<ShownBox> shown;
    std::function<void()> whileShown;
    QStringList texts() const;

private:
    lynx::platform::MessageBoxHandler m_previous;
};

// Processes posted events (queued datagrams) for at least the given time.
void Pump(int milliseconds = 0);
// Processes events until done() or the time is up; returns done().
bool WaitFor(const std::function<bool()>& done, int milliseconds);

// A device report body as a camera sends it (UTF-8 JSON).
std::string ReportJson(const std::string& ip, const std::string& mac, const std::string& name = "cam",
                       const std::string& version = "V1.0", const std::string& date = "2018-11-07",
                       const std::string& deviceId = "");

// Hands a report to the window through the transport's receive callback, as a
// datagram on the report port would, and lets the UI thread apply it.
void DeliverReport(const std::string& json, uint8_t marker = '$');
// Hands a datagram to the window's port-8025 callback (a reply or a
// notification) and lets the UI thread apply it.
void DeliverUpdateDatagram(uint16_t command, uint16_t result, uint32_t tag, const std::string& body);
