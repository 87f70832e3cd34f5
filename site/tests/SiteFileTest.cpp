// A site's expected inventory read from the files an engineer has at hand:
// an address plan, with or without the version and label columns, and the
// list the window exports; a bad file refused with every fault named.
#include "site/SiteFile.h"

#include "platform/CodePage.h"
#include "platform/Translation.h"
#include "NetlabFixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using lynx::site::ParseSiteFile;
using lynx::site::SiteFile;
using lynx::site::SiteFileFault;

SiteFile Parse(const std::string& text)
{
    std::vector<SiteFileFault> faults;
    const auto site = ParseSiteFile(text, &faults);
    for (const SiteFileFault& fault : faults)
        ADD_FAILURE() << lynx::site::FaultText(fault);
    return site.value_or(SiteFile{});
}

std::vector<SiteFileFault> FaultsOf(const std::string& text)
{
    std::vector<SiteFileFault> faults;
    EXPECT_FALSE(ParseSiteFile(text, &faults)) << text;
    return faults;
}

TEST(SiteFile, ReadsAnAddressPlanWithItsOptionalColumnsInAnyOrder)
{
    const struct {
        const char* name;
        std::string text;
        int line;  // of the second camera
    } cases[] = {
        {"the plan's own columns, version and label added",
         "mac,ip,mask,gateway,softwareVersion,label\n"
         "00:1A:2B:00:00:01,192.168.1.20,255.255.255.0,192.168.1.1,V2.0.0,B2-017\n"
         "00-1a-2b-00-00-02,192.168.1.21,255.255.255.0,192.168.1.1,,\n",
         3},
        {"another order, other letter case, a BOM, CRLF, comments and a column more",
         "\xEF\xBB\xBF# site B\r\nLabel, note ,SOFTWAREVERSION,Gateway,MAC,Mask,IP\r\n"
         "B2-017,\"north, by the gate\",V2.0.0,192.168.1.1,00:1A:2B:00:00:01,255.255.255.0,192.168.1.20\r\n"
         "\r\n# spare\r\n,,,192.168.1.1,00-1a-2b-00-00-02,255.255.255.0,192.168.1.21\r\n",
         6},
    };
    for (const auto& c : cases) {
        const SiteFile site = Parse(c.text);
        ASSERT_EQ(site.cameras.size(), 2u) << c.name;
        const auto& first = site.cameras[0];
        EXPECT_EQ(first.mac, "00:1A:2B:00:00:01") << c.name;
        EXPECT_EQ(first.ip, "192.168.1.20") << c.name;
        EXPECT_EQ(first.mask, "255.255.255.0") << c.name;
        EXPECT_EQ(first.gateway, "192.168.1.1") << c.name;
        EXPECT_EQ(first.softwareVersion, "V2.0.0") << c.name;
        EXPECT_EQ(first.label, "B2-017") << c.name;
        EXPECT_EQ(site.cameras[1].line, c.line) << c.name;
        EXPECT_EQ(site.cameras[1].softwareVersion, "") << c.name << ": any version";
        // Found by MAC however it is written.
        EXPECT_EQ(site.Find("00:1a:2b:00:00:02"), &site.cameras[1]) << c.name;
        EXPECT_EQ(site.Find("00:1A:2B:00:00:09"), nullptr) << c.name;
    }
}

TEST(SiteFile, CrLfAndCrAloneEndLinesAlikeAndALabelMaySpanLinesInQuotes)
{
    for (const std::string end : {"\n", "\r\n", "\r"}) {
        const std::string name = testing::PrintToString(end);
        const SiteFile site = Parse("mac,ip,label" + end + "00:1A:2B:00:00:01,192.168.1.20,\"B2-017" + end +
                                    "north\"" + end + "# spare" + end + "00:1A:2B:00:00:02,192.168.1.21,B2-018" + end);
        ASSERT_EQ(site.cameras.size(), 2u) << name;
        EXPECT_EQ(site.cameras[0].label, "B2-017" + end + "north") << name;
        EXPECT_EQ(site.cameras[1].line, 5) << name;
        EXPECT_EQ(site.cameras[1].ip, "192.168.1.21") << name;
        EXPECT_EQ(site.cameras[1].label, "B2-018") << name << ": no line end is left in a field";
    }
}

TEST(SiteFile, OnlyTheMacIsRequiredAndWhatIsNotGivenIsNotPlanned)
{
    const SiteFile site = Parse("mac\n00:1A:2B:00:00:01\n00:1A:2B:00:00:02\n");
    ASSERT_EQ(site.cameras.size(), 2u);
    for (const auto& camera : site.cameras)
        EXPECT_EQ(camera.ip + camera.mask + camera.gateway + camera.softwareVersion + camera.label, "");
    // An address left empty on one row is not planned for that camera only.
    const SiteFile partial = Parse("mac,ip\n00:1A:2B:00:00:01,\n00:1A:2B:00:00:02,10.0.0.2\n");
    ASSERT_EQ(partial.cameras.size(), 2u);
    EXPECT_EQ(partial.cameras[0].ip, "");
    EXPECT_EQ(partial.cameras[1].ip, "10.0.0.2");
}

TEST(SiteFile, ReadsTheListTheWindowExportsInChineseOrInEnglish)
{
    // As the window writes it: a BOM, its column titles and 网卡, CRLF, every
    // cell through the spreadsheet guard (a version text starting with '='
    // was kept as text with an apostrophe).
    const std::string chinese =
        "\xEF\xBB\xBF序号,设备IP,MAC地址,网关地址,子网掩码,设备型号,软件版本,状态,网卡\r\n"
        "1,192.168.1.101,00:1A:2B:3C:4D:01,192.168.1.1,255.255.255.0,KV-PG200,V1.0.3 build[2018-11-07],,eth0 (192.168.1.100)\r\n"
        "2,192.168.1.102,00:1A:2B:3C:4D:02,192.168.1.1,255.255.0.0,KV-PG200,'=V9 build[2018-11-07],升级成功,eth0 (192.168.1.100)\r\n";
    const std::string english =
        "\xEF\xBB\xBFNo.,Device IP,MAC address,Gateway,Subnet mask,Model,Software version,Status,Network card\r\n"
        "1,192.168.1.101,00:1A:2B:3C:4D:01,192.168.1.1,255.255.255.0,KV-PG200,V1.0.3 build[2018-11-07],,eth0\r\n"
        "2,192.168.1.102,00:1A:2B:3C:4D:02,192.168.1.1,255.255.0.0,KV-PG200,'=V9 build[2018-11-07],,eth0\r\n";
    for (const std::string& text : {chinese, english}) {
        const SiteFile site = Parse(text);
        ASSERT_EQ(site.cameras.size(), 2u) << text;
        EXPECT_EQ(site.cameras[0].mac, "00:1A:2B:3C:4D:01");
        EXPECT_EQ(site.cameras[0].ip, "192.168.1.101");
        EXPECT_EQ(site.cameras[0].gateway, "192.168.1.1");
        EXPECT_EQ(site.cameras[0].softwareVersion, "V1.0.3 build[2018-11-07]");
        EXPECT_EQ(site.cameras[1].mask, "255.255.0.0");
        EXPECT_EQ(site.cameras[1].softwareVersion, "=V9 build[2018-11-07]");
        EXPECT_EQ(site.cameras[1].line, 3);
    }
}

TEST(SiteFile, AFileSavedInCodePage936IsReadAsSuchAndSaysSo)
{
    // The window's list, opened and saved again by a spreadsheet on a Chinese
    // PC: no BOM, its titles and a label in code page 936.
    const std::string utf8 =
        "序号,设备IP,MAC地址,网关地址,子网掩码,设备型号,软件版本,状态,label\r\n"
        "1,192.168.1.101,00:1A:2B:3C:4D:01,192.168.1.1,255.255.255.0,KV-PG200,V1.0.3,,B2层-017号\r\n";
    const SiteFile gbk = Parse(lynx::platform::Utf8ToCp936(utf8));
    EXPECT_TRUE(gbk.readAsCp936);
    ASSERT_EQ(gbk.cameras.size(), 1u);
    EXPECT_EQ(gbk.cameras[0].mac, "00:1A:2B:3C:4D:01");
    EXPECT_EQ(gbk.cameras[0].ip, "192.168.1.101");
    EXPECT_EQ(gbk.cameras[0].label, "B2层-017号");

    // UTF-8, with a BOM or without, and plain ASCII are read as they are.
    for (const std::string& text : {utf8, "\xEF\xBB\xBF" + utf8, std::string("mac\n00:1A:2B:00:00:01\n")}) {
        const SiteFile site = Parse(text);
        EXPECT_FALSE(site.readAsCp936) << text;
        ASSERT_EQ(site.cameras.size(), 1u);
    }
    EXPECT_EQ(Parse(utf8).cameras[0].label, "B2层-017号");
    // Bytes that are neither: what converts is read, and the header is found.
    const SiteFile broken = Parse("mac,label\n00:1A:2B:00:00:01,\xFF\xFE\n");
    EXPECT_TRUE(broken.readAsCp936);
    EXPECT_EQ(broken.cameras.size(), 1u);
}

TEST(SiteFile, EveryFaultIsNamedByLineAndColumn)
{
    lynx::platform::SelectLanguage("en");
    const std::string text = "mac,ip,mask,gateway,label\n"                                 // 1
                             "00:1A:2B:00:00:01,192.168.1.20,255.255.255.0,192.168.1.1,a\n"  // 2
                             "00:1A:2B:00:00:0G,192.168.1.21,255.255.255.0,192.168.1.1,b\n"  // 3: bad MAC
                             "00:1A:2B:00:00:03,192.168.1.256,255.255.255.0,192.168.1.1,c\n" // 4: bad ip
                             "00-1a-2b-00-00-01,192.168.1.23,255.255.255,192.168.1.x,d\n"    // 5: dup MAC, mask, gateway
                             "00:1A:2B:00:00:05,192.168.1.20,255.255.255.0,192.168.1.1,e\n"  // 6: dup ip
                             "00:1A:2B:00:00:06,192.168.1.26\n"                              // 7: too few
                             ",192.168.1.27,255.255.255.0,192.168.1.1,g\n"                   // 8: empty MAC
                             "00:1A:2B:00:00:08,\"192.168.1.28,255.255.255.0,192.168.1.1,h\n"  // 9: open quote
                             "00:1A:2B:00:00:09,192.168.1.20,255.255.255.0,192.168.1.1,i\n"; // 10: dup ip again
    const struct {
        int line;
        const char* column;
        const char* text;
    } expected[] = {
        {3, "mac", "'00:1A:2B:00:00:0G' is not a MAC address"},
        {4, "ip", "'192.168.1.256' is not a dotted IPv4 address"},
        {5, "mac", "the MAC address is also on line 2"},
        {5, "mask", "'255.255.255' is not a dotted IPv4 address"},
        {5, "gateway", "'192.168.1.x' is not a dotted IPv4 address"},
        {6, "ip", "the address is also on line 2"},
        {7, "mask", "has 2 fields, the header 5"},
        {8, "mac", "the MAC address is empty"},
        {9, "", "a quoted field is not closed"},
        {10, "ip", "the address is also on line 2"},
    };
    const std::vector<SiteFileFault> faults = FaultsOf(text);
    ASSERT_EQ(faults.size(), std::size(expected));
    for (size_t i = 0; i < faults.size(); ++i) {
        EXPECT_EQ(faults[i].line, expected[i].line) << i;
        EXPECT_EQ(faults[i].column, expected[i].column) << i;
        EXPECT_EQ(faults[i].text, expected[i].text) << i;
    }
    EXPECT_EQ(lynx::site::FaultText(faults[1]), "line 4, column ip: '192.168.1.256' is not a dotted IPv4 address");
    EXPECT_EQ(lynx::site::FaultText(faults[8]), "line 9: a quoted field is not closed");
    lynx::platform::SelectLanguage("");
    EXPECT_EQ(lynx::site::FaultText(FaultsOf(text)[1]), "第 4 行，ip 列：“192.168.1.256”不是点分十进制的IPv4地址");
}

TEST(SiteFile, TheColumnIsNamedAsTheFilesHeaderNamesIt)
{
    lynx::platform::SelectLanguage("en");
    const auto faults = FaultsOf("\xEF\xBB\xBF序号,设备IP,MAC地址\r\n1,10.0.0.1,00:1A:2B:00:00:01\r\n2,10.0.0.1,nonsense\r\n");
    ASSERT_EQ(faults.size(), 2u);
    EXPECT_EQ(lynx::site::FaultText(faults[0]), "line 3, column MAC地址: 'nonsense' is not a MAC address");
    EXPECT_EQ(lynx::site::FaultText(faults[1]), "line 3, column 设备IP: the address is also on line 2");
    lynx::platform::SelectLanguage("");
}

TEST(SiteFile, AFileThatIsNoInventoryIsOneFault)
{
    lynx::platform::SelectLanguage("en");
    const std::string tooLarge(16 * 1024 * 1024 + 1, '#');
    std::string tooManyRows = "mac\n";
    for (int n = 0; n <= 100000; ++n) {
        char mac[18];
        std::snprintf(mac, sizeof mac, "02:00:00:%02X:%02X:%02X", n >> 16, (n >> 8) & 0xFF, n & 0xFF);
        tooManyRows += std::string(mac) + "\n";
    }
    const struct {
        std::string text;
        int line;
        const char* column;
        const char* fault;
    } cases[] = {
        {"", 0, "", "no header line"},
        {"# only a comment\n\n", 0, "", "no header line"},
        {"ip,mask,gateway\n192.168.1.20,255.255.255.0,192.168.1.1\n", 1, "mac", "the header names no mac column"},
        {"mac,\"ip\n", 1, "", "a quoted field is not closed"},
        {"mac,ip\n# nobody yet\n", 0, "", "the file lists no camera"},
        {tooLarge, 0, "", "the file is larger than 16 MiB"},
        {tooManyRows, 100002, "", "more than 100000 cameras"},
    };
    for (const auto& c : cases) {
        const auto faults = FaultsOf(c.text);
        ASSERT_EQ(faults.size(), 1u) << c.fault;
        EXPECT_EQ(faults[0].line, c.line) << c.fault;
        EXPECT_EQ(faults[0].column, c.column) << c.fault;
        EXPECT_EQ(faults[0].text, c.fault);
    }
    lynx::platform::SelectLanguage("");
}

TEST(SiteFile, AFileOfFaultsIsBoundedAsAFileOfCamerasIs)
{
    lynx::platform::SelectLanguage("en");
    std::string text = "mac,ip\n";
    for (int n = 0; n <= 100000; ++n)
        text += n % 2 ? "x\n" : "\"open\n";
    const auto faults = FaultsOf(text);
    ASSERT_EQ(faults.size(), 100001u);
    EXPECT_EQ(faults[0].text, "a quoted field is not closed");
    EXPECT_EQ(faults[1].text, "has 1 fields, the header 2");
    EXPECT_EQ(faults[1].column, "ip");
    EXPECT_EQ(faults.back().line, 100002);
    EXPECT_EQ(faults.back().text, "more than 100000 cameras");
    lynx::platform::SelectLanguage("");
}

TEST(SiteFile, AFileThatCannotBeReadIsOneFaultAtLineZero)
{
    lynx::test::TempDir dir;
    std::vector<SiteFileFault> faults;
    EXPECT_FALSE(lynx::site::ReadSiteFile(dir.File("absent.csv"), &faults));
    ASSERT_EQ(faults.size(), 1u);
    EXPECT_EQ(faults[0].line, 0);
    EXPECT_NE(faults[0].text.find("absent.csv"), std::string::npos) << faults[0].text;
    EXPECT_EQ(lynx::site::FaultText(faults[0]), faults[0].text);

    const auto site = lynx::site::ReadSiteFile(dir.Write("site.csv", "mac\n00:1A:2B:00:00:01\n"), &faults);
    ASSERT_TRUE(site);
    EXPECT_TRUE(faults.empty());
    EXPECT_EQ(site->cameras.size(), 1u);
}

} // namespace
