#include "platform/Csv.h"

#include <gtest/gtest.h>

using lynx::platform::SpreadsheetField;

TEST(SpreadsheetField, ATextThatBeginsLikeAFormulaStaysText)
{
    const std::pair<const char*, const char*> cases[] = {
        {"=1+2", "'=1+2"},
        {"+1", "'+1"},
        {"-2+3", "'-2+3"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"\t=1", "'\t=1"},
        {"\r=1", "\"'\r=1\""},
        {"-cmd|' /C calc'!A0", "'-cmd|' /C calc'!A0"},
        {"=HYPERLINK(\"x\")", "\"'=HYPERLINK(\"\"x\"\")\""},
        {"V1.0-beta", "V1.0-beta"},
        {"192.168.1.20", "192.168.1.20"},
        {"", ""},
    };
    for (const auto& [text, field] : cases)
        EXPECT_EQ(SpreadsheetField(text), field) << text;
}
