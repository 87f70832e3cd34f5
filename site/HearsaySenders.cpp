#include "site/HearsaySenders.h"

#include "platform/NeighbourTable.h"
#include "platform/Translation.h"
#include "protocol/JsonMessages.h"

namespace lynx::site {

std::string HearsaySenders::Note(const DeviceRecord& record, const protocol::ReportArrival& arrival)
{
    if (arrival.sourceAddress.empty() || !protocol::IsHearsay(record, arrival) || m_said.size() >= kMostSaid ||
        !m_said.emplace(arrival.sourceAddress, arrival.sourceHardware).second)
        return {};
    const QString sender = QString::fromStdString(arrival.sourceAddress);
    const QString mac = QString::fromStdString(protocol::FieldText(record.mac));
    if (arrival.sourceHardware == 0)
        return platform::Tr("%1 claims the MAC %2").arg(sender, mac).toStdString();
    return platform::Tr("%1 (hardware address %2) claims the MAC %3")
        .arg(sender, QString::fromStdString(platform::HardwareText(arrival.sourceHardware)), mac)
        .toStdString();
}

std::vector<std::string> HearsaySenders::NotesOf(const protocol::DeviceTable& table)
{
    std::vector<std::string> notes;
    for (const auto& [number, record] : table.Map())
        if (std::string note = Note(*record, *table.ArrivalOf(number)); !note.empty())
            notes.push_back(std::move(note));
    return notes;
}

} // namespace lynx::site
