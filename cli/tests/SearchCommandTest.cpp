// lynx-cli search's options.
#include "cli/SearchCommand.h"

#include <gtest/gtest.h>

namespace {

using namespace lynx::cli;

std::optional<SearchOptions> Parse(std::vector<std::string> args, std::string* error = nullptr)
{
    std::string ignored;
    return ParseSearchOptions(args, error ? error : &ignored);
}

TEST(SearchOptions, DefaultsAreThoseOfTheWindow)
{
    auto o = Parse({});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->seconds, 12);
    EXPECT_TRUE(o->filter.hideSameIp);
    EXPECT_TRUE(o->filter.hideSameMac);
    EXPECT_EQ(o->format, OutputFormat::Table);
    EXPECT_EQ(o->maxDevices, 65536u);
    EXPECT_FALSE(o->timing);
}

TEST(SearchOptions, EachOptionSetsItsOwnSetting)
{
    auto o = Parse({"--seconds", "3", "--no-ip-filter", "--format", "csv", "--timing"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->seconds, 3);
    EXPECT_FALSE(o->filter.hideSameIp);
    EXPECT_TRUE(o->filter.hideSameMac);
    EXPECT_EQ(o->format, OutputFormat::Csv);
    EXPECT_TRUE(o->timing);
    auto p = Parse({"--no-mac-filter", "--format=json", "--seconds=7"});
    ASSERT_TRUE(p);
    EXPECT_TRUE(p->filter.hideSameIp);
    EXPECT_FALSE(p->filter.hideSameMac);
    EXPECT_EQ(p->format, OutputFormat::Json);
    EXPECT_EQ(p->seconds, 7);
    EXPECT_EQ(Parse({"--max-devices", "0"})->maxDevices, 0u);
    EXPECT_EQ(Parse({"--max-devices=500"})->maxDevices, 500u);
}

TEST(SearchOptions, SecondsOutsideOneToAnHourAreBroughtIntoRange)
{
    EXPECT_EQ(Parse({"--seconds", "0"})->seconds, 1);
    EXPECT_EQ(Parse({"--seconds", "-5"})->seconds, 1);
    EXPECT_EQ(Parse({"--seconds", "3600"})->seconds, 3600);
    EXPECT_EQ(Parse({"--seconds", "3601"})->seconds, 3600);
    EXPECT_EQ(Parse({"--seconds", "99999999999999999999999"})->seconds, 3600);
    EXPECT_EQ(Parse({"--seconds", "-99999999999999999999999"})->seconds, 1);
}

TEST(SearchOptions, WhatIsNotUnderstoodIsRejectedWithAReason)
{
    for (const auto& args : std::vector<std::vector<std::string>>{{"--seconds", "abc"},
                                                                  {"--seconds", "3s"},
                                                                  {"--seconds", ""},
                                                                  {"--seconds"},
                                                                  {"--format", "xml"},
                                                                  {"--format"},
                                                                  {"--timing=yes"},
                                                                  {"--max-devices", "-1"},
                                                                  {"--max-devices", "many"},
                                                                  {"--verbose"},
                                                                  {"search"}}) {
        std::string error;
        EXPECT_FALSE(Parse(args, &error)) << args[0];
        EXPECT_FALSE(error.empty()) << args[0];
    }
}

} // namespace
