// lynx-cli check's options, and its result as a table, JSON and CSV.
#include "cli/CheckCommand.h"

#include "platform/Translation.h"

#include <gtest/gtest.h>
#include <json/reader.h>

#include <memory>

namespace {

using namespace lynx::cli;
using lynx::site::AcceptanceState;

TEST(CheckOptions, EachOptionSetsItsOwnSettingAndTheSiteIsRequired)
{
    std::string error;
    auto o = ParseCheckOptions({"--site", "site.csv", "--expect-version=V2.0.0", "--seconds", "3",
                                "--allow-unexpected", "--format", "json"},
                               &error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->site, "site.csv");
    EXPECT_EQ(o->expectVersion, "V2.0.0");
    EXPECT_EQ(o->seconds, 3);
    EXPECT_TRUE(o->allowUnexpected);
    EXPECT_EQ(o->format, OutputFormat::Json);
    auto defaults = ParseCheckOptions({"--site=a.csv"}, &error);
    ASSERT_TRUE(defaults) << error;
    EXPECT_EQ(defaults->seconds, 12);
    EXPECT_FALSE(defaults->allowUnexpected);
    EXPECT_EQ(defaults->format, OutputFormat::Table);

    const struct {
        std::vector<std::string> args;
        const char* error;
    } refused[] = {
        {{}, "--site"},
        {{"--seconds", "3"}, "--site"},
        {{"--site", "a.csv", "--format", "xml"}, "--format takes table, json or csv"},
        {{"--site", "a.csv", "--site", "b.csv"}, "--site given twice"},
        {{"--site", "a.csv", "--allow-unexpected=yes"}, "takes no value"},
        {{"--site", "a.csv", "--all"}, "unknown option '--all'"},
        {{"--site", "a.csv", "--report", "/nonexistent/dir/r.csv"}, "cannot write the report"},
    };
    for (const auto& c : refused) {
        error.clear();
        EXPECT_FALSE(ParseCheckOptions(c.args, &error)) << c.error;
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
    EXPECT_TRUE(ParseCheckOptions({"--help"}, &error)->help) << "help needs no site";
}

lynx::site::AcceptanceResult Result()
{
    lynx::site::AcceptanceResult result;
    lynx::site::CameraAcceptance moved;
    moved.state = AcceptanceState::Address;
    moved.line = 2;
    moved.mac = "00:1A:2B:00:00:01";
    moved.label = "=HYPERLINK(\"x\")";  // a formula kept as text in CSV
    moved.plannedIp = "192.168.1.20";
    moved.plannedMask = "255.255.255.0";
    moved.ip = "192.168.1.30";
    moved.mask = "255.255.255.0";
    moved.softwareVersion = "V1.0.3";
    result.cameras.push_back(moved);
    lynx::site::CameraAcceptance stray;
    stray.state = AcceptanceState::Unexpected;
    stray.mac = "00:1A:2B:00:00:09";
    stray.ip = "192.168.1.20";
    stray.conflictWith = {"00:1A:2B:00:00:07", "00:1A:2B:00:00:08"};
    result.cameras.push_back(stray);
    return result;
}

TEST(CheckOutput, JsonHasEveryFieldByNameAndTheConflictsAsAnArray)
{
    const std::string text = FormatAcceptance(OutputFormat::Json, Result());
    Json::Value rows;
    std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
    ASSERT_TRUE(reader->parse(text.data(), text.data() + text.size(), &rows, nullptr)) << text;
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0]["state"].asString(), "address");
    EXPECT_EQ(rows[0]["line"].asInt(), 2);
    EXPECT_EQ(rows[0]["plannedIp"].asString(), "192.168.1.20");
    EXPECT_EQ(rows[0]["ip"].asString(), "192.168.1.30");
    EXPECT_EQ(rows[0]["label"].asString(), "=HYPERLINK(\"x\")");
    EXPECT_EQ(rows[0]["plannedGateway"].asString(), "");
    EXPECT_EQ(rows[1]["state"].asString(), "unexpected");
    ASSERT_EQ(rows[1]["conflictWith"].size(), 2u);
    EXPECT_EQ(rows[1]["conflictWith"][1].asString(), "00:1A:2B:00:00:08");
}

TEST(CheckOutput, CsvHasAByteOrderMarkCrlfAndNoFormulaAndTheTableIsAligned)
{
    const std::string csv = FormatAcceptance(OutputFormat::Csv, Result());
    EXPECT_EQ(csv.rfind("\xEF\xBB\xBFline,mac,state,stateText,label,plannedIp,plannedMask,plannedGateway,plannedVersion,"
                        "ip,mask,gateway,softwareVersion,versionText,conflictWith,conflicts,hearsayFrom,hearsaySenders\r\n",
                        0),
              0u)
        << csv;
    EXPECT_NE(csv.find("\r\n2,00:1A:2B:00:00:01,address,地址不符,\"'=HYPERLINK(\"\"x\"\")\",192.168.1.20,"),
              std::string::npos)
        << csv;
    EXPECT_NE(csv.find(",00:1A:2B:00:00:07 00:1A:2B:00:00:08,2,,0\r\n"), std::string::npos) << csv;

    const std::string table = FormatAcceptance(OutputFormat::Table, Result());
    // The Chinese state texts take two columns each: the MACs still line up.
    const size_t first = table.find("00:1A:2B:00:00:01"), second = table.find("00:1A:2B:00:00:09");
    const size_t start1 = table.rfind('\n', first) + 1, start2 = table.rfind('\n', second) + 1;
    EXPECT_EQ(DisplayWidth(table.substr(start1, first - start1)), DisplayWidth(table.substr(start2, second - start2)))
        << table;
    EXPECT_NE(table.find("设备IP 192.168.1.20 -> 192.168.1.30"), std::string::npos) << table;
    EXPECT_NE(table.find("IP冲突：00:1A:2B:00:00:07 00:1A:2B:00:00:08"), std::string::npos) << table;
}

} // namespace
