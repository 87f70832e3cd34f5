#include "protocol/DeviceTable.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <vector>

using namespace lynx::protocol;

namespace {

constexpr DuplicateFilter kBoth{true, true};
constexpr DuplicateFilter kIpOnly{true, false};
constexpr DuplicateFilter kMacOnly{false, true};
constexpr DuplicateFilter kNone{false, false};

std::unique_ptr<DeviceRecord> device(const char* ip, const char* mac)
{
    auto record = std::make_unique<DeviceRecord>();
    std::strcpy(record->deviceIp, ip);
    std::strcpy(record->mac, mac);
    return record;
}

// The table, with the rows it was told to add.
struct Table {
    DeviceTable table;
    const DeviceList& list = table.List();
    const DeviceMap& map = table.Map();
    const int& count = table.Count();

    int add(const char* ip, const char* mac, DuplicateFilter filter) { return table.Add(device(ip, mac), filter); }

    void expectConsistent() const
    {
        ASSERT_EQ(static_cast<int>(list.size()), count);
        ASSERT_EQ(static_cast<int>(map.size()), count);
        int key = 1;
        auto it = list.begin();
        for (const auto& [number, record] : map) {
            EXPECT_EQ(number, key++);
            EXPECT_EQ(record, it->get());
            ++it;
        }
    }
};

} // namespace

// ---- Duplicate rules ------------------------------------------------------

TEST(DuplicateRules, BothBoxesNeedEqualIpAndTheSameMac)
{
    Table t;
    EXPECT_EQ(t.add("192.168.1.20", "00:1A:2B:00:00:01", kBoth), 1);
    EXPECT_EQ(t.add("192.168.1.20", "00:1A:2B:00:00:01", kBoth), 0) << "the same device answering twice";
    EXPECT_EQ(t.add("192.168.1.20", "00-1a-2b-00-00-01", kBoth), 0) << "the same MAC in other spelling";
    EXPECT_EQ(t.add("192.168.1.20", "00:1A:2B:FF:FF:FF", kBoth), 2) << "one maker's second camera, same IP";
    EXPECT_EQ(t.add("192.168.1.20", "00:1B:2B:00:00:01", kBoth), 3) << "IP equal, MAC differs";
    EXPECT_EQ(t.add("192.168.1.21", "00:1A:2B:00:00:01", kBoth), 4) << "MAC equal, IP differs";
    t.expectConsistent();
}

TEST(DuplicateRules, CamerasFreshFromTheFactoryAtOneAddressAreAllListedAndMarked)
{
    // 200 cameras of one maker, unboxed at one default address, with both
    // boxes ticked as the window opens: every one is listed, and each is a
    // conflict with all the others.
    Table t;
    char mac[32];
    for (int i = 0; i < 200; ++i) {
        std::snprintf(mac, sizeof mac, "00:1A:2B:3C:%02X:%02X", i / 256, i % 256);
        ASSERT_EQ(t.add("192.168.1.100", mac, kBoth), i + 1) << mac;
        ASSERT_EQ(t.add("192.168.1.100", mac, kBoth), 0) << "answering twice: " << mac;
    }
    t.expectConsistent();
    for (const int number : {1, 200}) {
        const DeviceTable::IpConflicts conflicts = t.table.IpConflictsOf(number);
        EXPECT_EQ(conflicts.count, 199u);
        EXPECT_EQ(t.table.IpConflictCount(number), 199u);
        // Only the first few are listed: every row listing all the others
        // would grow as the square of their number.
        ASSERT_EQ(conflicts.first.size(), DeviceTable::kConflictsListed);
        EXPECT_EQ(conflicts.first.front(), number == 1 ? 2 : 1);
    }
}

TEST(DuplicateRules, HideSameMacAloneComparesTheWholeMac)
{
    Table t;
    EXPECT_EQ(t.add("192.168.1.20", "00:1A:2B:00:00:02", kMacOnly), 1);
    EXPECT_EQ(t.add("192.168.1.21", "00:1A:2B:00:00:01", kMacOnly), 2) << "one maker, another camera";
    EXPECT_EQ(t.add("192.168.1.22", "00:1A:2B:00:00:02", kMacOnly), 0) << "the same camera at another IP";
    EXPECT_EQ(t.add("192.168.1.23", "00:1a:2b:00:00:02", kMacOnly), 0) << "letter case";
    EXPECT_EQ(t.add("192.168.1.24", "001A.2B00.0002", kMacOnly), 0) << "separators";
    EXPECT_EQ(t.add("192.168.1.25", "10:1A:2B:00:00:02", kMacOnly), 3) << "first byte differs";
    t.expectConsistent();
}

TEST(DuplicateRules, MacsThatAreNotTwelveHexDigitsCompareAsWholeTexts)
{
    Table t;
    EXPECT_EQ(t.add("10.0.0.1", "00:1A", kMacOnly), 1);
    EXPECT_EQ(t.add("10.0.0.2", "00:1A", kMacOnly), 0);
    EXPECT_EQ(t.add("10.0.0.3", "00:1A:", kMacOnly), 2);
    EXPECT_EQ(t.add("10.0.0.4", "00:1", kMacOnly), 3);
    EXPECT_EQ(t.add("10.0.0.5", "cam-7", kMacOnly), 4);
    EXPECT_EQ(t.add("10.0.0.6", "CAM-7", kMacOnly), 0) << "letter case";
}

TEST(DuplicateRules, NoBoxKeepsEveryDevice)
{
    Table t;
    EXPECT_EQ(t.add("192.168.1.20", "00:1A:2B:00:00:01", kNone), 1);
    EXPECT_EQ(t.add("192.168.1.20", "00:1A:2B:00:00:01", kNone), 2);
    EXPECT_FALSE(IsDuplicate(t.list, *device("192.168.1.20", "00:1A:2B:00:00:01"), kNone));
    t.expectConsistent();
}

TEST(DuplicateRules, FirstMatchAnywhereInTheTableCounts)
{
    Table t;
    t.add("10.0.0.1", "AA:AA:AA:AA:AA:AA", kNone);
    t.add("10.0.0.2", "BB:BB:BB:BB:BB:BB", kNone);
    t.add("10.0.0.3", "CC:CC:CC:CC:CC:CC", kNone);
    EXPECT_TRUE(IsDuplicate(t.list, *device("10.0.0.3", "cc:cc:cc:cc:cc:cc"), kBoth));
    EXPECT_FALSE(IsDuplicate(t.list, *device("10.0.0.3", "CC:CC:CC:00:00:00"), kBoth)) << "a prefix is not the MAC";
    EXPECT_FALSE(IsDuplicate(t.list, *device("10.0.0.3", "AA:AA:AA:AA:AA:AA"), kBoth))
        << "IP of one record and MAC of another is no duplicate";
    EXPECT_TRUE(IsDuplicate(t.list, *device("10.0.0.9", "BB-BB-BB-BB-BB-BB"), kMacOnly));
}

TEST(DuplicateRules, DeviceWithoutIpOrMacIsNeverAdded)
{
    for (DuplicateFilter filter : {kBoth, kIpOnly, kMacOnly, kNone}) {
        Table t;
        EXPECT_EQ(t.add("", "00:1A:2B:00:00:01", filter), 0);
        EXPECT_EQ(t.add("192.168.1.20", "", filter), 0);
        EXPECT_EQ(t.add("", "", filter), 0);
        EXPECT_EQ(t.count, 0);
        t.expectConsistent();
    }
    Table t;
    EXPECT_EQ(t.table.Add(nullptr, kNone), 0);
}

TEST(DuplicateRules, ChangedBoxesApplyToLaterReportsOnly)
{
    Table t;
    t.add("192.168.1.20", "00:1A:2B:00:00:01", kNone);
    t.add("192.168.1.20", "00:1A:2B:00:00:01", kNone);
    EXPECT_EQ(t.add("192.168.1.20", "00:1A:2B:00:00:01", kBoth), 0);
    EXPECT_EQ(t.count, 2) << "rows already listed stay";
    EXPECT_EQ(t.add("192.168.1.20", "FF:1A:2B:00:00:01", kBoth), 3);
    EXPECT_EQ(t.add("192.168.1.20", "EE:1A:2B:00:00:01", kIpOnly), 0);
    t.expectConsistent();
}

// ---- The table ------------------------------------------------------------

TEST(DeviceTable, RowsAreNumberedInArrivalOrder)
{
    Table t;
    const char* ips[] = {"10.0.0.5", "10.0.0.1", "10.0.0.9"};
    int number = 0;
    for (const char* ip : ips)
        EXPECT_EQ(t.add(ip, ip, kBoth), ++number);
    t.expectConsistent();
    EXPECT_STREQ(t.map.at(1)->deviceIp, "10.0.0.5");
    EXPECT_STREQ(t.map.at(3)->deviceIp, "10.0.0.9");
}

TEST(DeviceTable, ClearingEmptiesEverythingAndNumbersRestartAtOne)
{
    Table t;
    t.add("10.0.0.1", "AA", kBoth);
    t.add("10.0.0.2", "BB", kBoth);
    t.table.Clear();
    EXPECT_TRUE(t.list.empty());
    EXPECT_TRUE(t.map.empty());
    EXPECT_EQ(t.count, 0);
    EXPECT_EQ(t.add("10.0.0.1", "AA", kBoth), 1) << "no duplicate of a cleared record";
    t.expectConsistent();
}

TEST(DeviceTable, FindByIpTakesTheFirstExactMatchByRowNumber)
{
    Table t;
    t.add("192.168.1.50", "AA", kNone);
    t.add("192.168.1.5", "BB", kNone);
    t.add("192.168.1.5", "CC", kNone);
    DeviceRecord* found = t.table.ByIp("192.168.1.5");
    ASSERT_NE(found, nullptr);
    EXPECT_STREQ(found->mac, "BB");
    EXPECT_EQ(t.table.ByIp("192.168.1"), nullptr);
    EXPECT_EQ(t.table.ByIp("192.168.1.500"), nullptr);
    EXPECT_EQ(t.table.ByIp(""), nullptr);
    EXPECT_EQ(DeviceTable().ByIp("192.168.1.5"), nullptr);
    EXPECT_EQ(t.table.ByNumber(2), found);
    EXPECT_EQ(t.table.ByNumber(4), nullptr);
}

TEST(DeviceTable, EachRowKeepsWhereItsReportCameIn)
{
    // Two cards, senders known and not: every row gives back its own.
    DeviceTable table;
    const ReportArrival arrivals[] = {
        {"eth0", "192.168.1.100", "192.168.1.20"}, {"eth1", "10.0.0.100", "10.0.0.7"},
        {"eth0", "192.168.1.100", ""}, {"", "", ""}, {"eth1", "10.0.0.100", "255.255.255.255"}};
    int number = 0;
    for (const ReportArrival& arrival : arrivals) {
        auto record = device(("10.1.0." + std::to_string(number)).c_str(), ("00:1A:2B:00:00:0" + std::to_string(number)).c_str());
        EXPECT_EQ(table.Add(std::move(record), kBoth, arrival), ++number);
    }
    for (int n = 1; n <= number; ++n) {
        const auto kept = table.ArrivalOf(n);
        ASSERT_TRUE(kept.has_value()) << n;
        const ReportArrival& sent = arrivals[n - 1];
        EXPECT_EQ(kept->interfaceName, sent.interfaceName) << n;
        EXPECT_EQ(kept->localAddress, sent.localAddress) << n;
        EXPECT_EQ(kept->sourceAddress, sent.sourceAddress) << n;
    }
    EXPECT_FALSE(table.ArrivalOf(0).has_value());
    EXPECT_FALSE(table.ArrivalOf(number + 1).has_value());
}

TEST(DeviceTable, HearsayNeverHidesTheCamerasOwnReport)
{
    // Another host speaks for the camera first; the camera's own report is
    // still listed, under every box, and hides what comes after it.
    const ReportArrival own{"eth0", "192.168.1.100", "192.168.1.20"};
    const ReportArrival hearsay{"eth0", "192.168.1.100", "192.168.1.66"};
    const ReportArrival unknown{"eth0", "192.168.1.100", ""};
    const auto camera = [] { return device("192.168.1.20", "00:1A:2B:00:00:01"); };
    for (const DuplicateFilter filter : {kBoth, kIpOnly, kMacOnly}) {
        DeviceTable table;
        EXPECT_EQ(table.Add(camera(), filter, hearsay), 1);
        EXPECT_EQ(table.Add(camera(), filter, hearsay), 0) << "hearsay hides hearsay";
        EXPECT_EQ(table.Add(camera(), filter, own), 2);
        EXPECT_EQ(table.Add(camera(), filter, own), 0);
        EXPECT_EQ(table.Add(camera(), filter, hearsay), 0);
        EXPECT_EQ(table.Add(camera(), filter, unknown), 0) << "a sender not known counts as the camera";

        DeviceTable unknownFirst;
        EXPECT_EQ(unknownFirst.Add(camera(), filter, unknown), 1);
        EXPECT_EQ(unknownFirst.Add(camera(), filter, own), 0);
    }
    EXPECT_TRUE(IsHearsay(*camera(), hearsay));
    EXPECT_FALSE(IsHearsay(*camera(), own));
    EXPECT_FALSE(IsHearsay(*camera(), unknown));
}

TEST(DeviceTable, ReportBodyBecomesARecord)
{
    Table t;
    EXPECT_EQ(t.table.AddReport(R"({"data":{"deviceIp":"192.168.1.20","machineInfo":{)"
                                R"("mac":"00:1A:2B:3C:4D:5E","name":")" "\xE4\xB8\xAD" R"("}}})",
                                kBoth),
              1);
    const DeviceRecord* record = t.table.ByNumber(1);
    ASSERT_NE(record, nullptr);
    EXPECT_STREQ(record->deviceIp, "192.168.1.20");
    EXPECT_STREQ(record->name, "\xD6\xD0");
    ASSERT_EQ(t.table.Rows().size(), 1u);
    EXPECT_EQ(t.table.Rows()[0].number, 1);
}

TEST(DeviceTable, UnparsableReportIsDropped)
{
    for (const char* body : {"not json", "[1]", R"({"data":{"deviceIp":[1]}})", ""}) {
        Table t;
        EXPECT_EQ(t.table.AddReport(body, kNone), 0) << body;
        EXPECT_EQ(t.count, 0);
    }
}

// ---- Texts ----------------------------------------------------------------

namespace {

DeviceRecord shownDevice()
{
    DeviceRecord record{};
    std::strcpy(record.deviceIp, "192.168.1.20");
    std::strcpy(record.mac, "00:1A:2B:3C:4D:5E");
    std::strcpy(record.gatewayIp, "192.168.1.1");
    std::strcpy(record.netMask, "255.255.255.0");
    std::strcpy(record.model, "\xD6\xD0" "C200");  // 中C200
    std::strcpy(record.softwareVersion, "V1.0");
    std::strcpy(record.productDate, "2018-11-07");
    std::strcpy(record.deviceId, "KV0001");
    std::strcpy(record.name, "\xCF\xE0\xBB\xFA");  // 相机
    std::strcpy(record.manufacturer, "Kova");
    std::strcpy(record.company, "Harbor");
    std::strcpy(record.hardwareVersion, "HW2");
    record.productType = 4464;
    record.sn = -12;
    return record;
}

// A device's row: its text in each column.
std::array<std::string, 8> DeviceRowTexts(const DeviceRecord& record, int number)
{
    std::array<std::string, 8> texts;
    for (int c = 0; c < kColumnCount; ++c)
        texts[static_cast<size_t>(c)] = ColumnText(record, number, static_cast<Column>(c));
    return texts;
}

} // namespace

TEST(RowTexts, EightColumnsInUtf8)
{
    const auto row = DeviceRowTexts(shownDevice(), 7);
    const std::array<std::string, 8> expected = {
        "7", "192.168.1.20", "00:1A:2B:3C:4D:5E", "192.168.1.1", "255.255.255.0",
        "\xE4\xB8\xAD" "C200", "V1.0 build[2018-11-07]", ""};
    EXPECT_EQ(row, expected);
}

TEST(RowTexts, VersionWithoutDateShowsEmptyBrackets)
{
    DeviceRecord record = shownDevice();
    std::memset(record.productDate, 0, sizeof record.productDate);
    EXPECT_EQ(SoftwareVersionText(record), "V1.0 build[]");
    EXPECT_EQ(DeviceRowTexts(record, 1)[6], "V1.0 build[]");
    EXPECT_EQ(SoftwareVersionText(DeviceRecord{}), " build[]");
}

TEST(RowTexts, FullFieldsWithoutTerminatorStayWithinTheirField)
{
    DeviceRecord record{};
    std::memset(record.softwareVersion, 'S', sizeof record.softwareVersion);
    std::memset(record.hardwareVersion, 'H', sizeof record.hardwareVersion);
    EXPECT_EQ(SoftwareVersionText(record), std::string(30, 'S') + " build[]");
}

TEST(DetailsText, EveryFieldWithItsLabel)
{
    EXPECT_EQ(DeviceDetailsText(shownDevice()),
              "IP\t\t:\t192.168.1.20\n"
              "ID\t\t:\tKV0001\n"
              "name\t\t:\t" "\xE7\x9B\xB8\xE6\x9C\xBA" "\n"
              "model\t\t:\t" "\xE4\xB8\xAD" "C200\n"
              "manufacturer\t:\tKova\n"
              "company\t\t:\tHarbor\n"
              "MAC\t\t:\t00:1A:2B:3C:4D:5E\n"
              "protocal ver\t:\t0.0\n"
              "product type\t:\t4464\n"
              "product sub type\t:\t0\n"
              "sn\t\t:\t-12\n"
              "HW feature\t:\t0x0\n"
              "consumer sn\t:\t0\n"
              "SW VER\t\t:\tV1.0 build[2018-11-07]\n"
              "HW VER\t\t:\tHW2\n");
}

TEST(DetailsText, NumbersFormattedAsTheCameraToolShowsThem)
{
    DeviceRecord record{};
    record.protocolVersion = 0x020B;
    record.productType = 65535;
    record.productSubType = -4;
    record.hwFeature = 0xDEADBEEF;
    record.consumerSn = 2147483647;
    const std::string text = DeviceDetailsText(record);
    EXPECT_NE(text.find("protocal ver\t:\t2.11\n"), std::string::npos) << text;
    EXPECT_NE(text.find("product type\t:\t65535\n"), std::string::npos) << text;
    EXPECT_NE(text.find("product sub type\t:\t-4\n"), std::string::npos) << text;
    EXPECT_NE(text.find("HW feature\t:\t0xdeadbeef\n"), std::string::npos) << text;
    EXPECT_NE(text.find("consumer sn\t:\t2147483647\n"), std::string::npos) << text;
    EXPECT_NE(text.find("SW VER\t\t:\t build[]\n"), std::string::npos) << text;
}

TEST(DetailsText, WebAddressIsTheRecordedIp)
{
    EXPECT_EQ(DeviceUrl(shownDevice()), "http://192.168.1.20");
    EXPECT_EQ(DeviceUrl(DeviceRecord{}), "http://");
}

// ---- The index answers as the walk does -----------------------------------

TEST(DeviceTableIndex, AnswersExactlyAsTheWalkOverRandomTablesAndBoxes)
{
    // Small pools, so that equal IPs, MACs equal in other spellings, MACs that
    // share a prefix, short ones and their pairs come up often.
    const char* ips[] = {"10.0.0.1", "10.0.0.10", "10.0.0.100", "192.168.1.5", "192.168.1.50", "1.2.3.4"};
    const char* macs[] = {"00:1A:2B:00:00:01", "00-1a-2b-00-00-01", "00:1A:2B:FF:FF:FF", "00:1A:2C:00:00:01",
                          "00:1A", "00:1a", "00:1", "AA:BB:CC:DD:EE:FF", "AA:BB:C"};
    const DuplicateFilter boxes[] = {kBoth, kIpOnly, kMacOnly, kNone};
    for (unsigned seed = 1; seed <= 50; ++seed) {
        std::mt19937 random(seed);
        auto pick = [&random](auto& pool) { return pool[random() % std::size(pool)]; };
        DeviceTable table;
        for (int step = 0; step < 200; ++step) {
            auto record = device(pick(ips), pick(macs));
            const DuplicateFilter filter = pick(boxes);
            ASSERT_EQ(table.IsDuplicate(*record, filter), IsDuplicate(table.List(), *record, filter))
                << "seed " << seed << " step " << step;
            const size_t before = table.Size();
            const int number = table.Add(std::move(record), filter);
            ASSERT_EQ(table.Size(), number == 0 ? before : static_cast<size_t>(number)) << "seed " << seed;
        }
        for (const char* ip : ips) {
            const DeviceRecord* walked = nullptr;
            for (const auto& [number, record] : table.Map())
                if (std::string(record->deviceIp) == ip) {
                    walked = record;
                    break;
                }
            EXPECT_EQ(table.ByIp(ip), walked) << "seed " << seed << " " << ip;
        }
    }
}

TEST(DeviceTableCapacity, ReportsBeyondTheCapacityAreCountedNotHeld)
{
    DeviceTable table;
    EXPECT_EQ(table.Capacity(), DeviceTable::kDefaultCapacity);
    table.SetCapacity(3);
    char mac[32];
    for (int i = 0; i < 5; ++i) {
        std::snprintf(mac, sizeof mac, "02:00:00:00:00:%02X", i);
        EXPECT_EQ(table.Add(device("10.0.0.1", mac), kBoth), i < 3 ? i + 1 : 0) << i;
    }
    EXPECT_TRUE(table.Full());
    EXPECT_EQ(table.Size(), 3u);
    EXPECT_EQ(table.Dropped(), 2u);
    EXPECT_EQ(table.Add(device("10.0.0.1", "02:00:00:00:00:00"), kBoth), 0);
    EXPECT_EQ(table.Dropped(), 2u) << "a duplicate is no dropped row";
    table.Clear();
    EXPECT_EQ(table.Dropped(), 0u);
    EXPECT_EQ(table.Add(device("10.0.0.1", mac), kBoth), 1);
    table.SetCapacity(0);
    for (int i = 0; i < 10; ++i) {
        std::snprintf(mac, sizeof mac, "02:00:00:00:01:%02X", i);
        EXPECT_GT(table.Add(device("10.0.0.2", mac), kBoth), 0) << "no limit";
    }
}

TEST(ReportSource, OnlyAReportFromTheAddressItNamesIsTheCamerasOwnWord)
{
    const auto record = device("192.168.1.20", "00:1A:2B:00:00:01");
    const struct {
        ReportArrival arrival;
        std::string card;
        bool own;
    } cases[] = {
        {{"eth0", "192.168.1.100", "192.168.1.20"}, "", true},
        {{"eth0", "192.168.1.100", "192.168.1.20"}, "eth0", true},
        {{"eth1", "10.0.0.100", "192.168.1.20"}, "eth0", false},  // another card
        {{"eth0", "192.168.1.100", "192.168.1.66"}, "eth0", false},  // a third host
        {{"eth0", "192.168.1.100", ""}, "", false},                   // source not known
    };
    for (const auto& c : cases)
        EXPECT_EQ(FromItsOwnAddress(*record, c.arrival, c.card), c.own)
            << c.arrival.interfaceName << " " << c.arrival.sourceAddress << " card " << c.card;
}

namespace {

const ReportArrival kFromStranger{"eth0", "192.168.1.100", "192.168.1.66"};

ReportArrival FromItself(const char* ip)
{
    return {"eth0", "192.168.1.100", ip};
}

} // namespace

TEST(IpConflicts, OnlyTheCamerasOwnReportsConflictAndHearsayNeitherHasNorMakesOne)
{
    const struct {
        const char* name;
        DuplicateFilter filter;
    } filters[] = {{"both boxes", kBoth}, {"no box", kNone}, {"MAC box", kMacOnly}};
    for (const auto& f : filters) {
        DeviceTable table;
        ASSERT_EQ(table.Add(device("192.168.1.21", "00:1A:2B:00:00:01"), f.filter, FromItself("192.168.1.21")), 1);
        // Another host claims the camera's address under made-up MACs.
        ASSERT_EQ(table.Add(device("192.168.1.21", "FE:00:00:00:00:01"), f.filter, kFromStranger), 2) << f.name;
        ASSERT_EQ(table.Add(device("192.168.1.21", "FE:00:00:00:00:02"), f.filter, kFromStranger), 3) << f.name;
        EXPECT_TRUE(table.Hearsay(2)) << f.name;
        EXPECT_FALSE(table.Hearsay(1)) << f.name;
        for (const int number : {1, 2, 3}) {
            EXPECT_TRUE(table.IpConflictsOf(number).empty()) << f.name << " " << number;
            EXPECT_EQ(table.IpConflictCount(number), 0u) << f.name << " " << number;
        }
        // A second camera given the same address, in its own word, does.
        ASSERT_EQ(table.Add(device("192.168.1.21", "00:1A:2B:00:00:02"), f.filter, FromItself("192.168.1.21")), 4);
        EXPECT_EQ(table.IpConflictsOf(1).first, std::vector<int>{4}) << f.name;
        EXPECT_EQ(table.IpConflictsOf(4).first, std::vector<int>{1}) << f.name;
        EXPECT_TRUE(table.IpConflictsOf(2).empty()) << f.name;
    }
}

TEST(IpConflicts, TheCountFollowsReaddressingAndAReaddressedCameraStaysItsOwnWord)
{
    DeviceTable table;
    ASSERT_EQ(table.Add(device("10.0.0.1", "02:00:00:00:00:01"), kBoth, FromItself("10.0.0.1")), 1);
    ASSERT_EQ(table.Add(device("10.0.0.2", "02:00:00:00:00:02"), kBoth, FromItself("10.0.0.2")), 2);
    ASSERT_EQ(table.Add(device("10.0.0.3", "02:00:00:00:00:03"), kBoth, FromItself("10.0.0.3")), 3);
    table.Readdress(2, "10.0.0.1", "10.0.0.254", "255.255.255.0");
    table.Readdress(3, "10.0.0.1", "10.0.0.254", "255.255.255.0");
    EXPECT_FALSE(table.Hearsay(2));
    EXPECT_EQ(table.IpConflictCount(1), 2u);
    EXPECT_EQ(table.IpConflictsOf(1).first, (std::vector<int>{2, 3}));
    table.Readdress(2, "10.0.0.9", "10.0.0.254", "255.255.255.0");
    EXPECT_EQ(table.IpConflictsOf(1).first, std::vector<int>{3});
    EXPECT_EQ(table.IpConflictCount(2), 0u);
    EXPECT_EQ(table.ByIp("10.0.0.9"), table.ByNumber(2));
    table.Readdress(3, "10.0.0.3", "10.0.0.254", "255.255.255.0");
    EXPECT_TRUE(table.IpConflictsOf(1).empty());
}

TEST(IpConflicts, ACameraAnsweringManyTimesWithNoBoxIsOneConflictListedOnce)
{
    // No box ticked: every answer is a row. One camera's thousand answers at
    // the address of another stay a bounded walk for every row.
    DeviceTable table;
    for (int i = 0; i < 1000; ++i)
        ASSERT_GT(table.Add(device("10.0.0.1", "02:00:00:00:00:01"), kNone, FromItself("10.0.0.1")), 0);
    ASSERT_EQ(table.Add(device("10.0.0.1", "02:00:00:00:00:02"), kNone, FromItself("10.0.0.1")), 1001);
    EXPECT_EQ(table.IpConflictsOf(1).first, std::vector<int>{1001});
    EXPECT_EQ(table.IpConflictCount(500), 1u);
    const DeviceTable::IpConflicts last = table.IpConflictsOf(1001);
    EXPECT_EQ(last.count, 1u);
    EXPECT_EQ(last.first, std::vector<int>{1}) << "one camera, listed once by its first row";
    // Its first row moves away: the next one stands for it.
    table.Readdress(1, "10.0.0.9", "10.0.0.254", "255.255.255.0");
    EXPECT_EQ(table.IpConflictsOf(1001).first, std::vector<int>{2});
    EXPECT_EQ(table.IpConflictCount(1001), 1u);
    EXPECT_EQ(table.IpConflictCount(1), 0u);
}

TEST(DeviceTable, AReportItsCardDisownsNeverHidesTheCamerasOwnAndKeepsItsCard)
{
    // A third host names the camera's own address, from a card that is not
    // the camera's: hearsay, though its address says nothing against it.
    const ReportArrival disowned{"eth0", "192.168.1.100", "192.168.1.20", 0x02AABBCCDDEE, true};
    const ReportArrival own{"eth0", "192.168.1.100", "192.168.1.20", 0x001A2B000001, false};
    const auto camera = [] { return device("192.168.1.20", "00:1A:2B:00:00:01"); };
    for (const DuplicateFilter filter : {kBoth, kIpOnly, kMacOnly}) {
        DeviceTable table;
        EXPECT_EQ(table.Add(camera(), filter, disowned), 1);
        EXPECT_EQ(table.Add(camera(), filter, own), 2) << "the camera's own report is listed beside it";
        EXPECT_EQ(table.Add(camera(), filter, disowned), 0);
        const auto first = table.ArrivalOf(1), second = table.ArrivalOf(2);
        ASSERT_TRUE(first && second);
        EXPECT_EQ(first->sourceHardware, disowned.sourceHardware);
        EXPECT_TRUE(first->hardwareDisowns);
        EXPECT_EQ(second->sourceHardware, own.sourceHardware);
        EXPECT_FALSE(second->hardwareDisowns);
    }
    EXPECT_TRUE(IsHearsay(*camera(), disowned));
    EXPECT_FALSE(FromItsOwnAddress(*camera(), disowned));
    EXPECT_FALSE(IsHearsay(*camera(), own));
    EXPECT_TRUE(FromItsOwnAddress(*camera(), own, "eth0"));
}
