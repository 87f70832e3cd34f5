#include "app/tests/WindowTestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <gtest/gtest.h>

ScriptedBoxes::ScriptedBoxes()
{
    m_previous = lynx::platform::SetMessageBoxHandler([this](const lynx::platform::MessageBoxRequest& r) {
        shown.push_back({r.text, r.caption, r.owner != nullptr, r.modeless, r.buttons});
        if (whileShown)
            whileShown();
        if (answers.empty())
            return int(lynx::platform::IDOK);
        int answer = answers.front();
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

std::string ReportJson(const std::string& ip, const std::string& mac, const std::string& name,
                       const std::string& version, const std::string& date, const std::string& deviceId)
{
    return R"({"data":{"deviceIp":")" + ip + R"(","netMask":"255.255.255.0","gatewayIp":"192.168.1.1","deviceId":")" +
           (deviceId.empty() ? "ID-" + ip : deviceId) + R"(","machineInfo":{"type":7,"name":")" + name +
           R"(","model":"KV-100","mac":")" + mac + R"(","manufacturer":"Kova","company":"Kova","softwareVersion":")" +
           version + R"(","hardwareVersion":"H1","sn":42,"productDate":{"time":")" + date + R"("}}}})";
}

void DeliverReport(const std::string& json, uint8_t marker)
{
    PacketHeader header{};
    header.magic = 0x8000;
    header.command = 0x701;
    header.bodyMarker = marker;
    OnReportDatagram(0x7F000001, 19027, header, static_cast<uint32_t>(json.size()), json.c_str());
    Pump();
}

void DeliverUpdateDatagram(uint16_t command, uint16_t result, uint32_t tag, const std::string& body)
{
    PacketHeader header{};
    header.magic = 0x8000;
    header.command = command;
    header.result = result;
    header.tag = tag;
    header.bodyMarker = '$';
    OnUpdateStatus(0x7F000001, 8025, header, static_cast<uint32_t>(body.size()), body.c_str());
    Pump();
}
