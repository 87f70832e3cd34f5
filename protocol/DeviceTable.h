// The table of discovered devices: records in arrival order (owning), the map
// from the row number shown in column 0 to the record, and the row count, with
// the duplicate rules of the two filter boxes and the texts of a list row.
#pragma once

#include "protocol/DeviceRecord.h"

#include <array>
#include <list>
#include <map>
#include <memory>
#include <string>

using DeviceList = std::list<std::unique_ptr<DeviceRecord>>;
using DeviceMap = std::map<int, DeviceRecord*>;

namespace lynx::protocol {

struct DuplicateFilter {
    bool hideSameIp = true;   // box "屏蔽IP相同"
    bool hideSameMac = true;  // box "屏蔽MAC相同"
};

// Whether record matches a held record under the boxes: both boxes, equal IP
// and equal first six MAC bytes; one box, that test alone; no box, never.
bool IsDuplicate(const DeviceList& held, const DeviceRecord& record, DuplicateFilter filter);

// Parses one report body (UTF-8, as received) into a new zero-filled record.
// Never null: a report that does not parse gives an all-empty record.
std::unique_ptr<DeviceRecord> ParseDeviceReport(const char* utf8Body);

// Applies a parsed report to the table: a record without IP or MAC, or a
// duplicate, is dropped (returns 0); otherwise it is appended to list and map
// under deviceCount + 1, deviceCount grows, and the new row number is returned.
int AddDeviceRecord(DeviceList& list, DeviceMap& map, int& deviceCount,
                    std::unique_ptr<DeviceRecord> record, DuplicateFilter filter);

// Empties the table: records deleted, count 0, map empty.
void ClearDeviceTable(DeviceList& list, DeviceMap& map, int& deviceCount);

// The first record, in row-number order, whose deviceIp equals ip exactly.
DeviceRecord* FindDeviceByIp(const DeviceMap& map, const char* ip);

// The eight cells of a device's row, in UTF-8: number, IP, MAC, gateway, mask,
// model, "softwareVersion build[productDate]", and the empty status.
std::array<std::string, 8> DeviceRowTexts(const DeviceRecord& record, int number);
std::string SoftwareVersionText(const DeviceRecord& record);

// The details text of a device, one "label\t:\tvalue\n" line per field, UTF-8.
std::string DeviceDetailsText(const DeviceRecord& record);

// The device's web page: "http://" + deviceIp.
std::string DeviceUrl(const DeviceRecord& record);

} // namespace lynx::protocol
