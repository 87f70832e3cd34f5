// The simulator as the tool meets it, on loopback: every camera at its own
// 127.0.0.x address, the ports picked free, datagrams through the transport.
#include "NetlabFixture.h"
#include "Simulator.h"

#include <gtest/gtest.h>
#include <json/reader.h>

#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

namespace {

using namespace camsim;
using namespace std::chrono_literals;
using lynx::test::WaitUntil;

struct Datagram {
    std::string from;
    PacketHeader header;
    std::string body;
};

std::mutex g_mutex;
std::vector<Datagram> g_got;

int Collect(uint32_t peer, uint32_t, PacketHeader header, uint32_t length, const char* body)
{
    std::lock_guard lock(g_mutex);
    g_got.push_back({FormatIpv4(peer), header, std::string(body, length)});
    return 0;
}

PacketHeader Request(uint16_t command, uint32_t tag = 0)
{
    PacketHeader h{};
    h.magic = TARN_MAGIC;
    h.category = TARN_CATEGORY;
    h.subCategory = TARN_SUBCATEGORY;
    h.command = command;
    h.bodyMarker = '#';
    h.flags = TARN_FLAGS;
    h.tag = tag;
    return h;
}

Json::Value Body(const std::string& text)
{
    Json::Value v;
    Json::Reader().parse(text, v);
    return v;
}

class SimulatorOnLoopback : public ::testing::Test {
protected:
    void SetUp() override
    {
        {
            std::lock_guard lock(g_mutex);
            g_got.clear();
        }
        ASSERT_EQ(tarn_StartUDPServer(&m_notifications, &Collect, 0, 0, 0), 1);
        ASSERT_EQ(tarn_StartUDPClient(&m_client, "127.0.0.1", 0, &Collect), 1);
    }

    void TearDown() override
    {
        if (m_sim)
            m_sim->Stop();
        tarn_ext_Close(m_client);
        tarn_ext_Close(m_notifications);
    }

    // options: what the test asks of the simulator beyond its free ports.
    void Start(std::vector<CameraConfig> cameras, SimOptions options = {})
    {
        options.reportPort = 0;
        options.updatePort = 0;
        options.probePort = 0;
        options.notifyPort = tarn_ext_LocalPort(m_notifications);
        m_sim = std::make_unique<Simulator>(options, std::move(cameras), m_log);
        std::string error;
        ASSERT_TRUE(m_sim->Start(&error)) << error;
    }

    void Send(uint16_t port, const PacketHeader& h, const std::string& body = "")
    {
        ASSERT_EQ(tarn_UdpSendTo(m_client, &h, 0, static_cast<int>(body.size()), body.empty() ? nullptr : body.data(),
                                 "127.0.0.1", port),
                  1);
    }

    std::vector<Datagram> Got(uint16_t command)
    {
        std::lock_guard lock(g_mutex);
        std::vector<Datagram> out;
        for (const Datagram& d : g_got)
            if (d.header.command == command)
                out.push_back(d);
        return out;
    }

    // Searches and waits for at least expected answers (at most timeout).
    std::vector<Datagram> SearchAndWait(size_t expected, std::chrono::milliseconds timeout = 5s)
    {
        {
            std::lock_guard lock(g_mutex);
            g_got.clear();
        }
        Send(m_sim->ReportPort(), Request(kCmdSearch));
        WaitUntil([&] { return Got(kCmdSearch).size() >= expected; }, timeout);
        return Got(kCmdSearch);
    }

    // A changeIp request's body for the camera with this MAC, gateway 127.0.0.1.
    static Json::Value ChangeIpBody(const std::string& mac, const std::string& ip, const std::string& mask)
    {
        Json::Value change(Json::objectValue);
        change["type"] = 64;
        change["mac"] = mac;
        change["deviceIp"] = ip;
        change["netMask"] = mask;
        change["gatewayIp"] = "127.0.0.1";
        return change;
    }

    static std::vector<CameraConfig> Cameras(int n)
    {
        CameraBehaviour b;
        // Long enough that a search sent right after an address change meets
        // the camera still restarting, even on a loaded machine.
        b.restartMs = 1500;
        b.installMs = 50;
        return GenerateCameras(n, "127.0.0.11", b);
    }

    // The simulator's lines that begin with what (after its time stamp).
    std::vector<std::string> LogLines(const std::string& what)
    {
        std::lock_guard lock(m_logMutex);
        std::vector<std::string> out;
        for (const std::string& line : m_logLines) {
            const size_t text = line.find(' ', line.find(' ') + 1) + 1;
            if (line.compare(text, what.size(), what) == 0)
                out.push_back(line.substr(text));
        }
        return out;
    }

    std::mutex m_logMutex;
    std::vector<std::string> m_logLines;
    // Kept for the checks, and shown as a plain log would be.
    Log m_log{false, [this](const std::string& line) {
                  std::fprintf(stderr, "%s\n", line.c_str());
                  std::lock_guard lock(m_logMutex);
                  m_logLines.push_back(line);
              }};
    uint16_t m_client = 0;
    uint16_t m_notifications = 0;
    std::unique_ptr<Simulator> m_sim;
};

TEST_F(SimulatorOnLoopback, EachCameraAnswersASearchFromItsOwnAddressWithItsReport)
{
    auto cameras = Cameras(3);
    Start(cameras);
    auto reports = SearchAndWait(3);
    ASSERT_EQ(reports.size(), 3u);
    for (const CameraConfig& c : cameras) {
        SCOPED_TRACE(c.ip);
        auto it = std::find_if(reports.begin(), reports.end(), [&](const Datagram& d) { return d.from == c.ip; });
        ASSERT_NE(it, reports.end());
        EXPECT_EQ(it->header.bodyMarker, '$');
        EXPECT_EQ(uint32_t(it->header.magic), uint32_t(TARN_MAGIC));
        Json::Value data = Body(it->body)["data"];
        EXPECT_EQ(data["deviceIp"].asString(), c.ip);
        EXPECT_EQ(data["netMask"].asString(), c.mask);
        EXPECT_EQ(data["gatewayIp"].asString(), c.gateway);
        EXPECT_EQ(data["deviceId"].asString(), c.deviceId);
        const Json::Value& info = data["machineInfo"];
        EXPECT_EQ(info["mac"].asString(), c.mac);
        EXPECT_EQ(info["name"].asString(), c.name);
        EXPECT_EQ(info["sn"].asInt64(), c.sn);
        EXPECT_EQ(info["type"].asInt64(), c.type);
        EXPECT_EQ(info["productDate"]["time"].asString(), c.productDate);
        EXPECT_EQ(info["softwareVersion"].asString(), c.softwareVersion);
        EXPECT_NE(it->body.find(c.name), std::string::npos) << "UTF-8 as is, not escaped";
    }
}

TEST_F(SimulatorOnLoopback, BehavioursShapeTheAnswers)
{
    auto cameras = Cameras(4);
    cameras[0].behaviour.answerTwice = true;
    cameras[1].behaviour.silent = true;
    // A generous delay: the check that this camera has not answered yet runs
    // as soon as the others have, a second before it may.
    cameras[2].behaviour.delayMs = 1000;
    cameras[3].behaviour.malformed = true;
    Start(cameras);

    const size_t immediate = 2 + Camera::MalformedBodies().size() + 1;
    auto early = SearchAndWait(immediate);
    auto count = [&](const std::vector<Datagram>& got, const std::string& ip) {
        return std::count_if(got.begin(), got.end(), [&](const Datagram& d) { return d.from == ip; });
    };
    EXPECT_EQ(count(early, cameras[0].ip), 2);
    EXPECT_EQ(count(early, cameras[1].ip), 0);
    EXPECT_EQ(count(early, cameras[2].ip), 0) << "answers only after its delay";
    EXPECT_GT(count(early, cameras[3].ip), 1);
    EXPECT_TRUE(WaitUntil([&] { return count(Got(kCmdSearch), cameras[2].ip) == 1; }, 5s));

    // The broken camera's last datagram is its good report.
    std::vector<Datagram> broken;
    for (const Datagram& d : Got(kCmdSearch))
        if (d.from == cameras[3].ip)
            broken.push_back(d);
    EXPECT_EQ(Body(broken.back().body)["data"]["deviceIp"].asString(), cameras[3].ip);
}

TEST_F(SimulatorOnLoopback, RequestsThatAreNotSearchesGetNoReport)
{
    Start(Cameras(2));
    PacketHeader answerLike = Request(kCmdSearch);
    answerLike.bodyMarker = '$';
    Send(m_sim->ReportPort(), answerLike);
    Send(m_sim->ReportPort(), Request(0x799));
    // A real search last: the simulator handles datagrams in order, so once
    // its two answers are in, any answer to the others would be too.
    Send(m_sim->ReportPort(), Request(kCmdSearch));
    ASSERT_TRUE(WaitUntil([&] { return Got(kCmdSearch).size() == 2; }, 5s));
    std::lock_guard lock(g_mutex);
    EXPECT_EQ(g_got.size(), 2u);
}

TEST_F(SimulatorOnLoopback, AddressChangeByMacRestartsTheCameraWithItsNewValues)
{
    auto cameras = Cameras(2);
    Start(cameras);
    Json::Value change = ChangeIpBody(cameras[1].mac, "127.0.0.50", "255.255.0.0");
    Send(m_sim->ReportPort(), Request(kCmdChangeIp), WriteJson(change));
    Json::Value unknown = change;
    unknown["mac"] = "AA:AA:AA:AA:AA:AA";
    unknown["deviceIp"] = "127.0.0.60";
    Send(m_sim->ReportPort(), Request(kCmdChangeIp), WriteJson(unknown));

    // The moved camera answers after the other within one search (cameras
    // answer in order), so a second search's answer is a barrier for it.
    auto during = SearchAndWait(1);
    Send(m_sim->ReportPort(), Request(kCmdSearch));
    ASSERT_TRUE(WaitUntil([&] { return Got(kCmdSearch).size() >= 2; }, 5s));
    during = Got(kCmdSearch);
    ASSERT_EQ(during.size(), 2u) << "the moved camera is restarting";
    EXPECT_EQ(during[0].from, cameras[0].ip);
    EXPECT_EQ(during[1].from, cameras[0].ip);

    std::vector<Datagram> after;
    EXPECT_TRUE(WaitUntil([&] { return (after = SearchAndWait(2, 300ms)).size() == 2; }, 10s, 0ms));
    ASSERT_EQ(after.size(), 2u);
    auto moved = std::find_if(after.begin(), after.end(), [](const Datagram& d) { return d.from == "127.0.0.50"; });
    ASSERT_NE(moved, after.end());
    Json::Value data = Body(moved->body)["data"];
    EXPECT_EQ(data["netMask"].asString(), "255.255.0.0");
    EXPECT_EQ(data["gatewayIp"].asString(), "127.0.0.1");
    EXPECT_EQ(data["machineInfo"]["mac"].asString(), cameras[1].mac);
    EXPECT_EQ(m_sim->Cameras()[1].ip, "127.0.0.50");
    EXPECT_EQ(m_sim->Cameras()[0].ip, cameras[0].ip);
}

TEST_F(SimulatorOnLoopback, UpgradeIsAcceptedDownloadedCheckedAndReported)
{
    lynx::test::TempDir dir;
    ASSERT_TRUE(lynx::test::MakeStoredZip(dir.File("fw.zip"), {{"image.bin", "firmware image"}}));
    lynx::test::FileHttpServer http;
    std::string error;
    ASSERT_TRUE(http.Start("127.0.0.1", &error)) << error;
    http.Serve("fw.zip", dir.File("fw.zip"));

    auto cameras = Cameras(2);
    cameras[0].behaviour.newVersion = "V3.0";
    cameras[1].behaviour.refuseUpgrade = true;
    Start(cameras);
    Json::Value request(Json::objectValue);
    request["deviceId"] = cameras[0].deviceId;
    request["filePath"] = http.Url("127.0.0.1", "fw.zip");
    Send(m_sim->UpdatePort(), Request(kCmdUpdate, 77), WriteJson(request));
    request["deviceId"] = cameras[1].deviceId;
    Send(m_sim->UpdatePort(), Request(kCmdUpdate, 78), WriteJson(request));

    ASSERT_TRUE(WaitUntil([&] { return Got(kCmdUpdateStatus).size() == 1; }, 5s));
    auto replies = Got(kCmdUpdate);
    ASSERT_EQ(replies.size(), 2u);
    for (const Datagram& r : replies) {
        EXPECT_EQ(r.header.bodyMarker, '$');
        if (r.header.tag == 77) {
            EXPECT_EQ(r.from, cameras[0].ip);
            EXPECT_EQ(uint32_t(r.header.result), kResultAccepted);
        } else {
            EXPECT_EQ(uint32_t(r.header.tag), 78u);
            EXPECT_NE(uint32_t(r.header.result), kResultAccepted);
        }
    }
    Datagram note = Got(kCmdUpdateStatus)[0];
    EXPECT_EQ(note.from, cameras[0].ip);
    EXPECT_EQ(Body(note.body)["deviceId"].asString(), cameras[0].deviceId);
    EXPECT_EQ(Body(note.body)["status"].asInt(), 0);
    EXPECT_EQ(http.RequestsServed(), 1);
    EXPECT_EQ(m_sim->Cameras()[0].softwareVersion, "V3.0");
    EXPECT_EQ(m_sim->Cameras()[1].softwareVersion, cameras[1].softwareVersion);
}

// A leave or return as the simulator logs it: "left MAC t=SECONDS ip=IP by=WHY".
struct PresenceLine {
    std::string what, mac, ip, by;
    double t = 0;
};

PresenceLine ParsePresence(const std::string& line)
{
    PresenceLine p;
    std::istringstream in(line);
    std::string t, ip, by;
    in >> p.what >> p.mac >> t >> ip >> by;
    EXPECT_EQ(t.rfind("t=", 0), 0u) << line;
    EXPECT_EQ(ip.rfind("ip=", 0), 0u) << line;
    EXPECT_EQ(by.rfind("by=", 0), 0u) << line;
    p.t = std::atof(t.c_str() + 2);
    p.ip = ip.substr(3);
    p.by = by.substr(3);
    return p;
}

// Every leave and return logged so far, in order.
std::vector<PresenceLine> Presence(const std::vector<std::string>& left, const std::vector<std::string>& returned)
{
    std::vector<PresenceLine> all;
    for (const auto* lines : {&left, &returned})
        for (const std::string& line : *lines)
            all.push_back(ParsePresence(line));
    std::stable_sort(all.begin(), all.end(), [](const PresenceLine& a, const PresenceLine& b) { return a.t < b.t; });
    return all;
}

double WallSeconds()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count() / 1e6;
}

class CamerasLeavingAndReturning : public SimulatorOnLoopback {
protected:
    std::vector<PresenceLine> Moves() { return Presence(LogLines("left "), LogLines("returned ")); }

    static size_t From(const std::vector<Datagram>& got, const std::string& ip)
    {
        return std::count_if(got.begin(), got.end(), [&](const Datagram& d) { return d.from == ip; });
    }
};

TEST_F(CamerasLeavingAndReturning, ACameraAwayAnswersNothingAndComesBackAsItWas)
{
    auto cameras = Cameras(3);
    Start(cameras);
    const size_t listening = m_sim->ProbeListenerCount();
    ASSERT_TRUE(m_sim->Leave(1, "test"));
    EXPECT_FALSE(m_sim->Leave(1, "test")) << "already away";
    EXPECT_FALSE(m_sim->Return(0, "test")) << "never left";
    EXPECT_FALSE(m_sim->Leave(3, "test")) << "no such camera";
    EXPECT_EQ(m_sim->AwayCount(), 1u);
    EXPECT_EQ(m_sim->ProbeListenerCount(), listening - 1) << "its TCP port is closed too";

    // An address change and an upgrade request for it, then the same for a
    // camera present: once that one has answered, the other would have.
    Send(m_sim->ReportPort(), Request(kCmdChangeIp), WriteJson(ChangeIpBody(cameras[1].mac, "127.0.0.70", "255.255.255.0")));
    Json::Value update(Json::objectValue);
    update["deviceId"] = cameras[1].deviceId;
    update["filePath"] = "http://127.0.0.1:1/fw.zip";
    Send(m_sim->UpdatePort(), Request(kCmdUpdate, 1), WriteJson(update));
    update["deviceId"] = cameras[2].deviceId;
    Send(m_sim->UpdatePort(), Request(kCmdUpdate, 2), WriteJson(update));
    ASSERT_TRUE(WaitUntil([&] { return !Got(kCmdUpdate).empty(); }, 5s));
    ASSERT_EQ(Got(kCmdUpdate).size(), 1u);
    EXPECT_EQ(uint32_t(Got(kCmdUpdate)[0].header.tag), 2u) << "only the camera present answers its request";

    auto during = SearchAndWait(2);
    Send(m_sim->ReportPort(), Request(kCmdSearch));
    ASSERT_TRUE(WaitUntil([&] { return Got(kCmdSearch).size() >= 4; }, 5s));
    during = Got(kCmdSearch);
    EXPECT_EQ(From(during, cameras[1].ip), 0u);
    EXPECT_EQ(From(during, cameras[0].ip), 2u);
    EXPECT_EQ(From(during, cameras[2].ip), 2u);
    EXPECT_EQ(m_sim->Cameras()[1].ip, cameras[1].ip) << "an address change it never heard";

    ASSERT_TRUE(m_sim->Return(1, "test"));
    EXPECT_EQ(m_sim->AwayCount(), 0u);
    EXPECT_EQ(m_sim->ProbeListenerCount(), listening);
    auto after = SearchAndWait(3);
    ASSERT_EQ(From(after, cameras[1].ip), 1u);
    auto back = std::find_if(after.begin(), after.end(), [&](const Datagram& d) { return d.from == cameras[1].ip; });
    EXPECT_EQ(Body(back->body)["data"]["machineInfo"]["mac"].asString(), cameras[1].mac);
    EXPECT_EQ(Body(back->body)["data"]["deviceIp"].asString(), cameras[1].ip);

    const auto moves = Moves();
    ASSERT_EQ(moves.size(), 2u);
    EXPECT_EQ(moves[0].what, "left");
    EXPECT_EQ(moves[1].what, "returned");
    for (const PresenceLine& m : moves) {
        EXPECT_EQ(m.mac, cameras[1].mac);
        EXPECT_EQ(m.ip, cameras[1].ip);
        EXPECT_EQ(m.by, "test");
    }
    EXPECT_LE(moves[0].t, moves[1].t);
}

TEST_F(CamerasLeavingAndReturning, ACameraThatLeavesBeforeItsDelayedAnswerSendsNone)
{
    auto cameras = Cameras(2);
    // Long enough that it leaves well before its answer is due, even on a
    // loaded machine.
    cameras[1].behaviour.delayMs = 1000;
    Start(cameras);
    SearchAndWait(1);
    ASSERT_TRUE(m_sim->Leave(1, "test"));
    // Proves an answer does NOT come: twice the delay.
    std::this_thread::sleep_for(2000ms);
    EXPECT_EQ(From(Got(kCmdSearch), cameras[1].ip), 0u);
    EXPECT_EQ(From(Got(kCmdSearch), cameras[0].ip), 1u);
}

TEST_F(CamerasLeavingAndReturning, PlannedAbsencesKeepTheirTimesFromTheStart)
{
    auto cameras = Cameras(4);
    SimOptions options;
    options.leaves = {{"2", 0, 1500}, {cameras[2].mac, 200, std::nullopt}};
    const double started = WallSeconds();
    Start(cameras, options);

    ASSERT_TRUE(WaitUntil([&] { return LogLines("returned ").size() == 1; }, 10s));
    ASSERT_TRUE(WaitUntil([&] { return LogLines("left ").size() == 2; }, 10s));
    const auto moves = Moves();
    ASSERT_EQ(moves.size(), 3u);
    const auto of = [&](const std::string& mac, const std::string& what) {
        return std::find_if(moves.begin(), moves.end(),
                            [&](const PresenceLine& m) { return m.mac == mac && m.what == what; });
    };
    auto left = of(cameras[1].mac, "left"), returned = of(cameras[1].mac, "returned");
    ASSERT_NE(left, moves.end());
    ASSERT_NE(returned, moves.end());
    EXPECT_GE(returned->t - started, 1.5);
    EXPECT_GE(returned->t - left->t, 0.0);
    EXPECT_EQ(returned->by, "plan");
    auto gone = of(cameras[2].mac, "left");
    ASSERT_NE(gone, moves.end());
    EXPECT_GE(gone->t - started, 0.2);
    EXPECT_EQ(of(cameras[2].mac, "returned"), moves.end()) << "no time to return was given";

    // The camera back answers; the one gone for good does not.
    auto after = SearchAndWait(3);
    EXPECT_EQ(From(after, cameras[1].ip), 1u);
    EXPECT_EQ(From(after, cameras[2].ip), 0u);
    EXPECT_EQ(m_sim->AwayCount(), 1u);
}

TEST_F(CamerasLeavingAndReturning, SignalsTakeTheFirstPresentAwayAndBringTheLongestAwayBack)
{
    auto cameras = Cameras(3);
    Start(cameras);
    EXPECT_EQ(m_sim->ReturnLongestAway("signal"), std::nullopt) << "none is away";
    EXPECT_EQ(m_sim->LeaveNext("signal"), 0u);
    EXPECT_EQ(m_sim->LeaveNext("signal"), 1u);
    EXPECT_EQ(m_sim->ReturnLongestAway("signal"), 0u);
    EXPECT_EQ(m_sim->LeaveNext("signal"), 0u);
    EXPECT_EQ(m_sim->LeaveNext("signal"), 2u);
    EXPECT_EQ(m_sim->LeaveNext("signal"), std::nullopt) << "all are away";
    EXPECT_EQ(m_sim->ReturnLongestAway("signal"), 1u);
    EXPECT_EQ(m_sim->AwayCount(), 2u);
    const auto moves = Moves();
    ASSERT_EQ(moves.size(), 6u);
    for (const PresenceLine& m : moves)
        EXPECT_EQ(m.by, "signal");
}

TEST_F(CamerasLeavingAndReturning, ChurnMovesItsShareBackAndForthAndItsSeedRepeatsTheChoice)
{
    auto cameras = Cameras(10);
    SimOptions options;
    options.churn = ChurnSpec{30, 20, 80, 42};
    // The cameras that came and went, once each has left and returned twice.
    const auto churned = [&] {
        std::set<std::string> macs;
        std::map<std::string, int> returns;
        EXPECT_TRUE(WaitUntil(
            [&] {
                returns.clear();
                for (const std::string& line : LogLines("returned "))
                    ++returns[ParsePresence(line).mac];
                return returns.size() >= 3 && std::all_of(returns.begin(), returns.end(),
                                                          [](const auto& r) { return r.second >= 2; });
            },
            20s));
        m_sim->Stop();
        std::map<std::string, std::string> last;
        for (const PresenceLine& m : Moves()) {
            EXPECT_EQ(m.by, "churn");
            // Each camera alternates: it leaves first, and only what left returns.
            EXPECT_NE(last[m.mac], m.what) << m.mac;
            if (last[m.mac].empty()) {
                EXPECT_EQ(m.what, "left") << m.mac;
            }
            last[m.mac] = m.what;
            macs.insert(m.mac);
        }
        EXPECT_EQ(LogLines("churn: 3 of 10 cameras").size(), 1u);
        EXPECT_EQ(LogLines("churn: ")[0].find("seed 42") != std::string::npos, true);
        return macs;
    };
    Start(cameras, options);
    const std::set<std::string> first = churned();
    EXPECT_EQ(first.size(), 3u);

    {
        std::lock_guard lock(m_logMutex);
        m_logLines.clear();
    }
    m_sim.reset();
    Start(cameras, options);
    EXPECT_EQ(churned(), first);
}

TEST_F(CamerasLeavingAndReturning, ChurnWithoutASeedSaysWhichItTook)
{
    SimOptions options;
    options.churn = ChurnSpec{50, 1000, 2000, std::nullopt};
    Start(Cameras(4), options);
    const auto lines = LogLines("churn: 2 of 4 cameras");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(", seed "), std::string::npos) << lines[0];
}

} // namespace
