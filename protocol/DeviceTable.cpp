#include "protocol/DeviceTable.h"

#include "platform/CodePage.h"
#include "platform/MacKey.h"
#include "protocol/JsonMessages.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace lynx::protocol {

namespace {

using protocol::FieldBytes;
using protocol::FieldText;

// The MAC rule compares whole MACs as MacKey does: one maker's cameras share
// their first bytes, and cameras fresh from the factory share one address, so
// anything less would hide a whole site behind one row.
std::string macKey(const DeviceRecord& record)
{
    return platform::MacKey(FieldBytes(record.mac));
}

std::string ipAndMacKey(const DeviceRecord& record)
{
    std::string key(FieldBytes(record.deviceIp));
    key += '\0';
    key += macKey(record);
    return key;
}

bool sameIp(const DeviceRecord& a, const DeviceRecord& b)
{
    return FieldBytes(a.deviceIp) == FieldBytes(b.deviceIp);
}

bool sameMac(const DeviceRecord& a, const DeviceRecord& b)
{
    return macKey(a) == macKey(b);
}

std::string formatted(const char* format, auto... values)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, format, values...);
    return buffer;
}

} // namespace

bool IsDuplicate(const DeviceList& held, const DeviceRecord& record, DuplicateFilter filter)
{
    if (!filter.hideSameIp && !filter.hideSameMac)
        return false;
    for (const auto& other : held) {
        const bool ipMatches = !filter.hideSameIp || sameIp(*other, record);
        const bool macMatches = !filter.hideSameMac || sameMac(*other, record);
        if (ipMatches && macMatches)
            return true;
    }
    return false;
}

std::string ArrivalText(const ReportArrival& arrival)
{
    if (arrival.interfaceName.empty())
        return arrival.localAddress;
    return arrival.interfaceName + " (" + arrival.localAddress + ")";
}

std::string SourceText(uint32_t hostOrder)
{
    if (hostOrder == 0)
        return {};
    const in_addr address{htonl(hostOrder)};
    char text[INET_ADDRSTRLEN] = {};
    return ::inet_ntop(AF_INET, &address, text, sizeof text) ? text : std::string();
}

bool FromItsOwnAddress(const DeviceRecord& record, const ReportArrival& arrival, std::string_view card)
{
    return !arrival.sourceAddress.empty() && arrival.sourceAddress == FieldBytes(record.deviceIp) &&
           !arrival.hardwareDisowns && (card.empty() || arrival.interfaceName == card);
}

bool IsHearsay(const DeviceRecord& record, const ReportArrival& arrival)
{
    return (!arrival.sourceAddress.empty() && arrival.sourceAddress != FieldBytes(record.deviceIp)) ||
           arrival.hardwareDisowns;
}

int DeviceTable::AddReport(std::string_view utf8Body, DuplicateFilter filter, ReportArrival arrival)
{
    auto record = std::make_unique<DeviceRecord>();  // value-initialised: zero-filled
    ParseReportBody(utf8Body, *record);
    return Add(std::move(record), filter, std::move(arrival));
}

int DeviceTable::Add(std::unique_ptr<DeviceRecord> record, DuplicateFilter filter, ReportArrival arrival)
{
    if (!record || record->deviceIp[0] == '\0' || record->mac[0] == '\0')
        return 0;
    const bool hearsay = IsHearsay(*record, arrival);
    if (IsDuplicate(*record, filter, hearsay))
        return 0;
    if (Full()) {
        ++m_dropped;
        return 0;
    }
    const int number = m_count + 1;
    m_numbersByIp[std::string(FieldBytes(record->deviceIp))].push_back(number);
    m_macKeys[macKey(*record)] |= !hearsay;
    m_ipAndMacKeys[ipAndMacKey(*record)] |= !hearsay;
    m_map.Append(record.get());
    m_list.push_back(std::move(record));
    StoredArrival stored{0, 0, StoreHardware(arrival.sourceHardware) | (arrival.hardwareDisowns ? kDisowns : 0)};
    const auto card = std::find(m_cards.begin(), m_cards.end(),
                                std::pair{arrival.interfaceName, arrival.localAddress});
    stored.card = static_cast<uint32_t>(card - m_cards.begin());
    if (card == m_cards.end())
        m_cards.emplace_back(std::move(arrival.interfaceName), std::move(arrival.localAddress));
    in_addr source{};
    if (::inet_pton(AF_INET, arrival.sourceAddress.c_str(), &source) == 1)
        stored.source = ntohl(source.s_addr);
    m_arrivals.push_back(stored);
    m_count = number;
    return number;
}

void DeviceTable::Clear()
{
    // The map first, so that it never holds a pointer to a deleted record.
    m_map.clear();
    m_list.clear();
    m_arrivals.clear();
    m_cards.clear();
    m_hardware.clear();
    m_hardwareIndex.clear();
    m_numbersByIp.clear();
    m_macKeys.clear();
    m_ipAndMacKeys.clear();
    m_count = 0;
    m_dropped = 0;
}

bool DeviceTable::IsDuplicate(const DeviceRecord& record, DuplicateFilter filter, bool hearsay) const
{
    const auto held = [hearsay](const std::unordered_map<std::string, bool>& keys, const std::string& key) {
        const auto it = keys.find(key);
        return it != keys.end() && (hearsay || it->second);
    };
    if (filter.hideSameIp && filter.hideSameMac)
        return held(m_ipAndMacKeys, ipAndMacKey(record));
    if (filter.hideSameIp) {
        const auto it = m_numbersByIp.find(std::string(FieldBytes(record.deviceIp)));
        return it != m_numbersByIp.end() &&
               (hearsay || std::any_of(it->second.begin(), it->second.end(), [this](int n) { return OwnWord(n); }));
    }
    if (filter.hideSameMac)
        return held(m_macKeys, macKey(record));
    return false;
}

bool DeviceTable::OwnWord(int number) const
{
    const StoredArrival& stored = m_arrivals[static_cast<size_t>(number - 1)];
    return (stored.source == 0 || SourceText(stored.source) == FieldBytes(ByNumber(number)->deviceIp)) &&
           !(stored.hardware & kDisowns);
}

uint32_t DeviceTable::StoreHardware(uint64_t hardware)
{
    if (hardware == 0)
        return 0;
    const auto [it, added] = m_hardwareIndex.emplace(hardware, static_cast<uint32_t>(m_hardware.size() + 1));
    if (added)
        m_hardware.push_back(hardware);
    return it->second;
}

std::optional<ReportArrival> DeviceTable::ArrivalOf(int number) const
{
    if (number < 1 || number > static_cast<int>(m_arrivals.size()))
        return std::nullopt;
    const StoredArrival& stored = m_arrivals[static_cast<size_t>(number - 1)];
    const uint32_t hardware = stored.hardware & ~kDisowns;
    return ReportArrival{m_cards[stored.card].first, m_cards[stored.card].second, SourceText(stored.source),
                         hardware == 0 ? 0 : m_hardware[hardware - 1], (stored.hardware & kDisowns) != 0};
}

DeviceRecord* DeviceTable::ByNumber(int number) const
{
    return m_map.Find(number);
}

void DeviceTable::Readdress(int number, const std::string& ip, const std::string& gateway, const std::string& mask)
{
    DeviceRecord* record = ByNumber(number);
    if (!record)
        return;
    const auto old = m_numbersByIp.find(std::string(FieldBytes(record->deviceIp)));
    if (old != m_numbersByIp.end()) {
        std::erase(old->second, number);
        if (old->second.empty())
            m_numbersByIp.erase(old);
    }
    const auto copy = [](auto& field, const std::string& text) {
        std::memset(field, 0, sizeof field);
        std::memcpy(field, text.data(), std::min(text.size(), sizeof field - 1));
    };
    copy(record->deviceIp, ip);
    copy(record->gatewayIp, gateway);
    copy(record->netMask, mask);
    std::vector<int>& numbers = m_numbersByIp[std::string(FieldBytes(record->deviceIp))];
    numbers.insert(std::upper_bound(numbers.begin(), numbers.end(), number), number);
}

DeviceRecord* DeviceTable::ByIp(std::string_view ip) const
{
    const auto it = m_numbersByIp.find(std::string(ip));
    return it == m_numbersByIp.end() ? nullptr : ByNumber(it->second.front());
}

std::vector<int> DeviceTable::IpConflictsOf(int number) const
{
    std::vector<int> others;
    const DeviceRecord* record = ByNumber(number);
    if (!record)
        return others;
    const auto it = m_numbersByIp.find(std::string(FieldBytes(record->deviceIp)));
    if (it == m_numbersByIp.end() || it->second.size() < 2)
        return others;
    for (int other : it->second) {
        const DeviceRecord* o = ByNumber(other);
        if (other != number && o && !sameMac(*o, *record))
            others.push_back(other);
    }
    return others;
}

std::vector<DeviceRow> DeviceTable::Rows() const
{
    std::vector<DeviceRow> rows;
    rows.reserve(m_map.size());
    for (const auto& [number, record] : m_map)
        rows.push_back(DeviceRow{number, *record, *ArrivalOf(number)});
    return rows;
}

std::string SoftwareVersionText(const DeviceRecord& record)
{
    return FieldText(record.softwareVersion) + " build[" + FieldText(record.productDate) + "]";
}

const char* ColumnTitle(Column column)
{
    switch (column) {
    case Column::Number:
        return "序号";
    case Column::Ip:
        return "设备IP";
    case Column::Mac:
        return "MAC地址";
    case Column::Gateway:
        return "网关地址";
    case Column::Mask:
        return "子网掩码";
    case Column::Model:
        return "设备型号";
    case Column::SoftwareVersion:
        return "软件版本";
    case Column::Status:
        return "状态";
    }
    return "";
}

std::string ColumnText(const DeviceRecord& record, int number, Column column)
{
    switch (column) {
    case Column::Number:
        return std::to_string(number);
    case Column::Ip:
        return FieldText(record.deviceIp);
    case Column::Mac:
        return FieldText(record.mac);
    case Column::Gateway:
        return FieldText(record.gatewayIp);
    case Column::Mask:
        return FieldText(record.netMask);
    case Column::Model:
        return FieldText(record.model);
    case Column::SoftwareVersion:
        return SoftwareVersionText(record);
    case Column::Status:
        break;
    }
    return {};
}

std::string DeviceDetailsText(const DeviceRecord& record)
{
    std::string text;
    auto line = [&text](const char* label, const std::string& value) {
        text += label;
        text += value;
        text += '\n';
    };
    line("IP\t\t:\t", FieldText(record.deviceIp));
    line("ID\t\t:\t", FieldText(record.deviceId));
    line("name\t\t:\t", FieldText(record.name));
    line("model\t\t:\t", FieldText(record.model));
    line("manufacturer\t:\t", FieldText(record.manufacturer));
    line("company\t\t:\t", FieldText(record.company));
    line("MAC\t\t:\t", FieldText(record.mac));
    line("protocal ver\t:\t", formatted("%d.%d", record.protocolVersion >> 8, record.protocolVersion & 0xFF));
    line("product type\t:\t", formatted("%d", static_cast<int>(record.productType)));
    line("product sub type\t:\t", formatted("%d", record.productSubType));
    line("sn\t\t:\t", formatted("%d", record.sn));
    line("HW feature\t:\t", formatted("0x%x", record.hwFeature));
    line("consumer sn\t:\t", formatted("%d", record.consumerSn));
    line("SW VER\t\t:\t", SoftwareVersionText(record));
    line("HW VER\t\t:\t", FieldText(record.hardwareVersion));
    return text;
}

std::string DeviceUrl(const DeviceRecord& record)
{
    return "http://" + FieldText(record.deviceIp);
}

} // namespace lynx::protocol
