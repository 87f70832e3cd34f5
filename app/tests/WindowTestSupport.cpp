#include "app/tests/WindowTestSupport.h"

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
