// A device report body, as anyone on the LAN may send it to UDP 19027,
// through parsing into the device table under each setting of the duplicate
// boxes, and into the texts of its row and its details.
#include "protocol/DeviceTable.h"
#include "protocol/JsonMessages.h"

#include <cstdlib>
#include <string>

using namespace lynx::protocol;

namespace {

// Devices already listed, so that the duplicate rules have something to match.
const char* const kHeld[] = {
    R"({"data":{"deviceIp":"192.168.1.101","machineInfo":{"mac":"00:1A:2B:00:00:01","name":"车位引导相机"}}})",
    R"({"data":{"deviceIp":"192.168.1.102","machineInfo":{"mac":"00:1A:2B:00:00:02"}}})",
    R"({"data":{"deviceIp":"10.0.0.5","machineInfo":{"mac":"00:1A"}}})",
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string body(reinterpret_cast<const char*>(data), size);
    for (const DuplicateFilter filter : {DuplicateFilter{true, true}, DuplicateFilter{true, false},
                                         DuplicateFilter{false, true}, DuplicateFilter{false, false}}) {
        DeviceTable table;
        for (const char* held : kHeld)
            table.AddReport(held, DuplicateFilter{false, false}, {"eth0", "192.168.1.100", {}});
        DeviceRecord probe{};
        ParseReportBody(body, probe);
        // The index answers as the walk over the held records.
        if (table.IsDuplicate(probe, filter) != IsDuplicate(table.List(), probe, filter))
            std::abort();
        const int number = table.AddReport(body, filter);
        if (number == 0)
            continue;
        const DeviceRecord* record = table.ByNumber(number);
        if (!record || number != table.Count() || !table.ByIp(record->deviceIp))
            std::abort();
        for (int c = 0; c < kColumnCount; ++c)
            ColumnText(*record, number, static_cast<Column>(c));
        DeviceDetailsText(*record);
        DeviceUrl(*record);
    }
    // The window's own way in: the body converted to code page 936 first.
    DeviceRecord record{};
    ParseJsonMessage("basicCfg", &record, lynx::platform::Utf8ToCp936(body).c_str());
    return 0;
}
