// The three output formats of lynx-cli over records made as the device table
// makes them (code page 936 texts).
#include "cli/DeviceOutput.h"
#include "protocol/JsonMessages.h"
#include "tests/support/PcCards.h"
#include "RawControls.h"

#include <gtest/gtest.h>
#include <json/reader.h>

#include <cstring>
#include <memory>
#include <sstream>

namespace {

using namespace lynx::cli;

template <size_t N>
void Put(char (&field)[N], const std::string& utf8)
{
    std::string cp936 = lynx::platform::Utf8ToCp936(utf8);
    std::strncpy(field, cp936.c_str(), N - 1);
}

DeviceRow Row(int number, const std::string& ip, const std::string& name, const std::string& model = "KV-PG200")
{
    DeviceRow row;
    row.number = number;
    Put(row.record.deviceIp, ip);
    Put(row.record.mac, "00:1A:2B:00:00:0" + std::to_string(number));
    Put(row.record.gatewayIp, "192.168.1.1");
    Put(row.record.netMask, "255.255.255.0");
    Put(row.record.model, model);
    Put(row.record.name, name);
    Put(row.record.softwareVersion, "V1.0");
    Put(row.record.productDate, "2018-11-07");
    Put(row.record.deviceId, "KV0" + std::to_string(number));
    row.record.sn = 1000 + number;
    row.record.productType = 3;
    return row;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

TEST(DisplayWidth, CountsWideCharactersTwiceAndCombiningMarksNotAtAll)
{
    EXPECT_EQ(DisplayWidth(""), 0u);
    EXPECT_EQ(DisplayWidth("192.168.1.1"), 11u);
    EXPECT_EQ(DisplayWidth("序号"), 4u);
    EXPECT_EQ(DisplayWidth("MAC地址"), 7u);
    EXPECT_EQ(DisplayWidth("ＡＢ"), 4u);          // full-width Latin
    EXPECT_EQ(DisplayWidth("e\xCC\x81"), 1u);     // e + combining acute
    EXPECT_EQ(DisplayWidth("\xFF\xFE"), 2u);      // not UTF-8: one column a byte
    EXPECT_EQ(DisplayWidth("\xE4\xB8"), 2u);      // a cut sequence likewise
}

TEST(TableFormat, EveryColumnStartsAtTheSameDisplayColumnInEveryLine)
{
    std::vector<DeviceRow> rows = {Row(1, "192.168.1.101", "相机"), Row(2, "10.0.0.2", "cam", "长型号名称"),
                                   Row(10, "192.168.100.200", "x")};
    auto lines = Lines(FormatTable(rows));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].rfind("序号", 0), 0u);
    // Where the IP and the version text start, in display columns.
    auto columnOf = [](const std::string& line, const std::string& text) {
        size_t at = line.find(text);
        return at == std::string::npos ? size_t(-1) : DisplayWidth(line.substr(0, at));
    };
    size_t ipColumn = columnOf(lines[0], "设备IP");
    size_t versionColumn = columnOf(lines[0], "软件版本");
    EXPECT_EQ(columnOf(lines[1], "192.168.1.101"), ipColumn);
    EXPECT_EQ(columnOf(lines[2], "10.0.0.2"), ipColumn);
    EXPECT_EQ(columnOf(lines[3], "192.168.100.200"), ipColumn);
    for (size_t i = 1; i < lines.size(); ++i) {
        EXPECT_EQ(columnOf(lines[i], "V1.0 build[2018-11-07]"), versionColumn) << lines[i];
        EXPECT_NE(lines[i].back(), ' ') << "trailing blanks";
    }
    EXPECT_EQ(lines[3].rfind("10 ", 0), 0u);
}

TEST(TableFormat, NoDevicesGivesTheHeaderAlone)
{
    auto lines = Lines(FormatTable({}));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("序号", 0), 0u);
}

TEST(CsvFormat, QuotesOnlyWhatNeedsQuotingAndDoublesQuotes)
{
    EXPECT_EQ(CsvField("plain"), "plain");
    EXPECT_EQ(CsvField(""), "");
    EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
    EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(CsvField("two\nlines"), "\"two\nlines\"");
    EXPECT_EQ(CsvField("cr\r"), "\"cr\r\"");
    EXPECT_EQ(CsvField("相机"), "相机");
}

TEST(CsvFormat, HeaderThenOneCrlfRecordPerDeviceWithTheTableCells)
{
    const lynx::test::PcCards pc{{"eth1", "192.168.1.100", 24}};
    DeviceRow row = Row(1, "192.168.1.101", "相机", "KV,\"Q\"");
    row.arrival = {"eth1", "192.168.1.100", {}};
    DeviceRow foreign = Row(2, "192.168.0.64", "new");
    foreign.arrival = row.arrival;
    std::string csv = FormatCsv({row, foreign});
    EXPECT_EQ(csv,
              "序号,设备IP,MAC地址,网关地址,子网掩码,设备型号,软件版本,状态,interface,localAddress,reachable\r\n"
              "1,192.168.1.101,00:1A:2B:00:00:01,192.168.1.1,255.255.255.0,\"KV,\"\"Q\"\"\",V1.0 build[2018-11-07],,"
              "eth1,192.168.1.100,true\r\n"
              "2,192.168.0.64,00:1A:2B:00:00:02,192.168.1.1,255.255.255.0,KV-PG200,V1.0 build[2018-11-07],,"
              "eth1,192.168.1.100,false\r\n");
}

TEST(TableFormat, TheTableCsvAndJsonShowControlSequencesFromTheNetworkAsTextAndTheRowsStayAligned)
{
    // A model that would erase the line above, a version that sets the
    // window's title, a MAC that clears the screen.
    DeviceRow hostile = Row(2, "192.168.1.66", "x", "\x1b[1A\x1b[2K");
    Put(hostile.record.softwareVersion, "\x1b]0;owned\x07");
    Put(hostile.record.mac, "\x1b" "c\x7f\x9b" "2J");
    const std::vector<DeviceRow> rows = {Row(1, "192.168.1.101", "cam"), hostile};
    const std::string table = FormatTable(rows);
    EXPECT_EQ(lynx::test::RawControls(table), "") << table;
    EXPECT_NE(table.find("\\x1b[1A\\x1b[2K"), std::string::npos) << table;
    EXPECT_NE(table.find("\\x1b]0;owned\\x07 build[2018-11-07]"), std::string::npos) << table;
    const auto lines = Lines(table);
    ASSERT_EQ(lines.size(), 3u);
    const auto gatewayColumn = [](const std::string& line) {
        return DisplayWidth(line.substr(0, line.find("192.168.1.1 ")));
    };
    EXPECT_EQ(gatewayColumn(lines[1]), gatewayColumn(lines[2])) << "after the escaped MAC as after a plain one";

    const std::string csv = FormatCsv(rows);
    EXPECT_EQ(lynx::test::RawControls(csv, "\r\n"), "") << csv;
    EXPECT_NE(csv.find(",\\x1b[1A\\x1b[2K,"), std::string::npos) << csv;
    std::ostringstream streamed;
    WriteRows(streamed, OutputFormat::Csv, rows);
    EXPECT_EQ(streamed.str(), csv);
    const std::string json = FormatJson(rows);
    EXPECT_EQ(lynx::test::RawControls(json), "") << json;
    EXPECT_NE(json.find("\\u001bc\\u007f"), std::string::npos) << json;
}

TEST(JsonFormat, EveryRecordFieldWithTextsInUtf8)
{
    DeviceRow row = Row(1, "192.168.1.101", "车位引导相机");
    row.record.protocolVersion = 0x0102;
    row.record.hwFeature = 7;
    Put(row.record.company, "科瓦");
    std::string text = FormatJson({row, Row(2, "192.168.1.102", "b")});
    EXPECT_NE(text.find("车位引导相机"), std::string::npos) << "texts are written as UTF-8, not escaped";

    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value parsed;
    ASSERT_TRUE(reader->parse(text.data(), text.data() + text.size(), &parsed, nullptr));
    ASSERT_TRUE(parsed.isArray());
    ASSERT_EQ(parsed.size(), 2u);
    const Json::Value& first = parsed[0];
    EXPECT_EQ(first["number"].asInt(), 1);
    EXPECT_EQ(first["name"].asString(), "车位引导相机");
    EXPECT_EQ(first["company"].asString(), "科瓦");
    EXPECT_EQ(first["deviceIp"].asString(), "192.168.1.101");
    EXPECT_EQ(first["protocolVersion"].asInt(), 0x0102);
    EXPECT_EQ(first["hwFeature"].asInt(), 7);
    EXPECT_EQ(first["sn"].asInt(), 1001);
    EXPECT_EQ(first["productType"].asInt(), 3);
    for (const char* key : {"deviceId", "name", "model", "manufacturer", "mac", "protocolVersion", "company",
                            "productType", "productDate", "sn", "hwFeature", "softwareVersion", "hardwareVersion",
                            "consumerSn", "deviceIp", "netMask", "gatewayIp", "devicePort", "httpPort",
                            "productSubType"})
        EXPECT_TRUE(first.isMember(key)) << key;
    EXPECT_EQ(parsed[1]["number"].asInt(), 2);
}

TEST(JsonFormat, ACameraOutsideEverySubnetOfThePcsCardsIsNotReachable)
{
    const lynx::test::PcCards pc{{"eth1", "192.168.1.100", 24}};
    DeviceRow foreign = Row(2, "192.168.0.64", "new");
    foreign.arrival = {"eth1", "192.168.1.100", {}};
    const std::string text = FormatJson({Row(1, "192.168.1.101", "a"), foreign});
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value parsed;
    ASSERT_TRUE(reader->parse(text.data(), text.data() + text.size(), &parsed, nullptr));
    ASSERT_EQ(parsed.size(), 2u);
    EXPECT_TRUE(parsed[0]["reachable"].isBool());
    EXPECT_TRUE(parsed[0]["reachable"].asBool());
    EXPECT_TRUE(parsed[1]["reachable"].isBool());
    EXPECT_FALSE(parsed[1]["reachable"].asBool());
}

TEST(JsonFormat, NoDevicesGivesAnEmptyArray)
{
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value parsed;
    std::string text = FormatJson({});
    ASSERT_TRUE(reader->parse(text.data(), text.data() + text.size(), &parsed, nullptr));
    EXPECT_TRUE(parsed.isArray());
    EXPECT_EQ(parsed.size(), 0u);
}

} // namespace
