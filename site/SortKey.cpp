#include "site/SortKey.h"

#include "addressing/PlanFile.h"

namespace lynx::site {

SortKey SortKeyOf(const Site& site, int device, Column column)
{
    const DeviceRecord* record = site.Device(device);
    if (column == Column::Number || !record)
        return {0, static_cast<uint64_t>(device), {}};
    std::string text = ColumnText(*record, device, column);
    if (column == Column::Ip || column == Column::Gateway || column == Column::Mask) {
        if (const std::optional<uint32_t> address = addressing::DottedIpv4(text))
            return {0, *address, {}};
    }
    return TextKey(std::move(text));
}

} // namespace lynx::site
