// Each sender of hearsay is named once, with the card it came from and the
// MAC it claims.
#include "site/HearsaySenders.h"

#include "platform/Translation.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using namespace lynx;
using protocol::ReportArrival;

DeviceRecord Camera(const char* ip, const char* mac)
{
    DeviceRecord record{};
    std::strncpy(record.deviceIp, ip, sizeof record.deviceIp - 1);
    std::strncpy(record.mac, mac, sizeof record.mac - 1);
    return record;
}

TEST(HearsaySenders, NamesEachSenderOnceAndNeverACamerasOwnReport)
{
    platform::SelectLanguage("en");
    site::HearsaySenders senders;
    const ReportArrival stranger{"eth0", "192.168.1.100", "192.168.1.66", 0x02AABBCCDDEE, true};
    const ReportArrival own{"eth0", "192.168.1.100", "192.168.1.101", 0x001A2B000001, false};
    const ReportArrival otherAddress{"eth0", "192.168.1.100", "192.168.1.77", 0, false};
    const struct {
        DeviceRecord record;
        ReportArrival arrival;
        std::string said;
    } cases[] = {
        {Camera("192.168.1.66", "00:1A:2B:00:00:01"), stranger,
         "192.168.1.66 (hardware address 02:aa:bb:cc:dd:ee) claims the MAC 00:1A:2B:00:00:01"},
        {Camera("192.168.1.66", "00:1A:2B:00:00:02"), stranger, ""},  // the same sender, another camera
        {Camera("192.168.1.101", "00:1A:2B:00:00:01"), own, ""},
        {Camera("192.168.1.102", "00:1A:2B:00:00:02\x1b[2K\a"), otherAddress,
         "192.168.1.77 claims the MAC 00:1A:2B:00:00:02\x1b[2K\a"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(senders.Note(c.record, c.arrival), c.said) << c.arrival.sourceAddress;
    platform::SelectLanguage("");
    EXPECT_EQ(site::HearsaySenders().Note(cases[0].record, cases[0].arrival),
              "192.168.1.66（硬件地址 02:aa:bb:cc:dd:ee）自称 MAC 00:1A:2B:00:00:01");
}

TEST(HearsaySenders, AFloodOfSendersSaysABoundedNumberOfLines)
{
    site::HearsaySenders senders;
    size_t said = 0;
    for (int i = 0; i < 5000; ++i) {
        const std::string from = "10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
        said += senders.Note(Camera("192.168.1.101", "00:1A:2B:00:00:01"), {"eth0", "10.0.0.100", from, 0, false})
                    .empty()
                    ? 0
                    : 1;
    }
    EXPECT_EQ(said, site::HearsaySenders::kMostSaid);
}

} // namespace
