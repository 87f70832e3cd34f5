// lynx-cli watch among simulated cameras in a virtual LAN, as an engineer
// leaves it running after handover: a camera unplugged and plugged in again,
// one readdressed, the events read live from its output, and its end on a
// signal with the summary.
#include "SessionInLan.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <thread>

namespace {

using namespace lynx::test;

constexpr const char* kLeaving = "02:00:5E:10:00:21";
constexpr const char* kReaddressed = "02:00:5E:10:00:22";
constexpr const char* kStaying = "02:00:5E:10:00:23";

Json::Value Cameras(std::initializer_list<std::pair<int, const char*>> cameras)
{
    Json::Value list(Json::arrayValue);
    for (const auto& [last, mac] : cameras)
        list.append(SimCamera(last, "WATCH", {{"mac", mac}}));
    return list;
}

class WatchCli : public NetlabTest {
protected:
    ~WatchCli() override
    {
        if (m_watch && m_pid > 0)
            ::kill(m_pid, SIGKILL);
    }

    // lynx-cli watch in the background, in Chinese, its standard output into
    // a file that the test reads as it grows: every line must be there as
    // soon as its event happened.
    // Each run writes files of its own.
    void StartWatch(const std::vector<std::string>& options)
    {
        ++m_run;
        std::string command = "echo $$ > " + File("pid") + "; exec " + BinDir() + "/lynx-cli watch";
        for (const std::string& option : options)
            command += " " + option;
        command += " > " + File("events") + " 2> " + File("err");
        m_watch = std::make_unique<BackgroundRun>(
            [command] { return RunProcess({"/bin/sh", "-c", command}, 120s, {"LYNX_LANG=zh"}); });
        ASSERT_TRUE(WaitUntil([&] { return (m_pid = std::atoi(Read("pid").c_str())) > 0; }, 10s));
    }

    std::string File(const std::string& name) const { return dir.File(name + std::to_string(m_run)); }

    std::string Read(const std::string& name) const
    {
        std::ifstream in(File(name), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // Each complete line of the output, parsed.
    std::vector<Json::Value> Events() const
    {
        std::vector<Json::Value> events;
        std::istringstream lines(Read("events"));
        for (std::string line; std::getline(lines, line);) {
            if (!lines.eof())
                events.push_back(ParseJson(line));
        }
        return events;
    }

    int CountOf(const std::string& event, const std::string& mac) const
    {
        int n = 0;
        for (const Json::Value& e : Events())
            n += e["event"].asString() == event && e["mac"].asString() == mac ? 1 : 0;
        return n;
    }

    bool WaitFor(const std::string& event, const std::string& mac, std::chrono::milliseconds timeout = 30s) const
    {
        return WaitUntil([&] { return CountOf(event, mac) > 0; }, timeout);
    }

    // Ends the watch with signal: its result and how long it took to end.
    std::pair<ProcessResult, std::chrono::milliseconds> End(int signal)
    {
        const auto sent = std::chrono::steady_clock::now();
        ::kill(m_pid, signal);
        ProcessResult result = m_watch->Finish();
        m_watch.reset();
        m_pid = -1;
        result.out = Read("events");
        result.err = Read("err");
        return {result, std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - sent)};
    }

private:
    std::unique_ptr<BackgroundRun> m_watch;
    pid_t m_pid = -1;
    int m_run = 0;
};

TEST_F(WatchCli, ACameraThatLeavesAndReturnsAndOneReaddressedAreEachReportedOnceAsTheyHappen)
{
    CamsimProcess leaving;
    std::string error;
    ASSERT_TRUE(leaving.StartCameras(Cameras({{121, kLeaving}}), {}, &error)) << error;
    // Its restart after the change shorter than the two missed searches: an
    // address change, not a camera gone.
    startCameras(Cameras({{122, kReaddressed}, {123, kStaying}}), {"--restart-ms", "100"});
    StartWatch({"--format", "json", "--interval", "1", "--missed", "2"});
    for (const char* mac : {kLeaving, kReaddressed, kStaying})
        ASSERT_TRUE(WaitFor("appeared", mac)) << mac << Read("events") << Read("err");

    leaving.Stop();
    ASSERT_TRUE(WaitFor("disappeared", kLeaving)) << Read("events") << Read("err");
    CamsimProcess back;
    ASSERT_TRUE(back.StartCameras(Cameras({{121, kLeaving}}), {}, &error)) << error;
    ASSERT_TRUE(WaitFor("returned", kLeaving)) << Read("events");

    // (lynx-cli set-ip cannot run beside the watch: the two would share the report port.)
    ASSERT_TRUE(BroadcastAddressChange(kReaddressed, "192.168.1.150"));
    ASSERT_TRUE(WaitFor("address", kReaddressed)) << Read("events") << cameras.Log();
    // Nothing else may follow from what happened: a fixed wait of more than
    // two searches, proving that no event comes late or twice.
    const size_t seen = Events().size();
    std::this_thread::sleep_for(2500ms);
    const auto [result, took] = End(SIGTERM);
    EXPECT_EQ(result.exitCode, 0) << result.err;

    const std::vector<Json::Value> events = Events();
    EXPECT_EQ(events.size(), seen) << result.out;
    std::map<std::string, int> kinds;
    for (const Json::Value& e : events) {
        ASSERT_TRUE(e.isObject()) << result.out;
        ++kinds[e["event"].asString()];
        EXPECT_TRUE(std::regex_match(e["time"].asString(),
                                     std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")))
            << e["time"].asString();
    }
    EXPECT_EQ(kinds, (std::map<std::string, int>{{"appeared", 3}, {"disappeared", 1}, {"returned", 1}, {"address", 1}}))
        << result.out;
    EXPECT_EQ(CountOf("disappeared", kLeaving), 1);
    EXPECT_EQ(CountOf("returned", kLeaving), 1);
    ASSERT_EQ(CountOf("address", kReaddressed), 1);
    for (const Json::Value& e : events) {
        if (e["event"] == "address") {
            EXPECT_EQ(e["previousIp"].asString(), "192.168.1.122");
            EXPECT_EQ(e["ip"].asString(), "192.168.1.150");
        }
        if (e["event"] == "returned") {
            EXPECT_EQ(e["ip"].asString(), "192.168.1.121");
        }
    }
    EXPECT_NE(result.err.find("在线相机 3 台，消失 0 台"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("事件：出现 3，消失 1，恢复 1，地址变更 1，版本变更 0"), std::string::npos) << result.err;
}

TEST_F(WatchCli, ASignalEndsTheWatchAtOnceWithTheSummaryInsteadOfWaitingOutTheInterval)
{
    startCameras(Cameras({{121, kStaying}}));
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        StartWatch({"--format", "table", "--interval", "60"});
        ASSERT_TRUE(WaitUntil([&] { return Read("events").find(kStaying) != std::string::npos; }, 20s))
            << Read("err");
        const auto [result, took] = End(signal);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_LT(took, 3s) << "a 60-second interval is not waited out";
        EXPECT_NE(result.out.find("出现"), std::string::npos) << result.out;
        EXPECT_NE(result.err.find("监视结束，共搜索 1 次：在线相机 1 台，消失 0 台，应有而缺席 0 台"), std::string::npos)
            << result.err;
    }
}

} // namespace
