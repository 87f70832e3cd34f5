// The MQTT publisher against a real broker (mosquitto) on the virtual LAN's
// PC: every event arrives once; events published while the broker is frozen
// (in flight), dead or not yet started are all delivered once it is back,
// retained for a dashboard that subscribes later; a full queue gives up its
// oldest events, and says so.
#include "site/MqttPublisher.h"

#include "NetlabFixture.h"
#include "StatusLines.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

namespace {

using lynx::site::MqttCounters;
using lynx::site::MqttOptions;
using lynx::site::MqttPublisher;
using lynx::test::BackgroundRun;
using lynx::test::CanConnect;
using lynx::test::Count;
using lynx::test::ProcessResult;
using lynx::test::RunProcess;
using lynx::test::WaitUntil;
using namespace std::chrono_literals;

constexpr uint16_t kBrokerPort = 18830;
const std::string kTopic = "lynx/site";

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class MqttBroker : public lynx::test::NetlabTest {
protected:
    void SetUpInLan() override
    {
        host = lynx::test::PcAddress();
        ASSERT_TRUE(lynx::test::WriteFile(dir.File("mosquitto.conf"),
                                          "listener " + std::to_string(kBrokerPort) + " " + host +
                                              "\nallow_anonymous true\npersistence false\nuser root\n"
                                              "pid_file " + dir.File("mosquitto.pid") +
                                              "\nlog_dest file " + dir.File("mosquitto.log") + "\nlog_type all\n"));
    }

    void TearDown() override
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGCONT);
            StopBroker(SIGTERM);
        }
    }

    void StartBroker()
    {
        ProcessResult r = RunProcess({"/usr/sbin/mosquitto", "-c", dir.File("mosquitto.conf"), "-d"}, 20s);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        ASSERT_TRUE(WaitUntil([&] { return CanConnect(host, kBrokerPort); }, 10s)) << ReadAll(dir.File("mosquitto.log"));
        m_pid = std::stoi(ReadAll(dir.File("mosquitto.pid")));
    }

    void StopBroker(int signal)
    {
        ASSERT_GT(m_pid, 0);
        ::kill(m_pid, signal);
        // The daemon is not this process's child: gone when it no longer listens.
        EXPECT_TRUE(WaitUntil([&] { return !CanConnect(host, kBrokerPort); }, 10s));
        m_pid = -1;
    }

    void FreezeBroker(bool frozen) { ::kill(m_pid, frozen ? SIGSTOP : SIGCONT); }

    // A subscriber to every event's topic that ends after count messages
    // (or 30 s), started once the broker has its subscription.
    std::unique_ptr<BackgroundRun> Subscribe(int count)
    {
        const size_t before = Count(ReadAll(dir.File("mosquitto.log")), "Received SUBSCRIBE");
        auto run = std::make_unique<BackgroundRun>([this, count] {
            return RunProcess({"/usr/bin/mosquitto_sub", "-h", host, "-p", std::to_string(kBrokerPort), "-v", "-t",
                               kTopic + "/#", "-C", std::to_string(count), "-W", "30"},
                              40s);
        });
        EXPECT_TRUE(WaitUntil(
            [&] { return Count(ReadAll(dir.File("mosquitto.log")), "Received SUBSCRIBE") > before; }, 10s));
        return run;
    }

    // "TOPIC PAYLOAD" lines a subscriber printed, each with how often.
    static std::map<std::string, int> Received(const ProcessResult& r)
    {
        std::map<std::string, int> lines;
        std::istringstream in(r.out);
        for (std::string line; std::getline(in, line);)
            ++lines[line];
        return lines;
    }

    std::unique_ptr<MqttPublisher> Publisher(MqttOptions options = {})
    {
        options.retryFirst = 100ms;
        options.retryLongest = 400ms;
        auto publisher = std::make_unique<MqttPublisher>(lynx::site::MqttUrl{host, kBrokerPort, kTopic}, options);
        publisher->SetStatusCallback(lines.Callback());
        publisher->Start();
        return publisher;
    }

    static std::string Mac(int n)
    {
        char mac[20];
        std::snprintf(mac, sizeof mac, "00:1A:2B:00:%02X:%02X", (n >> 8) & 0xFF, n & 0xFF);
        return mac;
    }
    static std::string Event(int n, int version) { return R"({"event":"seen","n":)" + std::to_string(n) + R"(,"v":)" + std::to_string(version) + "}"; }
    static std::string Line(int n, int version) { return kTopic + "/" + Mac(n) + " " + Event(n, version); }

    std::string host;
    lynx::test::StatusLines lines;

private:
    pid_t m_pid = -1;
};

TEST_F(MqttBroker, EveryEventArrivesOnceAndNoneIsLostWhileTheBrokerIsFrozenDeadOrRestarting)
{
    StartBroker();
    // Ten cameras, three events each, then a line of the test's own: as the
    // broker keeps one subscriber's order, a duplicate would end the
    // subscriber before that line arrives.
    const int cameras = 10, versions = 3;
    auto subscriber = Subscribe(cameras * versions + 1);
    auto publisher = Publisher();
    for (int v = 1; v <= versions; ++v)
        for (int n = 1; n <= cameras; ++n)
            publisher->Publish(Mac(n), Event(n, v));
    ASSERT_TRUE(WaitUntil([&] { return publisher->Counters().published == uint64_t(cameras * versions); }, 20s));
    EXPECT_TRUE(publisher->Connected());
    ProcessResult end = RunProcess({"/usr/bin/mosquitto_pub", "-h", host, "-p", std::to_string(kBrokerPort), "-t",
                                    kTopic + "/end", "-m", "end", "-q", "1"},
                                   20s);
    ASSERT_EQ(end.exitCode, 0) << end.err;
    ProcessResult got = subscriber->Finish();
    auto received = Received(got);
    EXPECT_EQ(received[kTopic + "/end end"], 1) << got.out;
    for (int v = 1; v <= versions; ++v)
        for (int n = 1; n <= cameras; ++n)
            EXPECT_EQ(received[Line(n, v)], 1) << Line(n, v);
    EXPECT_EQ(lines.Count(""), 0u) << "nothing to report while the broker is there";

    // Frozen: the events go out and wait for their acknowledgement.
    FreezeBroker(true);
    for (int n = 101; n <= 110; ++n)
        publisher->Publish(Mac(n), Event(n, 1));
    ASSERT_TRUE(WaitUntil([&] { return publisher->Counters().inFlight == 10; }, 10s));
    // Killed with them in flight; more events while it is down.
    StopBroker(SIGKILL);
    ASSERT_TRUE(WaitUntil([&] { return lines.Count("无法连接") == 1; }, 30s));
    for (int n = 201; n <= 210; ++n)
        publisher->Publish(Mac(n), Event(n, 1));
    MqttCounters down = publisher->Counters();
    EXPECT_EQ(down.queued, 20u);
    EXPECT_EQ(down.published, uint64_t(cameras * versions));
    EXPECT_FALSE(publisher->Connected());

    StartBroker();
    ASSERT_TRUE(WaitUntil([&] { return publisher->Counters().published == uint64_t(cameras * versions + 20); }, 30s));
    EXPECT_EQ(publisher->Counters().queued, 0u);
    EXPECT_EQ(lines.Count("已重新连接"), 1u);
    EXPECT_EQ(lines.Count("无法连接"), 1u) << "one outage, said once";

    // A dashboard that connects now sees each camera's last state, retained.
    auto dashboard = Subscribe(20);
    got = dashboard->Finish();
    received = Received(got);
    for (int n : {101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 201, 202, 203, 204, 205, 206, 207, 208, 209, 210})
        EXPECT_EQ(received[Line(n, 1)], 1) << Line(n, 1) << "\n" << got.out;
    EXPECT_TRUE(publisher->Stop(5s));
    EXPECT_EQ(publisher->Counters().dropped, 0u);
}

TEST_F(MqttBroker, AFullQueueGivesUpItsOldestEventsAndSaysHowMany)
{
    MqttOptions options;
    options.queueLimit = 5;
    auto publisher = Publisher(options);
    ASSERT_TRUE(WaitUntil([&] { return lines.Count("无法连接") == 1; }, 10s)) << "no broker yet";
    for (int n = 1; n <= 8; ++n)
        publisher->Publish(Mac(n), Event(n, 1));
    EXPECT_EQ(publisher->Counters().dropped, 3u);
    StartBroker();
    ASSERT_TRUE(WaitUntil([&] { return publisher->Counters().published == 5; }, 30s));
    EXPECT_TRUE(WaitUntil([&] { return lines.Count("已重新连接；队列满时丢弃了 3 条事件") == 1; }, 5s));
    EXPECT_EQ(lines.Count("队列已满（5 条）"), 1u);

    auto dashboard = Subscribe(5);
    ProcessResult got = dashboard->Finish();
    auto received = Received(got);
    for (int n = 4; n <= 8; ++n)
        EXPECT_EQ(received[Line(n, 1)], 1) << Line(n, 1) << "\n" << got.out;
    EXPECT_EQ(got.out.find(Mac(3)), std::string::npos) << "the oldest were dropped";
    EXPECT_TRUE(publisher->Stop(5s));
}

} // namespace
