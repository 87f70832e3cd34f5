// How leaving and returning is asked for on lynx-camsim's command line:
// --leave and --churn as written by a user, good and bad.
#include "CommandLine.h"
#include "Presence.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

using namespace camsim;

std::string ErrorOf(const std::vector<std::string>& args)
{
    try {
        CommandLine line = ParseCommandLine(args);
        CamerasFor(line);
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    return {};
}

TEST(LeaveOption, EachAbsenceNamesACameraByNumberOrMacWithItsTimes)
{
    const CommandLine line = ParseCommandLine(
        {"--count", "3", "--leave", "2@1000+5000,00-1a-2b-00-00-03@0", "--leave", "00:1A:2B:00:00:01@250+0"});
    const auto cameras = CamerasFor(line);
    const struct {
        const char* who;
        int atMs;
        std::optional<int> forMs;
        size_t camera;
    } expected[] = {
        {"2", 1000, 5000, 1},
        {"00-1a-2b-00-00-03", 0, std::nullopt, 2},
        {"00:1A:2B:00:00:01", 250, 0, 0},
    };
    ASSERT_EQ(line.sim.leaves.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(expected[i].who);
        const LeaveSpec& spec = line.sim.leaves[i];
        EXPECT_EQ(spec.who, expected[i].who);
        EXPECT_EQ(spec.atMs, expected[i].atMs);
        EXPECT_EQ(spec.forMs, expected[i].forMs);
        EXPECT_EQ(FindCamera(spec.who, cameras), expected[i].camera);
    }
}

TEST(LeaveOption, WhatCannotBeCarriedOutIsRefusedNamingThePart)
{
    const struct {
        std::vector<std::string> args;
        const char* named;  // the part the message must quote
    } cases[] = {
        {{"--leave", "2"}, "'2'"},
        {{"--leave", "@100"}, "'@100'"},
        {{"--leave", "2@"}, "''"},
        {{"--leave", "2@x+10"}, "'x'"},
        {{"--leave", "2@10+-5"}, "'-5'"},
        {{"--leave", "2@10+"}, "''"},
        {{"--leave", "2@99999999999"}, "'99999999999'"},
        {{"--leave", "0@10"}, "'0'"},
        {{"--leave", "camera@10"}, "'camera'"},
        {{"--leave", "00:1A:2B:00:00@10"}, "'00:1A:2B:00:00'"},
        {{"--leave", "2@10,"}, "''"},
        {{"--leave", "4@10"}, "'4'"},                   // only 3 cameras
        {{"--leave", "00:1A:2B:00:00:09@10"}, "'00:1A:2B:00:00:09'"},  // a MAC none has
        {{"--leave"}, "--leave needs a value"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"--count", "3"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(c.args.back());
        const std::string error = ErrorOf(args);
        EXPECT_NE(error.find(c.named), std::string::npos) << error;
    }
}

TEST(ChurnOption, ShareTimesAndSeedAreRead)
{
    const struct {
        const char* text;
        double percent;
        int minMs, maxMs;
        std::optional<uint32_t> seed;
    } cases[] = {
        {"5:1000:60000", 5, 1000, 60000, std::nullopt},
        {"0.5:10:10:0", 0.5, 10, 10, 0u},
        {"100:1:2:4294967295", 100, 1, 2, 4294967295u},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const CommandLine line = ParseCommandLine({"--count", "3", "--churn", c.text});
        ASSERT_TRUE(line.sim.churn);
        EXPECT_DOUBLE_EQ(line.sim.churn->percent, c.percent);
        EXPECT_EQ(line.sim.churn->minMs, c.minMs);
        EXPECT_EQ(line.sim.churn->maxMs, c.maxMs);
        EXPECT_EQ(line.sim.churn->seed, c.seed);
    }
}

TEST(ChurnOption, WhatCannotBeCarriedOutIsRefused)
{
    for (const char* text : {"", "5", "5:10", "5:10:20:1:2", "0:10:20", "-5:10:20", "101:10:20", "x:10:20",
                             "5:0:20", "5:30:20", "5:10:x", "5:10:20:-1", "5:10:20:4294967296", "nan:10:20"}) {
        SCOPED_TRACE(text);
        const std::string error = ErrorOf({"--count", "3", "--churn", text});
        EXPECT_NE(error.find("--churn"), std::string::npos) << error;
    }
}

TEST(ChurnOption, AShareIsRoundedUpAndNeverExceedsTheCameras)
{
    const struct {
        size_t cameras;
        double percent;
        size_t moving;
    } cases[] = {
        {2000, 5, 100}, {10, 30, 3}, {10, 25, 3}, {3, 1, 1}, {7, 100, 7}, {0, 50, 0}, {20, 5, 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ChurnCount(c.cameras, c.percent), c.moving) << c.cameras << " cameras, " << c.percent << " %";
}

} // namespace
