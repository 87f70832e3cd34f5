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
    m_macKeys[macKey(*record)] |= !hearsay;
    IpAndMac& key = m_ipAndMacKeys[ipAndMacKey(*record)];
    key.held = true;
    key.own |= !hearsay;
    m_map.Append(record.get());
    StoredArrival stored{0, hearsay, 0,
                         StoreHardware(arrival.sourceHardware) | (arrival.hardwareDisowns ? kDisowns : 0)};
    const auto card = std::find(m_cards.begin(), m_cards.end(),
                                std::pair{arrival.interfaceName, arrival.localAddress});
    stored.card = static_cast<uint32_t>(card - m_cards.begin());
    if (card == m_cards.end())
        m_cards.emplace_back(std::move(arrival.interfaceName), std::move(arrival.localAddress));
    in_addr source{};
    if (::inet_pton(AF_INET, arrival.sourceAddress.c_str(), &source) == 1)
        stored.source = ntohl(source.s_addr);
    m_arrivals.push_back(stored);
    Index(number, *record);
    m_list.push_back(std::move(record));
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
    if (filter.hideSameIp && filter.hideSameMac) {
        const auto it = m_ipAndMacKeys.find(ipAndMacKey(record));
        return it != m_ipAndMacKeys.end() && it->second.held && (hearsay || it->second.own);
    }
    if (filter.hideSameIp) {
        const auto it = m_numbersByIp.find(std::string(FieldBytes(record.deviceIp)));
        return it != m_numbersByIp.end() && !it->second.numbers.empty() && (hearsay || it->second.own > 0);
    }
    if (filter.hideSameMac)
        return held(m_macKeys, macKey(record));
    return false;
}

bool DeviceTable::Hearsay(int number) const
{
    return number >= 1 && number <= static_cast<int>(m_arrivals.size()) &&
           m_arrivals[static_cast<size_t>(number - 1)].hearsay;
}

void DeviceTable::Index(int number, const DeviceRecord& record)
{
    AtAddress& at = m_numbersByIp[std::string(FieldBytes(record.deviceIp))];
    at.numbers.insert(std::upper_bound(at.numbers.begin(), at.numbers.end(), number), number);
    if (Hearsay(number))
        return;
    ++at.own;
    IpAndMac& key = m_ipAndMacKeys[ipAndMacKey(record)];
    if (key.group == 0) {
        at.groups.emplace_back();
        key.group = static_cast<uint32_t>(at.groups.size());
    }
    OwnGroup& group = at.groups[key.group - 1];
    if (group.count++ == 0) {
        ++at.macs;
        group.first = number;
    }
    group.first = std::min(group.first, number);
}

void DeviceTable::Unindex(int number, const DeviceRecord& record)
{
    const auto at = m_numbersByIp.find(std::string(FieldBytes(record.deviceIp)));
    if (at == m_numbersByIp.end())
        return;
    std::vector<int>& numbers = at->second.numbers;
    const auto it = std::lower_bound(numbers.begin(), numbers.end(), number);
    if (it == numbers.end() || *it != number)
        return;
    numbers.erase(it);
    const auto key = m_ipAndMacKeys.find(ipAndMacKey(record));
    if (Hearsay(number) || key == m_ipAndMacKeys.end() || key->second.group == 0)
        return;
    --at->second.own;
    OwnGroup& group = at->second.groups[key->second.group - 1];
    if (--group.count == 0)
        --at->second.macs;
    if (group.count == 0 || group.first != number)
        return;
    // The group's next row: only rows of one camera answering many times
    // with no box ticked make this walk long, and only on a readdress.
    const std::string mac = macKey(record);
    for (const int other : numbers)
        if (other > number && !Hearsay(other) && macKey(*ByNumber(other)) == mac) {
            group.first = other;
            return;
        }
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
    Unindex(number, *record);
    const auto copy = [](auto& field, const std::string& text) {
        std::memset(field, 0, sizeof field);
        std::memcpy(field, text.data(), std::min(text.size(), sizeof field - 1));
    };
    copy(record->deviceIp, ip);
    copy(record->gatewayIp, gateway);
    copy(record->netMask, mask);
    Index(number, *record);
}

DeviceRecord* DeviceTable::ByIp(std::string_view ip) const
{
    const auto it = m_numbersByIp.find(std::string(ip));
    return it == m_numbersByIp.end() || it->second.numbers.empty() ? nullptr : ByNumber(it->second.numbers.front());
}

// The address and the group a camera's own row is indexed under; nulls for
// hearsay or no such number.
std::pair<const DeviceTable::AtAddress*, size_t> DeviceTable::OwnGroupOf(int number) const
{
    const DeviceRecord* record = ByNumber(number);
    if (!record || Hearsay(number))
        return {nullptr, 0};
    const auto at = m_numbersByIp.find(std::string(FieldBytes(record->deviceIp)));
    const auto key = m_ipAndMacKeys.find(ipAndMacKey(*record));
    if (at == m_numbersByIp.end() || key == m_ipAndMacKeys.end() || key->second.group == 0)
        return {nullptr, 0};
    return {&at->second, key->second.group - 1};
}

DeviceTable::IpConflicts DeviceTable::IpConflictsOf(int number) const
{
    IpConflicts conflicts;
    const auto [at, own] = OwnGroupOf(number);
    if (!at)
        return conflicts;
    conflicts.count = at->macs - 1;
    for (size_t g = 0; g < at->groups.size() && conflicts.first.size() < kConflictsListed; ++g)
        if (g != own && at->groups[g].count != 0)
            conflicts.first.push_back(at->groups[g].first);
    return conflicts;
}

size_t DeviceTable::IpConflictCount(int number) const
{
    const AtAddress* at = OwnGroupOf(number).first;
    return at ? at->macs - 1 : 0;
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
