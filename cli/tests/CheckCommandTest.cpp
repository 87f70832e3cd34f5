// lynx-cli check's options, and its result as a table, JSON and CSV.
#include "cli/CheckCommand.h"
#include "cli/Commands.h"
#include "platform/CodePage.h"

#include "platform/Translation.h"
#include "RawControls.h"

#include <gtest/gtest.h>
#include <json/reader.h>

#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <sstream>
#include <streambuf>

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

TEST(CheckSiteFile, AFileSavedInCodePage936IsReadAndSaidOnce)
{
    char path[] = "/tmp/lynx-site-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    const std::string bytes =
        lynx::platform::Utf8ToCp936("MAC地址,设备IP,label\r\n00:1A:2B:00:00:01,192.168.1.101,二层-017\r\n");
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
    std::ostringstream err;
    const auto site = ReadSiteFileOrSayFaults(path, err, "check");
    unlink(path);
    ASSERT_TRUE(site) << err.str();
    ASSERT_EQ(site->cameras.size(), 1u);
    EXPECT_EQ(site->cameras[0].label, "二层-017");
    EXPECT_EQ(err.str(), std::string("lynx-cli check: ") + path + ": " +
                             lynx::platform::TrUtf8(lynx::site::kReadAsCp936) + "\n");
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
    EXPECT_NE(table.find("IP冲突：00:1A:2B:00:00:07 00:1A:2B:00:00:08"), std::string::npos) << table;
}

// A camera found elsewhere than planned is told as what was planned and what
// was found, part by part, in either language: never as "planned -> found",
// which reads as an order to change it.
TEST(CheckOutput, AnAddressThatDiffersNamesWhatWasPlannedAndWhatWasFound)
{
    lynx::site::CameraAcceptance moved;
    moved.state = AcceptanceState::Address;
    moved.mac = "00:1A:2B:00:00:01";
    moved.plannedIp = "192.168.1.90";
    moved.ip = "192.168.1.109";
    moved.plannedMask = "255.255.255.0";
    moved.mask = "255.255.0.0";
    moved.plannedGateway = "192.168.1.1";
    moved.gateway = "192.168.1.1";
    lynx::site::AcceptanceResult result;
    result.cameras.push_back(moved);
    const struct {
        const char* lang;
        std::vector<std::string> said;
    } cases[] = {
        {"", {"设备IP：计划 192.168.1.90，实际 192.168.1.109; 子网掩码：计划 255.255.255.0，实际 255.255.0.0\n"}},
        {"en", {"Device IP planned 192.168.1.90, found 192.168.1.109; "
                "Subnet mask planned 255.255.255.0, found 255.255.0.0\n"}},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(lynx::platform::SelectLanguage(c.lang));
        const std::string table = FormatAcceptance(OutputFormat::Table, result);
        for (const std::string& part : c.said)
            EXPECT_NE(table.find(part), std::string::npos) << c.lang << ":\n" << table;
        EXPECT_EQ(table.find("->"), std::string::npos) << table;
        EXPECT_EQ(table.find("192.168.1.1;"), std::string::npos) << "the gateway is as planned:\n" << table;
    }
    lynx::platform::SelectLanguage("");
}

// A planned camera with a label of a megabyte, and 2,000 reports of others:
// what an attacker on the LAN and a careless site file can give check.
lynx::site::AcceptanceResult HugeResult()
{
    lynx::site::AcceptanceResult result;
    lynx::site::CameraAcceptance planned;
    planned.state = AcceptanceState::Ok;
    planned.line = 2;
    planned.mac = "00:1A:2B:00:00:01";
    planned.label = std::string(1 << 20, 'L');
    planned.ip = planned.plannedIp = "192.168.1.20";
    result.cameras.push_back(planned);
    for (int i = 0; i < 2000; ++i) {
        lynx::site::CameraAcceptance stray;
        stray.state = AcceptanceState::Unexpected;
        stray.mac = "02:66:00:00:" + std::to_string(i / 100) + ":" + std::to_string(i % 100);
        stray.ip = "192.168.1.66";
        stray.softwareVersion = "\x1b]0;owned\x07\x1b[1A\x1b[2K";
        result.cameras.push_back(stray);
    }
    return result;
}

// Counts what reaches it, and the largest single piece.
class CountingBuffer : public std::streambuf {
public:
    size_t total = 0;
    size_t largest = 0;

protected:
    int overflow(int c) override
    {
        if (c != traits_type::eof())
            Count(1);
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char*, std::streamsize n) override
    {
        Count(static_cast<size_t>(n));
        return n;
    }

private:
    void Count(size_t n)
    {
        total += n;
        largest = std::max(largest, n);
    }
};

TEST(CheckOutput, TheTableIsBoundedPerCellAndWrittenALineAtATimeWhileJsonAndCsvKeepTheFullTexts)
{
    const lynx::site::AcceptanceResult result = HugeResult();
    CountingBuffer counted;
    std::ostream out(&counted);
    WriteAcceptance(out, OutputFormat::Table, result);
    // Each line within its cells' bounds: a few hundred bytes, not a megabyte each.
    EXPECT_LT(counted.total, result.cameras.size() * 1024) << counted.total;
    EXPECT_LT(counted.largest, 2048u) << "one line at a time, not the whole table in one string";

    const std::string table = FormatAcceptance(OutputFormat::Table, result);
    EXPECT_EQ(table.size(), counted.total);
    EXPECT_NE(table.find(std::string(TextTable::kCellWidth - 1, 'L') + "…  192.168.1.20"), std::string::npos);
    EXPECT_EQ(lynx::test::RawControls(table), "");
    EXPECT_NE(table.find("\\x1b]0;owned\\x07\\x1b[1A\\x1b[2K"), std::string::npos);

    const std::string csv = FormatAcceptance(OutputFormat::Csv, result);
    EXPECT_NE(csv.find("," + result.cameras[0].label + ","), std::string::npos) << "the full label";
    EXPECT_EQ(lynx::test::RawControls(csv, "\r\n"), "");
    EXPECT_NE(csv.find(",\\x1b]0;owned\\x07\\x1b[1A\\x1b[2K,"), std::string::npos);
    EXPECT_NE(FormatAcceptance(OutputFormat::Json, result).find(result.cameras[0].label), std::string::npos);
}

TEST(CheckOutput, JsonWritesTheControlsItsWriterLeavesRawAsEscapesAndReadsBackTheSame)
{
    lynx::site::AcceptanceResult result = Result();
    result.cameras[0].label = "B2\xC2\x9B" "2J\x7f\x1b[2K车位";
    const std::string text = FormatAcceptance(OutputFormat::Json, result);
    EXPECT_EQ(lynx::test::RawControls(text), "") << text;
    EXPECT_NE(text.find("车位"), std::string::npos) << "the rest stays UTF-8";
    Json::Value rows;
    std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
    ASSERT_TRUE(reader->parse(text.data(), text.data() + text.size(), &rows, nullptr)) << text;
    EXPECT_EQ(rows[0]["label"].asString(), result.cameras[0].label);
}

} // namespace
