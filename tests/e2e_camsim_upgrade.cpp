// The simulator's side of a firmware upgrade in a virtual LAN: update requests
// sent through the tool's protocol code, replies echoing the tag from the
// camera's port 8025, a real HTTP download checked as a zip archive, and the
// status notification each configured camera sends.
#include "NetlabFixture.h"

#include "protocol/DiscoverySession.h"
#include "protocol/JsonMessages.h"
#include "protocol/Transport.h"
#include "tarn.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

namespace {

using namespace lynx::test;
namespace proto = lynx::protocol;

struct Received {
    std::string from;
    uint16_t fromPort;
    PacketHeader header;
    Json::Value body;
};

std::mutex g_mutex;
std::condition_variable g_arrived;
std::vector<Received> g_received;

int Collect(uint32_t peer, uint32_t peerPort, PacketHeader header, uint32_t, const char* body)
{
    char ip[32];
    std::snprintf(ip, sizeof ip, "%u.%u.%u.%u", peer >> 24, (peer >> 16) & 255, (peer >> 8) & 255, peer & 255);
    {
        std::lock_guard lock(g_mutex);
        g_received.push_back({ip, static_cast<uint16_t>(peerPort), header, ParseJson(body)});
    }
    g_arrived.notify_all();
    return 0;
}

// Everything received so far from ip with the given command.
std::vector<Received> From(const std::string& ip, uint16_t command)
{
    std::lock_guard lock(g_mutex);
    std::vector<Received> out;
    for (const Received& r : g_received)
        if (r.from == ip && r.header.command == command)
            out.push_back(r);
    return out;
}

bool WaitFor(const std::string& ip, uint16_t command, size_t count, std::chrono::milliseconds timeout)
{
    return WaitUntil([&] { return From(ip, command).size() >= count; }, timeout);
}

Json::Value Camera(int last, const char* option = nullptr, Json::Value value = true)
{
    return SimCamera(last, "UP", {}, option, value);
}

class UpgradeEndToEnd : public NetlabTest {
protected:
    static void SetUpTestSuite()
    {
        if (!InNetlab())
            return;
        s_dir = std::make_unique<TempDir>();
        ASSERT_TRUE(MakeFirmwareZip(s_dir->File("good.zip"), 200000));
        ASSERT_TRUE(WriteCorruptCopy(s_dir->File("good.zip"), s_dir->File("corrupt.zip")));

        s_http = std::make_unique<FileHttpServer>();
        std::string error;
        ASSERT_TRUE(s_http->Start(PcAddress(), &error)) << error;
        s_http->Serve("good.zip", s_dir->File("good.zip"));
        s_http->Serve("corrupt.zip", s_dir->File("corrupt.zip"));

        Json::Value cameras(Json::arrayValue);
        cameras.append(Camera(101, "newVersion", "V2.0.0"));
        cameras.append(Camera(102));
        cameras.append(Camera(103, "refuseUpgrade"));
        cameras.append(Camera(104, "failInstall"));
        cameras.append(Camera(105, "reportStatus", 7));
        cameras.append(Camera(106, "silentUpgrade"));
        cameras.append(Camera(107, "reportTwice"));
        s_sim = std::make_unique<CamsimProcess>();
        ASSERT_TRUE(s_sim->StartCameras(cameras, {}, &error)) << error;

        uint16_t server = 0;
        ASSERT_EQ(tarn_StartUDPServer(&server, &Collect, 0, 0, proto::kUpdatePort), 1);
    }

    static void TearDownTestSuite()
    {
        tarn_ext_Shutdown();
        s_sim.reset();
        s_http.reset();
        s_dir.reset();
    }

    // One update request, as the batch upgrade sends it: through a client
    // towards the camera's port 8025, with the tag of its row.
    static void RequestUpgrade(int last, const std::string& file, uint32_t tag, const std::string& deviceId = "")
    {
        std::string ip = "192.168.1." + std::to_string(last);
        uint16_t client = 0;
        ASSERT_EQ(tarn_StartUDPClient(&client, ip.c_str(), proto::kUpdatePort, &Collect), 1);
        std::string id = deviceId.empty() ? "UP" + std::to_string(last) : deviceId;
        std::string url = s_http->Url(PcAddress(), file);
        ASSERT_TRUE(proto::SendToDevice(BuildJsonRequest("update", url.c_str(), id.c_str()), client, ip.c_str(), tag));
    }

    static std::string Log() { return s_sim ? s_sim->Log() : ""; }

    static std::unique_ptr<TempDir> s_dir;
    static std::unique_ptr<FileHttpServer> s_http;
    static std::unique_ptr<CamsimProcess> s_sim;
};

std::unique_ptr<TempDir> UpgradeEndToEnd::s_dir;
std::unique_ptr<FileHttpServer> UpgradeEndToEnd::s_http;
std::unique_ptr<CamsimProcess> UpgradeEndToEnd::s_sim;

TEST_F(UpgradeEndToEnd, AcceptedUpgradeDownloadsChecksAndReportsSuccessWithTheNewVersion)
{
    int servedBefore = s_http->RequestsServed();
    RequestUpgrade(101, "good.zip", 41);
    ASSERT_TRUE(WaitFor("192.168.1.101", proto::kCmdUpdate, 1, 5s)) << Log();
    Received reply = From("192.168.1.101", proto::kCmdUpdate)[0];
    EXPECT_EQ(reply.fromPort, proto::kUpdatePort);
    EXPECT_EQ(uint32_t(reply.header.tag), 41u);
    EXPECT_EQ(uint32_t(reply.header.result), proto::kResultAccepted);
    EXPECT_EQ(reply.header.bodyMarker, proto::kMarkerBody);

    ASSERT_TRUE(WaitFor("192.168.1.101", proto::kCmdUpdateStatus, 1, 10s)) << Log();
    Received note = From("192.168.1.101", proto::kCmdUpdateStatus)[0];
    EXPECT_EQ(note.body["deviceId"].asString(), "UP101");
    EXPECT_EQ(note.body["status"].asInt(), 0);
    EXPECT_EQ(note.header.bodyMarker, proto::kMarkerBody);
    EXPECT_EQ(s_http->RequestsServed(), servedBefore + 1);

    lynx::protocol::DiscoverySession session;
    ASSERT_TRUE(session.StartServers(false));
    ASSERT_TRUE(session.Search());
    session.CollectFor(1500ms, {});
    bool found = false;
    for (const auto& row : session.Table().Rows())
        if (std::string(row.record.deviceIp) == "192.168.1.101") {
            found = true;
            EXPECT_STREQ(row.record.softwareVersion, "V2.0.0");
        }
    EXPECT_TRUE(found);
}

TEST_F(UpgradeEndToEnd, CorruptOrMissingArchiveReportsDownloadOrCheckFailure)
{
    RequestUpgrade(102, "corrupt.zip", 1);
    ASSERT_TRUE(WaitFor("192.168.1.102", proto::kCmdUpdateStatus, 1, 10s)) << Log();
    EXPECT_EQ(From("192.168.1.102", proto::kCmdUpdateStatus)[0].body["status"].asInt(), 2);

    RequestUpgrade(102, "missing.zip", 2);
    ASSERT_TRUE(WaitFor("192.168.1.102", proto::kCmdUpdateStatus, 2, 10s)) << Log();
    EXPECT_EQ(From("192.168.1.102", proto::kCmdUpdateStatus)[1].body["status"].asInt(), 2);
    // Both requests were accepted before the download went wrong.
    for (const Received& r : From("192.168.1.102", proto::kCmdUpdate))
        EXPECT_EQ(uint32_t(r.header.result), proto::kResultAccepted);
}

TEST_F(UpgradeEndToEnd, EachConfiguredCameraBehavesAsTold)
{
    int servedBefore = s_http->RequestsServed();
    RequestUpgrade(103, "good.zip", 3);
    RequestUpgrade(104, "good.zip", 4);
    RequestUpgrade(105, "good.zip", 5);
    RequestUpgrade(106, "good.zip", 6);
    RequestUpgrade(107, "good.zip", 7);

    ASSERT_TRUE(WaitFor("192.168.1.104", proto::kCmdUpdateStatus, 1, 10s)) << Log();
    ASSERT_TRUE(WaitFor("192.168.1.105", proto::kCmdUpdateStatus, 1, 10s)) << Log();
    ASSERT_TRUE(WaitFor("192.168.1.107", proto::kCmdUpdateStatus, 2, 10s)) << Log();
    // A fixed wait: time enough for the silent and the refusing camera to
    // have sent a status, which they must not.
    std::this_thread::sleep_for(1s);

    auto refused = From("192.168.1.103", proto::kCmdUpdate);
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_NE(uint32_t(refused[0].header.result), proto::kResultAccepted);
    EXPECT_EQ(uint32_t(refused[0].header.tag), 3u);
    EXPECT_TRUE(From("192.168.1.103", proto::kCmdUpdateStatus).empty());

    EXPECT_EQ(From("192.168.1.104", proto::kCmdUpdateStatus)[0].body["status"].asInt(), 1);
    EXPECT_EQ(From("192.168.1.105", proto::kCmdUpdateStatus)[0].body["status"].asInt(), 7);
    EXPECT_EQ(From("192.168.1.106", proto::kCmdUpdate).size(), 1u);
    EXPECT_TRUE(From("192.168.1.106", proto::kCmdUpdateStatus).empty());
    auto twice = From("192.168.1.107", proto::kCmdUpdateStatus);
    ASSERT_EQ(twice.size(), 2u);
    EXPECT_EQ(twice[0].body, twice[1].body);
    // Every camera but the refusing one fetched the file.
    EXPECT_EQ(s_http->RequestsServed(), servedBefore + 4);
}

TEST_F(UpgradeEndToEnd, RequestNamingNoCameraIsIgnored)
{
    RequestUpgrade(102, "good.zip", 9, "NOBODY");
    std::this_thread::sleep_for(1500ms);  // a fixed wait for a reply that must not come
    for (const Received& r : From("192.168.1.102", proto::kCmdUpdate))
        EXPECT_NE(uint32_t(r.header.tag), 9u);
}

} // namespace
