// Who speaks for cameras it is not: each sender of hearsay (its address and
// the card it came from) is said once, in the selected language, however many
// cameras it claims and however often.
#pragma once

#include "protocol/DeviceRecord.h"
#include "protocol/DeviceTable.h"

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace lynx::site {

class HearsaySenders {
public:
    // The most senders remembered (and said); a flood from made-up addresses
    // says no more than this many lines.
    static constexpr size_t kMostSaid = 1000;

    // The line for a hearsay report from a sender not said yet: "192.168.1.66
    // (hardware address 02:…) claims the MAC 00:1A:2B:00:00:01"; empty for a
    // camera's own report, a sender said before, or one not known. The MAC is
    // as the report gave it: a front end escapes what it cannot show.
    std::string Note(const DeviceRecord& record, const protocol::ReportArrival& arrival);
    // Every sender of the table's hearsay not said yet, a line each.
    std::vector<std::string> NotesOf(const protocol::DeviceTable& table);

private:
    std::set<std::pair<std::string, std::uint64_t>> m_said;
};

} // namespace lynx::site
