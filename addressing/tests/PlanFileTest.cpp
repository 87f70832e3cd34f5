#include "addressing/PlanFile.h"

#include <gtest/gtest.h>

using namespace lynx::addressing;

namespace {

std::vector<PlanRow> Parse(const std::string& text)
{
    std::string error;
    auto rows = ParsePlanCsv(text, &error);
    EXPECT_TRUE(rows) << error;
    return rows ? *rows : std::vector<PlanRow>{};
}

std::string ErrorOf(const std::string& text)
{
    std::string error;
    EXPECT_FALSE(ParsePlanCsv(text, &error)) << text;
    return error;
}

} // namespace

TEST(PlanFile, ReadsWhatSpreadsheetsAndEditorsWrite)
{
    // A byte-order mark, CRLF, comments, blank lines, columns in another
    // order with one more, quoted fields with commas and quotes.
    const auto rows = Parse("\xEF\xBB\xBF# site A\r\ngateway, MAC ,ip,mask,note\r\n\r\n"
                            "192.168.1.1,00-1a-2b-00-00-01,192.168.1.20,255.255.255.0,\"gate, \"\"north\"\"\"\r\n"
                            "  # moved later\n192.168.1.1,\"00:1A:2B:00:00:02\",192.168.1.21,255.255.255.0\n");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].line, 4);
    EXPECT_EQ(rows[0].mac, "00-1a-2b-00-00-01");
    EXPECT_EQ(rows[0].ip, "192.168.1.20");
    EXPECT_EQ(rows[0].gateway, "192.168.1.1");
    EXPECT_EQ(rows[1].line, 6);
    EXPECT_EQ(rows[1].mac, "00:1A:2B:00:00:02");
    // Written back, it reads the same; a MAC that would start a comment is quoted.
    std::vector<PlanRow> odd = rows;
    odd[1].mac = "#7, \"x\"";
    const auto again = Parse(WritePlanCsv(odd));
    ASSERT_EQ(again.size(), 2u);
    EXPECT_EQ(again[1].mac, odd[1].mac);
    EXPECT_EQ(again[0].ip, odd[0].ip);
}

TEST(PlanFile, CrLfAndCrAloneEndLinesAlikeAndAQuotedFieldMayHoldThem)
{
    // Old Mac editors end lines with CR alone; a note may span lines in quotes.
    for (const std::string end : {"\n", "\r\n", "\r"}) {
        const std::string text = "# site A" + end + "mac,ip,mask,gateway,note" + end +
                                 "00:1A:2B:00:00:01,192.168.1.20,255.255.255.0,192.168.1.1,\"by the gate," + end +
                                 "north side\"" + end + end +
                                 "00:1A:2B:00:00:02,192.168.1.21,255.255.255.0,192.168.1.1" + end;
        const auto rows = Parse(text);
        ASSERT_EQ(rows.size(), 2u) << testing::PrintToString(end);
        EXPECT_EQ(rows[0].line, 3);
        EXPECT_EQ(rows[0].gateway, "192.168.1.1") << testing::PrintToString(end);
        EXPECT_EQ(rows[1].line, 6) << "the note's second line is counted";
        EXPECT_EQ(rows[1].mac, "00:1A:2B:00:00:02");
        EXPECT_EQ(rows[1].gateway, "192.168.1.1") << "no line end is left in a field";
    }
    // A quote that never closes is still that line's fault, whatever the line ends.
    for (const std::string end : {"\n", "\r"})
        EXPECT_NE(ErrorOf("mac,ip,mask,gateway" + end + "\"00:1A,192.168.1.20,255.255.255.0,192.168.1.1" + end +
                          "00:1A:2B:00:00:02,192.168.1.21,255.255.255.0,192.168.1.1" + end)
                      .find("line 2: a quoted field"),
                  std::string::npos);
}

TEST(PlanFile, RefusesWhatIsNotAPlanWithTheLine)
{
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"", "no header"},
        {"# only a comment\n", "no header"},
        {"mac,ip,mask\n", "no column \"gateway\""},
        {"mac,ip,mask,gateway\n", "no rows"},
        {"mac,ip,mask,gateway\n00:1A:2B:00:00:01,192.168.1.20,255.255.255.0\n", "line 2: has 3 fields"},
        {"mac,ip,mask,gateway\n\n00:1A:2B:00:00:01,192.168.1.256,255.255.255.0,192.168.1.1\n", "line 3: ip '192.168.1.256'"},
        {"mac,ip,mask,gateway\n,192.168.1.20,255.255.255.0,192.168.1.1\n", "line 2: the MAC is empty"},
        {"mac,ip,mask,gateway\n\"00:1A,192.168.1.20,255.255.255.0,192.168.1.1\n", "line 2: a quoted field"},
    };
    for (const auto& c : cases)
        EXPECT_NE(ErrorOf(c.text).find(c.error), std::string::npos) << c.text << " gave " << ErrorOf(c.text);
}

TEST(PlanFile, MacsCompareByTheirDigits)
{
    EXPECT_EQ(MacKey("00-1a-2b-3c-4d-5e"), MacKey("00:1A:2B:3C:4D:5E"));
    EXPECT_EQ(MacKey("001a.2b3c.4d5e"), MacKey("00:1A:2B:3C:4D:5E"));
    EXPECT_NE(MacKey("00:1A:2B:3C:4D"), MacKey("00:1A:2B:3C:4D:5E"));
    EXPECT_EQ(MacKey("cam-7"), MacKey("CAM-7"));
}

TEST(PlanFile, FlagsEveryRowThatWouldFailOrClash)
{
    const std::vector<FoundCamera> found{
        {"00:1A:2B:00:00:01", "192.168.1.101", "255.255.255.0", "192.168.1.1"},
        {"00:1A:2B:00:00:02", "192.168.1.102", "255.255.255.0", "192.168.1.1"},
        {"00:1A:2B:00:00:03", "192.168.1.103", "255.255.255.0", "192.168.1.1"},
        {"00:1A:2B:00:00:04", "192.168.1.104", "255.255.255.0", "192.168.1.1"},
    };
    const auto rows = Parse("mac,ip,mask,gateway\n"
                            "00:1a:2b:00:00:01,192.168.1.150,255.255.255.0,192.168.1.1\n"  // 2 clean
                            "00:1A:2B:00:00:09,192.168.1.151,255.255.255.0,192.168.1.1\n"  // 3 not found
                            "00:1A:2B:00:00:02,192.168.1.103,255.255.255.0,192.168.1.1\n"  // 4 held by 03, which stays
                            "00:1A:2B:00:00:03,192.168.1.103,255.255.255.0,192.168.1.1\n"  // 5 twice (and keeps its own)
                            "00:1A:2B:00:00:04,192.168.1.104,255.255.255.0,192.168.2.1\n"  // 6 gateway outside
                            "00:1A:2B:00:00:05,192.168.1.155,255.0.255.0,192.168.1.1\n"    // 7 mask refused, not found
                            "00:1A:2B:00:00:06,10.1.2.3,255.0.0.0,10.255.255.254\n"        // 8 ok class A, not found
                            "00:1A:2B:00:00:07,10.1.2.3,255.240.255.0,10.1.2.1\n");        // 9 not contiguous, twice
    const auto checked = CheckPlan(rows, found);
    ASSERT_EQ(checked.size(), rows.size());
    const auto flags = [&](size_t i) {
        std::string all;
        for (const auto& f : checked[i].flags)
            all += FlagText(f) + "; ";
        return all;
    };
    EXPECT_EQ(flags(0), "");
    ASSERT_TRUE(checked[0].current);
    EXPECT_EQ(checked[0].current->ip, "192.168.1.101");
    EXPECT_EQ(flags(1), "MAC not found in the search; ");
    EXPECT_EQ(flags(2), "address also on line 5; address held by 00:1A:2B:00:00:03; ");
    EXPECT_EQ(flags(3), "address also on line 4; ");
    EXPECT_EQ(flags(4), "gateway 192.168.2.1 outside 192.168.1.104/255.255.255.0; ");
    EXPECT_NE(flags(5).find("子网掩码错误"), std::string::npos) << flags(5);
    EXPECT_EQ(flags(6), "MAC not found in the search; address also on line 9; ");
    EXPECT_NE(flags(7).find("not contiguous"), std::string::npos) << flags(7);
    EXPECT_TRUE(AnyFlag(checked));
    EXPECT_FALSE(AnyFlag({checked[0]}));

    // A camera that the plan moves elsewhere frees its address for another.
    const auto swap = CheckPlan(Parse("mac,ip,mask,gateway\n"
                                      "00:1A:2B:00:00:01,192.168.1.102,255.255.255.0,192.168.1.1\n"
                                      "00:1A:2B:00:00:02,192.168.1.101,255.255.255.0,192.168.1.1\n"),
                                found);
    EXPECT_FALSE(AnyFlag(swap));
}

TEST(PlanFile, ARepeatedMacOrAddressIsFlaggedOncePerRowWhateverTheCount)
{
    // 20,000 rows of one MAC and one address: each row names one other line,
    // so the flags grow with the plan, not with its square.
    std::string text = "mac,ip,mask,gateway\n";
    for (int i = 0; i < 20000; ++i)
        text += "00:1A:2B:00:00:01,192.168.1.20,255.255.255.0,192.168.1.1\n";
    const auto checked = CheckPlan(Parse(text), {});
    ASSERT_EQ(checked.size(), 20000u);
    size_t flagBytes = 0;
    for (const CheckedRow& row : checked)
        for (const lynx::addressing::PlanFlag& flag : row.flags)
            flagBytes += FlagText(flag).size();
    EXPECT_LT(flagBytes, 200u * checked.size());
    EXPECT_EQ(FlagText(checked[0].flags[1]), "MAC also on line 3 (20000 lines in all)");
    EXPECT_EQ(FlagText(checked[19999].flags[2]), "address also on line 2 (20000 lines in all)");
}

TEST(PlanFile, APlanBeyondItsLimitsIsRefusedWithAReason)
{
    std::string rows = "mac,ip,mask,gateway\n";
    for (size_t i = 0; i <= kMaxPlanRows; ++i)
        rows += "00:1A:2B:00:00:01,192.168.1.20,255.255.255.0,192.168.1.1\n";
    EXPECT_NE(ErrorOf(rows).find("more than 100000 rows"), std::string::npos);
    const std::string huge = "mac,ip,mask,gateway\n#" + std::string(kMaxPlanBytes, 'x') + "\n";
    EXPECT_NE(ErrorOf(huge).find("larger than 16 MiB"), std::string::npos);
}
