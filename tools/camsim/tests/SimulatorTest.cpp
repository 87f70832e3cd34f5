// The simulator as the tool meets it, on loopback: every camera at its own
// 127.0.0.x address, the ports picked free, datagrams through the transport.
#include "NetlabFixture.h"
#include "Simulator.h"

#include <gtest/gtest.h>
#include <json/reader.h>

#include <mutex>

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

    void Start(std::vector<CameraConfig> cameras)
    {
        SimOptions options;
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

    static std::vector<CameraConfig> Cameras(int n)
    {
        CameraBehaviour b;
        // Long enough that a search sent right after an address change meets
        // the camera still restarting, even on a loaded machine.
        b.restartMs = 1500;
        b.installMs = 50;
        return GenerateCameras(n, "127.0.0.11", b);
    }

    Log m_log{false};
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
    Json::Value change(Json::objectValue);
    change["type"] = 64;
    change["mac"] = cameras[1].mac;
    change["deviceIp"] = "127.0.0.50";
    change["netMask"] = "255.255.0.0";
    change["gatewayIp"] = "127.0.0.1";
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

} // namespace
