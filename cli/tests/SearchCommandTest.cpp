// lynx-cli search's options, and the hand-over of reports from the transport's
// threads to the collecting thread.
#include "cli/SearchCommand.h"
#include "cli/SearchSession.h"
#include "protocol/Transport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using namespace lynx::cli;
using namespace std::chrono_literals;

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
                                                                  {"--verbose"},
                                                                  {"search"}}) {
        std::string error;
        EXPECT_FALSE(Parse(args, &error)) << args[0];
        EXPECT_FALSE(error.empty()) << args[0];
    }
}

PacketHeader ReportHeader(uint8_t marker, uint16_t command = 0x701)
{
    PacketHeader h{};
    h.magic = TARN_MAGIC;
    h.command = command;
    h.bodyMarker = marker;
    return h;
}

std::string Report(int n)
{
    return R"({"data":{"deviceIp":"10.0.)" + std::to_string(n / 250) + "." + std::to_string(n % 250 + 1) +
           R"(","machineInfo":{"mac":"02:00:00:00:)" + std::to_string(n / 250) + ":" + std::to_string(n % 250) +
           R"(","name":"相机"}}})";
}

TEST(SearchSessionHandOver, ReportsFromManyThreadsAllReachTheTableOnce)
{
    SearchSession session;
    constexpr int kThreads = 4, kEach = 200;
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t)
        senders.emplace_back([&session, t] {
            for (int i = 0; i < kEach; ++i) {
                std::string body = Report(t * kEach + i);
                session.Deliver(ReportHeader('$'), body.c_str());
                // The same report again: the filters drop it.
                session.Deliver(ReportHeader('$'), body.c_str());
            }
        });
    // Collect while the senders still run, as a search does.
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (session.Rows().size() < kThreads * kEach && std::chrono::steady_clock::now() < deadline)
        session.CollectFor(20ms);
    for (auto& s : senders)
        s.join();
    session.CollectFor(50ms);
    auto rows = session.Rows();
    ASSERT_EQ(rows.size(), static_cast<size_t>(kThreads * kEach));
    for (size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(rows[i].number, static_cast<int>(i) + 1);
    EXPECT_TRUE(session.LastRowAdded().has_value());
}

TEST(SearchSessionHandOver, OnlyDatagramsMarkedAsCarryingABodyAreReports)
{
    SearchSession session;
    std::string body = Report(1);
    session.Deliver(ReportHeader('#'), body.c_str());              // our own search, heard back
    session.Deliver(ReportHeader('$', 0x9999), Report(2).c_str());  // any command with '$' is a report
    session.Deliver(ReportHeader('$'), "not json");
    session.Deliver(ReportHeader('$'), R"({"data":{"deviceIp":"10.0.0.9"}})");  // no MAC
    session.CollectFor(50ms);
    auto rows = session.Rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_STREQ(rows[0].record.deviceIp, "10.0.0.3");
}

TEST(SearchSessionHandOver, FiltersFollowTheOptions)
{
    SearchSession unfiltered(lynx::protocol::DuplicateFilter{false, false});
    std::string body = Report(1);
    unfiltered.Deliver(ReportHeader('$'), body.c_str());
    unfiltered.Deliver(ReportHeader('$'), body.c_str());
    unfiltered.CollectFor(30ms);
    EXPECT_EQ(unfiltered.Rows().size(), 2u);
}

TEST(SearchSessionHandOver, CollectingWithNothingToCollectReturnsAtTheDeadline)
{
    SearchSession session;
    auto start = std::chrono::steady_clock::now();
    session.CollectFor(100ms);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);
    EXPECT_TRUE(session.Rows().empty());
    EXPECT_FALSE(session.LastRowAdded().has_value());
}

} // namespace
