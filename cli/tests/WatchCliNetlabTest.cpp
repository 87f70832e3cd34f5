// lynx-cli watch among simulated cameras in a virtual LAN, as an engineer
// leaves it running after handover: a camera unplugged and plugged in again,
// one readdressed, the events read live from its output, and its end on a
// signal with the summary.
#include "DeafListener.h"
#include "MosquittoBroker.h"
#include "SessionInLan.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
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
// On the site's list, never on the LAN; written as a site file may write it.
constexpr const char* kNeverThere = "02-00-5e-10-00-2f";

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
    // Each run writes files of its own. launcher: a command that runs it
    // (with exec, so that it keeps the pid), empty for none.
    void StartWatch(const std::vector<std::string>& options, const std::string& launcher = "")
    {
        ++m_run;
        std::string command = "echo $$ > " + File("pid") + "; exec " + launcher + " " + BinDir() + "/lynx-cli watch";
        for (const std::string& option : options)
            command += " " + option;
        command += " > " + File("events") + " 2> " + File("err");
        m_watch = std::make_unique<BackgroundRun>(
            [command] { return RunProcess({"/bin/sh", "-c", command}, 300s, {"LYNX_LANG=zh"}); });
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
        ProcessResult result = Ended();
        return {result, std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - sent)};
    }

    // The watch's result once it has ended by itself (its duration).
    ProcessResult Ended()
    {
        ProcessResult result = m_watch->Finish();
        m_watch.reset();
        m_pid = -1;
        result.out = Read("events");
        result.err = Read("err");
        return result;
    }

    // The test's simulator takes its first present camera away (SIGUSR1), or
    // brings back the one away the longest (SIGUSR2).
    void TakeAway() { ::kill(cameras.Pid(), SIGUSR1); }
    void BringBack() { ::kill(cameras.Pid(), SIGUSR2); }

    // A signal to the watch that may not end it (SIGSTOP).
    void Send(int signal) const { ::kill(m_pid, signal); }

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

TEST_F(WatchCli, AgainstASiteFileEventsCarryTheLabelsAndACameraAbsentAtTheEndFailsTheWatch)
{
    startCameras(Cameras({{121, kLeaving}, {123, kStaying}}));
    const std::string site = dir.Write("site.csv", std::string("mac,label\n") + kLeaving + ",B2-017\n" + kStaying +
                                                       ",B2-018\n");
    // Every expected camera there at the end: exit 0, each event labelled.
    StartWatch({"--format", "json", "--interval", "1", "--missed", "2", "--site", site});
    for (const char* mac : {kLeaving, kStaying})
        ASSERT_TRUE(WaitFor("appeared", mac)) << mac << Read("events") << Read("err");
    TakeAway();
    ASSERT_TRUE(WaitFor("disappeared", kLeaving)) << Read("events") << cameras.Log();
    BringBack();
    ASSERT_TRUE(WaitFor("returned", kLeaving)) << Read("events") << cameras.Log();
    ProcessResult result = End(SIGTERM).first;
    EXPECT_EQ(result.exitCode, 0) << result.err;
    const std::map<std::string, std::string> labels = {{kLeaving, "B2-017"}, {kStaying, "B2-018"}};
    const std::vector<Json::Value> events = Events();
    EXPECT_EQ(events.size(), 4u) << result.out;
    for (const Json::Value& e : events)
        EXPECT_EQ(e["label"].asString(), labels.at(e["mac"].asString())) << result.out;
    EXPECT_NE(result.err.find("应有而缺席 0 台"), std::string::npos) << result.err;

    // One more expected camera that is never on the LAN, and the duration
    // ending while a camera is away: one "missing", and exit 1 naming both.
    const std::string bigger = dir.Write("bigger.csv", std::string("mac,label\n") + kLeaving + ",B2-017\n" + kStaying +
                                                           ",B2-018\n" + kNeverThere + ",B2-099\n");
    StartWatch({"--format", "json", "--interval", "1", "--missed", "2", "--duration", "12", "--site", bigger});
    ASSERT_TRUE(WaitFor("appeared", kLeaving)) << Read("events") << Read("err");
    TakeAway();
    ASSERT_TRUE(WaitFor("disappeared", kLeaving)) << Read("events") << cameras.Log();
    result = Ended();
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_EQ(CountOf("missing", kNeverThere), 1) << result.out;
    for (const Json::Value& e : Events()) {
        if (e["event"] == "missing") {
            EXPECT_EQ(e["label"].asString(), "B2-099");
        }
    }
    EXPECT_EQ(CountOf("disappeared", kLeaving), 1) << result.out;
    EXPECT_NE(result.err.find("应有而缺席 2 台"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(std::string(kLeaving) + " B2-017"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(std::string(kNeverThere) + " B2-099"), std::string::npos) << result.err;

    // A site that has one of the two: the other is unexpected there, not one
    // more camera that appeared.
    BringBack();
    const std::string one = dir.Write("one.csv", std::string("mac,label\n") + kStaying + ",B2-018\n");
    StartWatch({"--format", "json", "--interval", "1", "--duration", "3", "--site", one});
    result = Ended();
    EXPECT_EQ(CountOf("unexpected", kLeaving), 1) << result.out;
    EXPECT_EQ(CountOf("appeared", kLeaving), 0) << result.out;
    EXPECT_EQ(CountOf("appeared", kStaying), 1) << result.out;
    EXPECT_NE(result.err.find("多余 1"), std::string::npos) << result.err;
}

// Bad input is refused before anything goes out: no search reaches the
// cameras, no connection reaches the broker.
TEST_F(WatchCli, ABadSiteFileOrPublishUrlIsRefusedWithExit2AndNothingIsSent)
{
    startCameras(Cameras({{123, kStaying}}));
    MosquittoBroker broker(dir);
    broker.Start();
    const std::string bad = dir.Write("bad.csv", "mac,ip\n"
                                                 "02:00:5E:10:00:2Z,192.168.1.130\n"
                                                 "02:00:5E:10:00:31,192.168.1.1300\n");
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> said;  // each on standard error
    };
    const std::vector<Case> cases = {
        {{"--site", bad, "--publish", broker.Url("lynx/watch")},
         {bad + ": 第 2 行，mac 列：MAC地址“02:00:5E:10:00:2Z”无效\n",
          bad + ": 第 3 行，ip 列：“192.168.1.1300”不是点分十进制的IPv4地址\n"}},
        {{"--site", dir.File("no-such.csv")}, {dir.File("no-such.csv") + ": "}},
        {{"--publish", "mqtt://lynx:secret@" + broker.Host() + ":18830/lynx/watch"},
         {"--publish: MQTT地址不能包含用户名或密码：mqtt://…@" + broker.Host() + ":18830/lynx/watch。请用 --mqtt-user"}},
        {{"--publish", "mqtt://" + broker.Host() + ":18830"}, {"--publish: "}},
        {{"--publish", "mqtts://" + broker.Host() + "/lynx/watch", "--mqtt-cafile", dir.File("no-such-ca.pem")},
         {"--publish: " + dir.File("no-such-ca.pem") + ": No such file or directory\n"}},
        {{"--publish", "mqtts://" + broker.Host() + "/lynx/watch", "--mqtt-cert", dir.File("client.pem")},
         {"--mqtt-cert and --mqtt-key go together\n"}},
        {{"--publish", broker.Url("lynx/watch"), "--mqtt-user", "lynx", "--mqtt-password-file", dir.File("no-such")},
         {"--mqtt-password-file " + dir.File("no-such") + ": No such file or directory\n"}},
        {{"--publish", "http://" + broker.Host() + "/x"}, {"--publish: MQTT地址应写作"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"watch", "--interval", "1", "--duration", "2"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(c.args.back());
        const ProcessResult r = RunCli(args, 30s);
        EXPECT_EQ(r.exitCode, 2) << r.err;
        EXPECT_EQ(r.out, "");
        for (const std::string& part : c.said)
            EXPECT_NE(r.err.find("lynx-cli watch: " + part), std::string::npos) << part << "\n" << r.err;
        EXPECT_EQ(r.err.find("secret"), std::string::npos) << r.err;
    }
    EXPECT_EQ(Count(broker.Log(), "New client connected"), 0u) << broker.Log();
    // Nothing was sent: after one search more, the camera has heard exactly one.
    ASSERT_EQ(CliSearchJson().size(), 1u);
    ASSERT_TRUE(WaitUntil([&] { return Count(cameras.Log(), "search from ") >= 1; }, 5s));
    EXPECT_EQ(Count(cameras.Log(), "search from "), 1u) << cameras.Log();
}

// Each event goes to the broker too, the very line --format json prints, on
// TOPIC/MAC: a subscriber gets each once; with the broker killed while a
// camera leaves, its events wait, and a subscriber of the restarted broker
// gets them once each, in order; a dashboard that comes last sees the last.
// A broker that never comes back fails the watch.
TEST_F(WatchCli, PublishedEventsAreThePrintedLinesEachOnceAndNoneIsLostWhileTheBrokerRestarts)
{
    startCameras(Cameras({{121, kLeaving}, {123, kStaying}}));
    MosquittoBroker broker(dir);
    broker.Start();
    const std::string topic = "lynx/watch";
    // Each subscriber sees the watch's state on TOPIC/status too, once.
    const std::string online = topic + "/status online";
    auto live = broker.Subscribe(topic + "/#", 3);
    StartWatch({"--format", "json", "--interval", "1", "--missed", "2", "--publish", broker.Url(topic)});
    for (const char* mac : {kLeaving, kStaying})
        ASSERT_TRUE(WaitFor("appeared", mac)) << mac << Read("events") << Read("err");
    // The line a subscriber prints for each event the watch printed.
    const auto published = [&](size_t from, size_t to) {
        std::map<std::string, int> lines;
        std::istringstream printed(Read("events"));
        size_t n = 0;
        for (std::string line; std::getline(printed, line); ++n) {
            if (n >= from && n < to)
                ++lines[topic + "/" + ParseJson(line)["mac"].asString() + " " + line];
        }
        return lines;
    };
    ProcessResult got = live->Finish();
    std::map<std::string, int> expected = published(0, 2);
    expected[online] = 1;
    EXPECT_EQ(MosquittoBroker::Received(got), expected) << got.out << got.err;

    // Killed (its retained states gone with it, as it keeps none on disk);
    // the camera leaves while it is down and returns once it is back.
    broker.Stop(SIGKILL);
    TakeAway();
    ASSERT_TRUE(WaitFor("disappeared", kLeaving)) << Read("events") << cameras.Log();
    broker.Start();
    // Subscribed before the camera returns: the event sent while the broker
    // was down comes live or retained, whichever the reconnection makes it.
    auto restarted = broker.Subscribe(topic + "/#", 3);
    BringBack();
    ASSERT_TRUE(WaitFor("returned", kLeaving)) << Read("events") << cameras.Log();
    got = restarted->Finish();
    expected = published(2, 4);
    expected[online] = 1;
    EXPECT_EQ(MosquittoBroker::Received(got), expected) << got.out << got.err;
    EXPECT_LT(got.out.find("\"disappeared\""), got.out.find("\"returned\"")) << got.out;

    const ProcessResult result = End(SIGTERM).first;
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(Events().size(), 4u) << result.out;
    const std::string url = broker.Url(topic);
    EXPECT_NE(result.err.find("lynx-cli watch: 已向 " + url + " 发布 4 条事件\n"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("丢弃"), std::string::npos) << result.err;
    EXPECT_EQ(Count(result.err, "lynx-cli watch: MQTT服务器 " + broker.Host() + ":18830 无法连接"), 1u) << result.err;
    EXPECT_EQ(Count(result.err, "lynx-cli watch: MQTT服务器 " + broker.Host() + ":18830 已重新连接"), 1u) << result.err;

    // A dashboard that subscribes now gets the leaving camera's last state,
    // retained, and the watch's "offline", then a line of the test's own:
    // nothing stale, nothing twice.
    auto dashboard = broker.Subscribe(topic + "/#", 3);
    broker.Publish(topic + "/end", "end");
    got = dashboard->Finish();
    std::map<std::string, int> last = published(3, 4);
    last[topic + "/end end"] = 1;
    last[topic + "/status offline"] = 1;
    EXPECT_EQ(MosquittoBroker::Received(got), last) << got.out;

    // A broker gone for good: the events left unsent are said, and the watch fails.
    broker.Stop(SIGTERM);
    StartWatch({"--format", "json", "--interval", "1", "--duration", "3", "--publish", url});
    const ProcessResult unsent = Ended();
    EXPECT_EQ(unsent.exitCode, 1) << unsent.err;
    EXPECT_EQ(Events().size(), 2u) << unsent.out;
    EXPECT_NE(unsent.err.find("lynx-cli watch: 已向 " + url + " 发布 0 条事件\n"), std::string::npos) << unsent.err;
    EXPECT_NE(unsent.err.find("lynx-cli watch: 0 条事件被丢弃，2 条未送出"), std::string::npos) << unsent.err;
}

// The broker on the internet: over TLS, with a login and a client
// certificate, a subscriber gets the watch's "online", then every event the
// watch printed, once; a clean end leaves "offline", retained.
TEST_F(WatchCli, OverTlsWithALoginEveryEventArrivesAndTheStatusTopicSaysOnlineThenOffline)
{
    startCameras(Cameras({{121, kLeaving}, {123, kStaying}}));
    const TestCertificates pki(dir, PcAddress());
    const std::string password = "pw-Right-7";
    MosquittoBroker broker(dir, {pki.Pem("server"), pki.Key("server"), pki.Pem("ca"), "lynx", password});
    broker.Start();
    const std::string topic = "lynx/tls";
    auto live = broker.Subscribe(topic + "/#", 3);
    StartWatch({"--format", "json", "--interval", "1", "--publish", broker.Url(topic), "--mqtt-cafile", pki.Pem("ca"),
                "--mqtt-cert", pki.Pem("client"), "--mqtt-key", pki.Key("client"), "--mqtt-user", "lynx",
                "--mqtt-password-file", dir.Write("password", password + "\n")});
    for (const char* mac : {kLeaving, kStaying})
        ASSERT_TRUE(WaitFor("appeared", mac)) << mac << Read("events") << Read("err");
    ProcessResult got = live->Finish();
    std::map<std::string, int> expected = {{topic + "/status online", 1}};
    std::istringstream printed(Read("events"));
    for (std::string line; std::getline(printed, line);)
        ++expected[topic + "/" + ParseJson(line)["mac"].asString() + " " + line];
    EXPECT_EQ(MosquittoBroker::Received(got), expected) << got.out << got.err << broker.Log();
    EXPECT_EQ(got.out.rfind(topic + "/status online\n", 0), 0u) << "online comes first: " << got.out;

    const ProcessResult result = End(SIGTERM).first;
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("lynx-cli watch: 已向 " + broker.Url(topic) + " 发布 2 条事件\n"), std::string::npos)
        << result.err;
    EXPECT_EQ(result.err.find(password), std::string::npos) << result.err;
    EXPECT_EQ(Count(broker.Log(), "u'lynx'"), 1u) << "one connection, logged in: " << broker.Log();
    auto dashboard = broker.Subscribe(topic + "/status", 1);
    got = dashboard->Finish();
    EXPECT_EQ(got.out, topic + "/status offline\n") << got.err;

    // Without --mqtt-cafile, the system's authorities: here the test's, as
    // OpenSSL takes them from SSL_CERT_FILE.
    StartWatch({"--format", "json", "--interval", "1", "--duration", "2", "--publish", broker.Url(topic), "--mqtt-cert",
                pki.Pem("client"), "--mqtt-key", pki.Key("client"), "--mqtt-user", "lynx", "--mqtt-password-file",
                dir.File("password")},
               "env SSL_CERT_FILE=" + pki.Pem("ca"));
    const ProcessResult system = Ended();
    EXPECT_EQ(system.exitCode, 0) << system.err;
    EXPECT_NE(system.err.find("lynx-cli watch: 已向 " + broker.Url(topic) + " 发布 2 条事件\n"), std::string::npos)
        << system.err;
    EXPECT_EQ(system.err.find("明文"), std::string::npos) << system.err;

    // The same login over plain mqtt:// works, and is said to travel readable.
    StartWatch({"--interval", "1", "--duration", "2", "--publish",
                "mqtt://127.0.0.1:" + std::to_string(MosquittoBroker::kPort) + "/" + topic, "--mqtt-user", "lynx",
                "--mqtt-password-file", dir.File("password")});
    const ProcessResult plain = Ended();
    EXPECT_EQ(plain.exitCode, 0) << plain.err;
    EXPECT_NE(plain.err.find("lynx-cli watch: lynx 的密码以明文发往 127.0.0.1，途中可被读取：请用 mqtts://\n"),
              std::string::npos)
        << plain.err;
    EXPECT_EQ(plain.err.find(password), std::string::npos) << plain.err;
}

// A broker whose certificate does not verify is refused, with OpenSSL's
// reason, and is sent nothing (not even the login); the watch goes on and
// fails at its end for the events left unsent. A login the broker refuses
// is said with the broker's reason and ends the watch at once, exit 2.
TEST_F(WatchCli, ABrokerWithAWrongCertificateOrLoginIsRefusedWithTheReasonAndSentNothing)
{
    startCameras(Cameras({{123, kStaying}}));
    const TestCertificates pki(dir, PcAddress());
    const std::string right = dir.Write("right", "pw-Right-7\n");
    const std::string wrong = dir.Write("wrong", "pw-Wrong-3\n");
    struct Case {
        const char* name;
        const char* server;  // the broker's certificate
        std::vector<std::string> options;
        std::string said;  // after "MQTT服务器 HOST:PORT "
        int exitCode;
    };
    const std::string ca = pki.Pem("ca");
    const std::vector<Case> cases = {
        {"another authority", "foreign", {"--mqtt-cafile", ca, "--mqtt-password-file", right},
         "的证书未通过验证（unable to get local issuer certificate）", 1},
        {"another host", "elsewhere", {"--mqtt-cafile", ca, "--mqtt-password-file", right},
         "的证书未通过验证（IP address mismatch）", 1},
        {"expired", "expired", {"--mqtt-cafile", ca, "--mqtt-password-file", right},
         "的证书未通过验证（certificate has expired）", 1},
        // The broker sends its authority along, which the system does not know.
        {"an authority the system does not know", "server", {"--mqtt-password-file", right},
         "的证书未通过验证（self-signed certificate in certificate chain）", 1},
        {"a wrong password", "server", {"--mqtt-cafile", ca, "--mqtt-password-file", wrong},
         "拒绝登录（Connection Refused: not authorised.），不再重试", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MosquittoBroker broker(dir, {pki.Pem(c.server), pki.Key(c.server), ca, "lynx", "pw-Right-7"});
        broker.Start();
        auto subscriber = broker.Subscribe("lynx/#", 1);
        std::vector<std::string> args = {"--format", "json", "--interval", "1", "--duration", c.exitCode == 2 ? "120" : "3",
                                         "--publish", broker.Url("lynx/watch"), "--mqtt-cert", pki.Pem("client"),
                                         "--mqtt-key", pki.Key("client"), "--mqtt-user", "lynx"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const auto start = std::chrono::steady_clock::now();
        StartWatch(args);
        const ProcessResult result = Ended();
        const auto took = std::chrono::steady_clock::now() - start;
        std::printf("%s: ended after %lld ms\n", c.name,
                    static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
        EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
        EXPECT_EQ(Count(result.err, "lynx-cli watch: MQTT服务器 " + broker.Host() + ":18883 " + c.said), 1u) << result.err;
        // A login refused at once may come before the camera's answer: every
        // event the watch saw is left unsent, none when it saw none.
        const std::size_t seen = Count(result.out, "appeared");
        EXPECT_EQ(Count(result.err, "已向 " + broker.Url("lynx/watch") + " 发布 0 条事件"), 1u) << result.err;
        if (c.exitCode == 2 && seen == 0)
            EXPECT_EQ(result.err.find("条未送出"), std::string::npos) << result.err;
        else
            EXPECT_NE(result.err.find("lynx-cli watch: 0 条事件被丢弃，1 条未送出"), std::string::npos) << result.err;
        EXPECT_EQ(result.err.find("pw-"), std::string::npos) << result.err;
        if (c.exitCode == 2)
            EXPECT_LT(took, 20s) << "a refused login ends the watch at once";
        else
            EXPECT_EQ(Count(broker.Log(), "New client connected from " + broker.Host()), 0u)
                << "not even a login was sent: " << broker.Log();
        broker.Publish("lynx/end", "end");
        const ProcessResult got = subscriber->Finish();
        EXPECT_EQ(got.out, "lynx/end end\n") << "nothing was published before the test's own line";
    }
}

// The broker gives out the watch's last will, "offline", when it loses the
// watch: at once for a watch killed (the system closes its connection), and
// once 1.5 times the keep-alive has passed without a word for one that goes
// silent, as a PC that hangs or a pulled cable does (mosquitto looks at its
// clients' keep-alives only now and then: a keep-alive more is allowed).
TEST_F(WatchCli, AWatchKilledOrGoneSilentShowsOfflineOnItsStatusTopic)
{
    startCameras(Cameras({{123, kStaying}}));
    MosquittoBroker broker(dir);
    broker.Start();
    struct Case {
        const char* name;
        int signal;
        std::chrono::milliseconds within;
    };
    const Case cases[] = {
        {"killed", SIGKILL, 3s},
        {"silent", SIGSTOP, 7500ms + 5s + 2s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string topic = std::string("lynx/") + c.name;
        auto status = broker.Subscribe(topic + "/status", 2);
        StartWatch({"--interval", "1", "--publish", broker.Url(topic), "--mqtt-keepalive", "5"});
        // "online" has reached the broker.
        ASSERT_TRUE(WaitUntil([&] { return Count(broker.Log(), "'" + topic + "/status'") > 0; }, 20s)) << Read("err");
        const auto sent = std::chrono::steady_clock::now();
        Send(c.signal);
        const ProcessResult got = status->Finish();
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - sent);
        std::printf("%s: offline after %lld ms\n", c.name, static_cast<long long>(took.count()));
        EXPECT_EQ(got.out, topic + "/status online\n" + topic + "/status offline\n") << got.err << broker.Log();
        EXPECT_LT(took, c.within);
        End(SIGKILL);
    }
}

// A broker whose accept queue is full answers no SYN, and the system would
// wait minutes for it: the watch still ends at its duration plus the flush,
// and at once on a signal, failing as events are left unsent.
TEST_F(WatchCli, AWatchPublishingToABrokerThatNeverAnswersEndsInTimeAndAtOnceOnASignal)
{
    startCameras(Cameras({{123, kStaying}}));
    // A broker known by a name that only a name server which never answers
    // could resolve: the watch runs in a mount namespace of its own, whose
    // /etc/resolv.conf names a UDP socket of the test's that reads nothing.
    const int nameServer = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in dns{};
    dns.sin_family = AF_INET;
    dns.sin_port = htons(53);
    dns.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(nameServer, reinterpret_cast<sockaddr*>(&dns), sizeof dns), 0) << std::strerror(errno);
    const std::string resolv = dir.Write("resolv.conf", "nameserver 127.0.0.1\noptions timeout:30 attempts:2\n");
    const std::string deafNames = dir.Write("deaf-names.sh", "mount --bind " + resolv + " /etc/resolv.conf || exit 99\n"
                                                             "exec \"$@\"\n");
    struct Case {
        const char* name;
        bool filled;     // the broker's queue full before the watch comes
        int signal;      // 0: the watch ends at its duration
        bool byName;     // the broker named, its name server deaf
    };
    const Case cases[] = {
        {"the watch takes the queue's last place, at its duration", false, 0, false},
        {"a full queue, at its duration", true, 0, false},
        {"SIGTERM", false, SIGTERM, false},
        {"SIGINT", true, SIGINT, false},
        {"a name no server answers for, at its duration", false, 0, true},
        {"a name no server answers for, SIGTERM", false, SIGTERM, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DeafListener broker("127.0.0.1", c.filled);
        ASSERT_TRUE(broker.ok());
        const auto start = std::chrono::steady_clock::now();
        const std::string host = c.byName ? "broker.lynx.test" : "127.0.0.1";
        StartWatch({"--format", "json", "--interval", "1", "--duration", c.signal ? "600" : "2", "--publish",
                    "mqtt://" + host + ":" + std::to_string(broker.port()) + "/lynx/watch"},
                   c.byName ? "unshare -m /bin/sh " + deafNames : "");
        ASSERT_TRUE(WaitFor("appeared", kStaying)) << Read("err");
        ProcessResult result;
        std::chrono::milliseconds took{};
        if (c.signal) {
            // Time for the attempts that hang in the system (a connect, a
            // name looked up) to begin: nothing outside shows that they have.
            std::this_thread::sleep_for(3s);
            std::tie(result, took) = End(c.signal);
        } else {
            result = Ended();
            took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        }
        std::printf("%s: ended after %lld ms\n", c.name, static_cast<long long>(took.count()));
        EXPECT_FALSE(result.timedOut);
        EXPECT_LT(took, c.signal ? 3s : 30s) << result.err;
        EXPECT_EQ(result.exitCode, 1) << result.err;
        EXPECT_NE(result.err.find("lynx-cli watch: 0 条事件被丢弃，1 条未送出"), std::string::npos) << result.err;
    }
    ::close(nameServer);
}

// A host floods the watch with more made-up cameras than it follows, each
// report sent from the address it names (a host forging its source address:
// the PC's neighbour table knows none of them, so no card speaks against
// them): a camera plugged in after the flood is still reported once the
// made-up ones have disappeared, the cap is said once, and the watch fails
// for what it dropped.
TEST_F(WatchCli, ACameraPluggedInAfterAFloodBeyondTheCapIsReportedAndTheWatchFails)
{
    constexpr const char* kFlooder = "192.168.1.66";
    startCameras(Cameras({{123, kStaying}}));
    ASSERT_TRUE(AddCameraSegmentHost(kFlooder));
    StartWatch({"--format", "json", "--interval", "1", "--missed", "2"});
    const auto said = [&](const char* event, const char* mac) {
        return Read("events").find(std::string(R"("event":")") + event + R"(","mac":")" + mac + '"') !=
               std::string::npos;
    };
    ASSERT_TRUE(WaitUntil([&] { return said("appeared", kStaying); }, 20s)) << Read("err");
    // What the watch printed, counted, for a failure's message.
    const auto tally = [&] {
        const std::string events = Read("events");
        std::string text;
        for (const char* event : {"appeared", "disappeared", "returned"})
            text += std::string(event) + " " + std::to_string(Count(events, std::string(R"("event":")") + event)) + "; ";
        return text + events.substr(events.size() > 2000 ? events.size() - 2000 : 0) + "\n" + Read("err");
    };
    // In bursts of new made-up cameras until the watch says it is full: how
    // many reach it depends on how busy the machine is.
    const std::string full = "lynx-cli watch: 已跟踪 65536 台相机，达到监视上限";
    const auto saidFull = [&] { return Read("err").find(full) != std::string::npos; };
    // A made-up camera gone is still followed until the watch is full, so
    // the bursts add up; at 10,000 a second, few are lost on the way.
    constexpr long kBurst = 20000;
    for (long burst = 0; burst < 40 && !saidFull(); ++burst) {
        const ProcessResult flood =
            RunFlood(kFlooder, lynx::protocol::kReportPort, kBurst, "2",
                     {"--kind", "reports", "--as-named", "1", "--first", std::to_string(burst * kBurst)}, 60s);
        ASSERT_EQ(flood.exitCode, 0) << flood.err;
        WaitUntil(saidFull, 1s);
    }
    ASSERT_TRUE(saidFull()) << tally();

    CamsimProcess later;
    std::string error;
    ASSERT_TRUE(later.StartCameras(Cameras({{121, kLeaving}}), {}, &error)) << error;
    EXPECT_TRUE(WaitUntil([&] { return said("appeared", kLeaving); }, 120s)) << tally();
    const ProcessResult result = End(SIGTERM).first;
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_EQ(Count(result.err, full), 1u) << result.err;
    EXPECT_NE(result.err.find("超出前 65536 台之外的相机应答"), std::string::npos) << result.err;
}

} // namespace
