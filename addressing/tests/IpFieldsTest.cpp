#include "addressing/IpFields.h"

#include <gtest/gtest.h>

using namespace lynx::addressing;

TEST(IpFieldsText, FullDottedTextFillsAllFourFields)
{
    IpFields f = ParseIpFields("192.168.1.100");
    EXPECT_EQ(f.filled(), 4);
    EXPECT_EQ(f.octets, (Octets{192, 168, 1, 100}));
    EXPECT_EQ(IpFieldsText(f), "192.168.1.100");
}

TEST(IpFieldsText, MissingOrUnreadablePartsStayBlankAndCountAsUnfilled)
{
    EXPECT_EQ(ParseIpFields("192.168.1.").filled(), 3);
    EXPECT_EQ(ParseIpFields("192..1.5").filled(), 3);
    EXPECT_EQ(ParseIpFields("").filled(), 0);
    EXPECT_EQ(ParseIpFields("10.0.0").filled(), 3);
    EXPECT_EQ(ParseIpFields("10.0.0.x").filled(), 3);
    EXPECT_EQ(ParseIpFields("10.0.0.-1").filled(), 3);

    IpFields high = ParseIpFields("10.0.256.1");
    EXPECT_EQ(high.filled(), 3);
    EXPECT_FALSE(high.present[2]);
    EXPECT_EQ(ParseIpFields("10.0.1000.1").filled(), 3);
}

TEST(IpFieldsText, BlankFieldsReadAsZeroInTheWindowText)
{
    EXPECT_EQ(IpFieldsText(ParseIpFields("192.168..")), "192.168.0.0");
    EXPECT_EQ(IpFieldsText(IpFields{}), "0.0.0.0");
}

TEST(IpFieldsText, ValuesAreWrittenWithoutLeadingZeros)
{
    EXPECT_EQ(IpFieldsText(ParseIpFields("010.001.000.255")), "10.1.0.255");
    EXPECT_EQ(FormatOctets(Octets{0, 0, 0, 0}), "0.0.0.0");
    EXPECT_EQ(FormatOctets(Octets{255, 255, 255, 255}), "255.255.255.255");
}

TEST(IpFieldsText, PartsBeyondTheFourthAreIgnored)
{
    IpFields f = ParseIpFields("1.2.3.4.5");
    EXPECT_EQ(f.filled(), 4);
    EXPECT_EQ(f.octets, (Octets{1, 2, 3, 4}));
}
