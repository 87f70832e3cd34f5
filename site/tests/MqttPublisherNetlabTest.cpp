// The MQTT publisher against a real broker (mosquitto) on the virtual LAN's
// PC: every event arrives once; events published while the broker is frozen
// (in flight), dead or not yet started are all delivered once it is back,
// retained for a dashboard that subscribes later; a full queue gives up its
// oldest events, and says so; a camera's retained state is its newest event
// whatever a reconnection sent again; a broker refused for its certificate
// is taken once its certificate is renewed.
#include "site/MqttPublisher.h"

#include "MosquittoBroker.h"
#include "StatusLines.h"

#include <gtest/gtest.h>

#include <csignal>
#include <thread>
#include <map>

namespace {

using lynx::site::MqttCounters;
using lynx::site::MqttOptions;
using lynx::site::MqttPublisher;
using lynx::test::BackgroundRun;
using lynx::test::MosquittoBroker;
using lynx::test::ProcessResult;
using lynx::test::RunProcess;
using lynx::test::WaitUntil;
using namespace std::chrono_literals;

const std::string kTopic = "lynx/site";

class MqttBroker : public lynx::test::NetlabTest {
protected:
    void SetUpInLan() override { broker = std::make_unique<MosquittoBroker>(dir); }

    // A subscriber to every event's topic that ends after count messages (or
    // 30 s), and the publisher's "online" on TOPIC/status, live or retained.
    std::unique_ptr<BackgroundRun> Subscribe(int count) { return broker->Subscribe(kTopic + "/#", count + 1); }

    std::unique_ptr<MqttPublisher> Publisher(MqttOptions options = {}, bool tls = false)
    {
        options.retryFirst = 100ms;
        options.retryLongest = 400ms;
        const uint16_t port = tls ? MosquittoBroker::kTlsPort : MosquittoBroker::kPort;
        auto publisher = std::make_unique<MqttPublisher>(lynx::site::MqttUrl{broker->Host(), port, kTopic, tls}, options);
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

    std::unique_ptr<MosquittoBroker> broker;
    lynx::test::StatusLines lines;
};

TEST_F(MqttBroker, EveryEventArrivesOnceAndNoneIsLostWhileTheBrokerIsFrozenDeadOrRestarting)
{
    broker->Start();
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
    broker->Publish(kTopic + "/end", "end");
    ProcessResult got = subscriber->Finish();
    auto received = MosquittoBroker::Received(got);
    EXPECT_EQ(received[kTopic + "/end end"], 1) << got.out;
    EXPECT_EQ(received[kTopic + "/status online"], 1) << got.out;
    for (int v = 1; v <= versions; ++v)
        for (int n = 1; n <= cameras; ++n)
            EXPECT_EQ(received[Line(n, v)], 1) << Line(n, v);
    EXPECT_EQ(lines.Count(""), 0u) << "nothing to report while the broker is there";

    // Frozen: the events go out and wait for their acknowledgement.
    broker->Freeze(true);
    for (int n = 101; n <= 110; ++n)
        publisher->Publish(Mac(n), Event(n, 1));
    ASSERT_TRUE(WaitUntil([&] { return publisher->Counters().inFlight == 10; }, 10s));
    // Killed with them in flight; more events while it is down.
    broker->Stop(SIGKILL);
    ASSERT_TRUE(WaitUntil([&] { return lines.Count("无法连接") == 1; }, 30s));
    for (int n = 201; n <= 210; ++n)
        publisher->Publish(Mac(n), Event(n, 1));
    MqttCounters down = publisher->Counters();
    EXPECT_EQ(down.queued, 20u);
    EXPECT_EQ(down.published, uint64_t(cameras * versions));
    EXPECT_FALSE(publisher->Connected());

    broker->Start();
    ASSERT_TRUE(WaitUntil([&] { return publisher->Counters().published == uint64_t(cameras * versions + 20); }, 30s));
    EXPECT_EQ(publisher->Counters().queued, 0u);
    EXPECT_EQ(lines.Count("已重新连接"), 1u);
    EXPECT_EQ(lines.Count("无法连接"), 1u) << "one outage, said once";

    // A dashboard that connects now sees each camera's last state, retained.
    auto dashboard = Subscribe(20);
    got = dashboard->Finish();
    received = MosquittoBroker::Received(got);
    for (int n : {101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 201, 202, 203, 204, 205, 206, 207, 208, 209, 210})
        EXPECT_EQ(received[Line(n, 1)], 1) << Line(n, 1) << "\n" << got.out;
    EXPECT_EQ(received[kTopic + "/status online"], 1) << got.out;
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
    broker->Start();
    ASSERT_TRUE(WaitUntil([&] { return publisher->Counters().published == 5; }, 30s));
    EXPECT_TRUE(WaitUntil([&] { return lines.Count("已重新连接；队列满时丢弃了 3 条事件") == 1; }, 5s));
    EXPECT_EQ(lines.Count("队列已满（5 条）"), 1u);

    auto dashboard = Subscribe(5);
    ProcessResult got = dashboard->Finish();
    auto received = MosquittoBroker::Received(got);
    for (int n = 4; n <= 8; ++n)
        EXPECT_EQ(received[Line(n, 1)], 1) << Line(n, 1) << "\n" << got.out;
    EXPECT_EQ(got.out.find(Mac(3)), std::string::npos) << "the oldest were dropped";
    EXPECT_TRUE(publisher->Stop(5s));
}

// The library sends the events in flight again once reconnected: a newer
// event of the same camera, queued meanwhile, must reach the broker after
// them, or the camera's retained state would be the older one.
TEST_F(MqttBroker, ACamerasRetainedStateIsItsNewestEventAfterTheBrokerDiedWithAnOlderOneInFlight)
{
    broker->Start();
    auto publisher = Publisher();
    ASSERT_TRUE(WaitUntil([&] { return publisher->Connected(); }, 20s));
    broker->Freeze(true);
    for (int n = 1; n <= 5; ++n)
        publisher->Publish(Mac(n), Event(n, 1));
    ASSERT_TRUE(WaitUntil([&] { return publisher->Counters().inFlight == 5; }, 10s));
    broker->Stop(SIGKILL);
    ASSERT_TRUE(WaitUntil([&] { return !publisher->Connected(); }, 30s));
    for (int n = 1; n <= 5; ++n)
        publisher->Publish(Mac(n), Event(n, 2));
    broker->Start();
    ASSERT_TRUE(WaitUntil([&] { return publisher->Counters().published == 10; }, 30s));

    auto dashboard = Subscribe(5);
    const ProcessResult got = dashboard->Finish();
    auto received = MosquittoBroker::Received(got);
    for (int n = 1; n <= 5; ++n)
        EXPECT_EQ(received[Line(n, 2)], 1) << Line(n, 2) << "\n" << got.out;
    EXPECT_TRUE(publisher->Stop(5s));
}

// A broker whose certificate has expired is refused, said once, and tried
// again quietly: once its certificate is renewed, the events waiting reach it.
TEST_F(MqttBroker, ABrokerRefusedForItsCertificateIsTakenOnceTheCertificateIsRenewed)
{
    const lynx::test::TestCertificates pki(dir, lynx::test::PcAddress());
    const MosquittoBroker::Tls expired{pki.Pem("expired"), pki.Key("expired"), pki.Pem("ca"), "lynx", "pw-Right-7"};
    broker = std::make_unique<MosquittoBroker>(dir, expired);
    broker->Start();
    MqttOptions options;
    options.tls = {pki.Pem("ca"), pki.Pem("client"), pki.Key("client")};
    options.user = "lynx";
    options.password = "pw-Right-7";
    auto publisher = Publisher(options, true);
    for (int n = 1; n <= 3; ++n)
        publisher->Publish(Mac(n), Event(n, 1));
    ASSERT_TRUE(WaitUntil([&] { return lines.Count("的证书未通过验证（certificate has expired）") == 1; }, 20s));
    // Proves that the refusal is said once while the publisher keeps trying
    // (every second here): a fixed wait.
    std::this_thread::sleep_for(2500ms);
    EXPECT_EQ(lines.Count("证书未通过验证"), 1u);
    EXPECT_EQ(publisher->Counters().published, 0u);

    broker.reset();
    const MosquittoBroker::Tls renewed{pki.Pem("server"), pki.Key("server"), pki.Pem("ca"), "lynx", "pw-Right-7"};
    broker = std::make_unique<MosquittoBroker>(dir, renewed);
    broker->Start();
    ASSERT_TRUE(WaitUntil([&] { return publisher->Counters().published == 3; }, 30s)) << broker->Log();
    EXPECT_EQ(lines.Count("已重新连接"), 1u);
    EXPECT_EQ(lines.Count("证书未通过验证"), 1u);
    EXPECT_TRUE(publisher->Stop(5s));
}

} // namespace
