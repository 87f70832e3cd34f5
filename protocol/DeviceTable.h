// The table of discovered devices: records in arrival order (owning), the map
// from each record's number (the device's id, shown in column 0) to the
// record, and the count, with the duplicate rules of the two filter boxes and
// the columns of a device list.
#pragma once

#include "protocol/DeviceRecord.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace lynx::protocol {

// The records by number, the numbers running from 1 to the count: a vector,
// so that a number finds its record without a search. It reads as a map from
// number to record (size, and number-record pairs in number order).
class RecordsByNumber {
public:
    class const_iterator {
    public:
        using value_type = std::pair<int, DeviceRecord*>;
        using difference_type = std::ptrdiff_t;
        const_iterator() = default;
        const_iterator(const RecordsByNumber* owner, size_t index) : m_owner(owner), m_index(index) {}
        value_type operator*() const { return {static_cast<int>(m_index) + 1, m_owner->m_records[m_index]}; }
        const_iterator& operator++()
        {
            ++m_index;
            return *this;
        }
        const_iterator operator++(int)
        {
            const_iterator before = *this;
            ++m_index;
            return before;
        }
        bool operator==(const const_iterator& other) const { return m_index == other.m_index; }

    private:
        const RecordsByNumber* m_owner = nullptr;
        size_t m_index = 0;
    };

    size_t size() const { return m_records.size(); }
    bool empty() const { return m_records.empty(); }
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, m_records.size()}; }
    // The record under number; null for none.
    DeviceRecord* Find(int number) const
    {
        return number >= 1 && static_cast<size_t>(number) <= m_records.size()
                   ? m_records[static_cast<size_t>(number - 1)]
                   : nullptr;
    }
    // The record under number; throws std::out_of_range for none.
    DeviceRecord* at(int number) const
    {
        if (DeviceRecord* record = Find(number))
            return record;
        throw std::out_of_range("no record under this number");
    }
    // Adds record under the next number, size() + 1.
    void Append(DeviceRecord* record) { m_records.push_back(record); }
    void clear() { std::vector<DeviceRecord*>().swap(m_records); }

private:
    std::vector<DeviceRecord*> m_records;  // by number - 1
};

} // namespace lynx::protocol

using DeviceList = std::list<std::unique_ptr<DeviceRecord>>;
using DeviceMap = lynx::protocol::RecordsByNumber;

namespace lynx::protocol {

struct DuplicateFilter {
    bool hideSameIp = true;   // box "屏蔽IP相同"
    bool hideSameMac = true;  // box "屏蔽MAC相同"
};

// Whether record matches a held record under the boxes: both boxes, equal IP
// and the same MAC (compared as MacKey compares it); one box, that test alone;
// no box, never. The walk states the rule plainly; the table answers the same
// question from its index.
bool IsDuplicate(const DeviceList& held, const DeviceRecord& record, DuplicateFilter filter);

// Where a report came in: the PC's interface and its local address, the
// address it came from, and the card that sent it.
struct ReportArrival {
    std::string interfaceName;
    std::string localAddress;
    std::string sourceAddress;  // dotted IPv4; empty when not known
    // The sender's hardware address (the neighbour table's; 0 when not known),
    // and whether it contradicts the MAC the report claims (HardwareWitness).
    uint64_t sourceHardware = 0;
    bool hardwareDisowns = false;
};

// A sender's IPv4 address (host byte order) as dotted text, empty for 0 (not
// known).
std::string SourceText(uint32_t hostOrder);

// Whether a report is the camera's own word: it came from the address it
// reports, from a card that does not contradict the MAC it claims, and, when
// card is not empty, in on that network card. The protocol has no
// authentication: a report that names one address and comes from another, or
// from a card the camera does not have, is another host speaking for it.
bool FromItsOwnAddress(const DeviceRecord& record, const ReportArrival& arrival, std::string_view card = {});
// Whether a report came from another address than the one it names, or from
// a card that contradicts the MAC it claims: hearsay, which anyone may send.
// A report whose sender is not known is not.
bool IsHearsay(const DeviceRecord& record, const ReportArrival& arrival);

// A kept device as a list shows it: its number and its record, and where
// its report came in.
struct DeviceRow {
    int number = 0;
    DeviceRecord record{};
    ReportArrival arrival;
};

// "eth1 (10.10.0.100)", or empty when the arrival is not known.
std::string ArrivalText(const ReportArrival& arrival);

// The devices of the current search: the records in arrival order (owning),
// the map from each record's number to the record, and the count of records
// added; the list and the map always hold the same records, and the
// map's keys run from 1 to the count. One thread owns it (the window's UI
// thread, lynx-cli's main thread).
class DeviceTable {
public:
    // Parses one report body as received (UTF-8) and adds it; 0 when dropped.
    int AddReport(std::string_view utf8Body, DuplicateFilter filter, ReportArrival arrival = {});
    // A record without IP or MAC, or a duplicate, is dropped (0); otherwise it
    // is appended under count + 1, which is returned.
    int Add(std::unique_ptr<DeviceRecord> record, DuplicateFilter filter, ReportArrival arrival = {});
    // The most rows held at once (0: no limit; kDefaultCapacity at first): a
    // flood of made-up reports must not exhaust the PC. A report that would
    // add a row beyond it is counted in Dropped() and not held.
    static constexpr size_t kDefaultCapacity = 65536;  // a /16
    void SetCapacity(size_t rows) { m_capacity = rows; }
    size_t Capacity() const { return m_capacity; }
    bool Full() const { return m_capacity != 0 && m_list.size() >= m_capacity; }
    uint64_t Dropped() const { return m_dropped; }
    // What IsDuplicate answers over the held records, from hash lookups, with
    // one rule more: a report that came from another address than the one it
    // names (hearsay: anyone may send it) never hides the camera's own. A
    // camera's own report is a duplicate only of another own one; hearsay is
    // a duplicate of any. A report whose sender is not known counts as own.
    bool IsDuplicate(const DeviceRecord& record, DuplicateFilter filter, bool hearsay = false) const;
    // Empties the table: the map first, then the records; numbers restart at
    // 1 and the count of dropped reports at 0.
    void Clear();

    DeviceRecord* ByNumber(int number) const;
    // The device under number was given a new address: its record holds it
    // (code page 936 is ASCII for dotted addresses), and ByIp and
    // IpConflictsOf answer by it from now on. Whose word the report was
    // stays as it was when it came in.
    void Readdress(int number, const std::string& ip, const std::string& gateway, const std::string& mask);
    // Where the report kept under number came in; none for no such number.
    std::optional<ReportArrival> ArrivalOf(int number) const;
    // Whether the report kept under number was hearsay when it came in
    // (IsHearsay): another host speaking for the camera. False for no such
    // number.
    bool Hearsay(int number) const;
    // The first record, in number order, whose deviceIp equals ip exactly.
    DeviceRecord* ByIp(std::string_view ip) const;
    // The other records holding this record's IP under another MAC (compared
    // as MacKey compares it): two cameras given one address. A camera that
    // answered twice is no conflict (and is listed once, by its first row),
    // and only the cameras' own reports count:
    // hearsay neither has a conflict nor makes one. A flood of made-up MACs
    // at one address must not make every row's work grow with their number,
    // so the count comes from an index and only the first few are listed.
    static constexpr size_t kConflictsListed = 8;
    struct IpConflicts {
        std::vector<int> first;  // the first row of each of the first kConflictsListed other MACs
        size_t count = 0;        // how many other MACs
        bool empty() const { return count == 0; }
    };
    IpConflicts IpConflictsOf(int number) const;
    size_t IpConflictCount(int number) const;
    // How many records are held.
    size_t Size() const { return m_list.size(); }
    // The kept devices in number order.
    std::vector<DeviceRow> Rows() const;

    const DeviceList& List() const { return m_list; }
    const DeviceMap& Map() const { return m_map; }
    const int& Count() const { return m_count; }

private:
    DeviceList m_list;
    DeviceMap m_map;
    int m_count = 0;
    // Where each report came in, by number - 1, in 12 bytes: the cards (name
    // and the PC's address) are few, the sender's IPv4 address fits in 32 bits,
    // and the senders' hardware addresses are few (a LAN's neighbours).
    struct StoredArrival {
        uint32_t card : 31;    // index into m_cards
        uint32_t hearsay : 1;  // IsHearsay when it came in
        uint32_t source;       // host byte order; 0 when not known
        uint32_t hardware;     // index + 1 into m_hardware (0: not known); kDisowns set when it contradicts the MAC
    };
    static constexpr uint32_t kDisowns = 0x80000000u;
    std::vector<StoredArrival> m_arrivals;
    std::vector<std::pair<std::string, std::string>> m_cards;
    std::vector<uint64_t> m_hardware;
    std::unordered_map<uint64_t, uint32_t> m_hardwareIndex;  // hardware address -> index + 1
    uint32_t StoreHardware(uint64_t hardware);
    size_t m_capacity = kDefaultCapacity;
    uint64_t m_dropped = 0;  // reports not held for the capacity, since the last Clear
    // The index behind the duplicate rules, ByIp and the conflicts: the
    // records holding each address, and of them the cameras' own reports
    // grouped by MAC, a group a count and its first number, so that a row's
    // conflicts are a count and a walk over the first few groups. An
    // address's entry stays once made (until Clear), as each IP and MAC's
    // key names its group by index.
    struct OwnGroup {
        int first = 0;       // the lowest number of the group's rows
        uint32_t count = 0;  // 0: none now (a camera readdressed away)
    };
    struct AtAddress {
        std::vector<int> numbers;      // ascending
        size_t own = 0;                // of them, the cameras' own reports
        size_t macs = 0;               // the groups with rows now
        std::vector<OwnGroup> groups;  // the own ones by MAC, in the order they came
    };
    std::unordered_map<std::string, AtAddress> m_numbersByIp;  // IP text -> its records
    // Each key held, and whether a camera's own report holds it.
    std::unordered_map<std::string, bool> m_macKeys;  // MacKey of each MAC
    struct IpAndMac {
        bool held = false;   // a report added under it (a readdressed row alone is not)
        bool own = false;    // a camera's own report among them
        uint32_t group = 0;  // its index + 1 in its address's groups; 0: none
    };
    std::unordered_map<std::string, IpAndMac> m_ipAndMacKeys;  // IP, a NUL, the MacKey
    void Index(int number, const DeviceRecord& record);
    void Unindex(int number, const DeviceRecord& record);
    std::pair<const AtAddress*, size_t> OwnGroupOf(int number) const;
};

// The columns of the device list, in the order the window shows them; the
// window, its export and lynx-cli's table, CSV and JSON share them.
enum class Column : int { Number, Ip, Mac, Gateway, Mask, Model, SoftwareVersion, Status };
inline constexpr int kColumnCount = 8;

// A column's title (UTF-8, Chinese; the window translates it).
const char* ColumnTitle(Column column);
// A device's text in a column (UTF-8): its number, IP, MAC, gateway, mask,
// model, "softwareVersion build[productDate]"; empty for the status column,
// which shows the device's status.
std::string ColumnText(const DeviceRecord& record, int number, Column column);
std::string SoftwareVersionText(const DeviceRecord& record);

// The details text of a device, one "label\t:\tvalue\n" line per field, UTF-8.
std::string DeviceDetailsText(const DeviceRecord& record);

// The device's web page: "http://" + deviceIp.
std::string DeviceUrl(const DeviceRecord& record);

} // namespace lynx::protocol
