#include "site/HearsaySenders.h"

#include "platform/NeighbourTable.h"
#include "platform/Translation.h"
#include "protocol/JsonMessages.h"

#include <cstdio>

namespace lynx::site {

namespace {

// A text from the network with its control characters escaped (\xNN), so
// that a terminal shows it and does not obey it.
std::string Escaped(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const bool c1 = c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(text[i + 1]) <= 0x9F;
        if (c < 0x20 || c == 0x7F || c1) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", c1 ? static_cast<unsigned char>(text[++i]) : c);
            out += escape;
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace

std::string HearsaySenders::Note(const DeviceRecord& record, const protocol::ReportArrival& arrival)
{
    if (arrival.sourceAddress.empty() || !protocol::IsHearsay(record, arrival) || m_said.size() >= kMostSaid ||
        !m_said.emplace(arrival.sourceAddress, arrival.sourceHardware).second)
        return {};
    const QString sender = QString::fromStdString(arrival.sourceAddress);
    const QString mac = QString::fromStdString(Escaped(protocol::FieldText(record.mac)));
    if (arrival.sourceHardware == 0)
        return platform::Tr("%1 claims the MAC %2").arg(sender, mac).toStdString();
    return platform::Tr("%1 (hardware address %2) claims the MAC %3")
        .arg(sender, QString::fromStdString(platform::HardwareText(arrival.sourceHardware)), mac)
        .toStdString();
}

std::string HearsaySenders::NotesOf(const protocol::DeviceTable& table)
{
    std::string notes;
    for (const auto& [number, record] : table.Map()) {
        const std::string note = Note(*record, *table.ArrivalOf(number));
        if (!note.empty())
            notes += note + "\n";
    }
    return notes;
}

} // namespace lynx::site
