// The watch of the site engine over a session in a virtual LAN: the table it
// keeps between searches (one row per camera, a readdressed camera's row at
// its new address), reports that speak for a camera from another address,
// and the stop descriptor that ends it between two searches.
#include "SessionInLan.h"
#include "Reports.h"
#include "site/WatchFlow.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <mutex>
#include <thread>

namespace {

using namespace lynx;
using namespace lynx::test;

constexpr const char* kMoved = "02:00:5E:30:00:31";
constexpr const char* kUnplugged = "02:00:5E:30:00:32";

// The events as they come, from the watch's thread.
class Events : public site::WatchSink {
public:
    void Event(const site::WatchEvent& event) override
    {
        std::lock_guard lock(m_mutex);
        m_events.push_back(event);
    }
    int Count(site::WatchEventKind kind, const std::string& mac) const
    {
        std::lock_guard lock(m_mutex);
        int n = 0;
        for (const site::WatchEvent& e : m_events)
            n += e.kind == kind && e.mac == mac ? 1 : 0;
        return n;
    }
    size_t Size() const
    {
        std::lock_guard lock(m_mutex);
        return m_events.size();
    }

private:
    mutable std::mutex m_mutex;
    std::vector<site::WatchEvent> m_events;
};

class SiteWatch : public SessionInLan {
protected:
    void SetUpInLan() override
    {
        SessionInLan::SetUpInLan();
        ASSERT_EQ(::pipe2(m_stop, O_CLOEXEC), 0);
    }
    ~SiteWatch() override
    {
        Stop();
        for (int fd : m_stop)
            if (fd >= 0)
                ::close(fd);
    }

    // The watch on a thread of its own, a search a second.
    void Start(int missed)
    {
        m_watch = std::make_unique<site::Watch>(missed);
        m_thread = std::thread([this] {
            site::WatchRequest request;
            request.interval = std::chrono::seconds(1);
            request.stopFd = m_stop[0];
            m_run = site::RunWatch(session, *m_watch, events, request);
        });
    }
    // Ends it as a signal would; true when it ended within a second.
    bool Stop()
    {
        if (!m_thread.joinable())
            return true;
        const auto asked = std::chrono::steady_clock::now();
        [[maybe_unused]] ssize_t written = ::write(m_stop[1], "x", 1);
        m_thread.join();
        return std::chrono::steady_clock::now() - asked < 1s;
    }

    Events events;
    site::WatchRun m_run;
    std::unique_ptr<site::Watch> m_watch;

private:
    int m_stop[2] = {-1, -1};
    std::thread m_thread;
};

TEST_F(SiteWatch, KeepsOneRowPerCameraWithAReaddressedCameraAtItsNewAddress)
{
    Json::Value list(Json::arrayValue);
    list.append(SimCamera(131, "FLOW", {{"mac", kMoved}}));
    startCameras(list, {"--restart-ms", "100"});
    Start(3);
    const size_t lan = NetlabCameras().size();
    ASSERT_TRUE(WaitUntil([&] { return events.Size() == lan + 1; }, 20s)) << events.Size();

    ASSERT_TRUE(BroadcastAddressChange(kMoved, "192.168.1.140"));
    ASSERT_TRUE(WaitUntil([&] { return events.Count(site::WatchEventKind::Address, kMoved) == 1; }, 20s));
    ASSERT_TRUE(Stop());
    ASSERT_TRUE(m_run.ok()) << site::FailureText(m_run.failure);
    EXPECT_TRUE(m_run.stopped);

    EXPECT_EQ(session.Table().Size(), lan + 1) << "one row per camera, the readdressed one too";
    const DeviceRecord* moved = session.Table().ByIp("192.168.1.140");
    ASSERT_NE(moved, nullptr);
    EXPECT_EQ(protocol::FieldText(moved->mac), kMoved);
    EXPECT_EQ(session.Table().ByIp("192.168.1.131"), nullptr) << "its old address is no one's";
    for (const protocol::DeviceRow& row : session.Table().Rows())
        EXPECT_TRUE(session.Table().IpConflictsOf(row.number).empty()) << row.number;
    EXPECT_EQ(events.Count(site::WatchEventKind::Appeared, kMoved), 1);
    EXPECT_EQ(events.Count(site::WatchEventKind::Disappeared, kMoved), 0);
}

TEST_F(SiteWatch, ReportsFromAnotherAddressDoNotKeepAnUnpluggedCameraOnTheSite)
{
    CamsimProcess unplugged;
    Json::Value list(Json::arrayValue);
    list.append(SimCamera(132, "FLOW", {{"mac", kUnplugged}}));
    std::string error;
    ASSERT_TRUE(unplugged.StartCameras(list, {}, &error)) << error;
    Start(2);
    ASSERT_TRUE(WaitUntil([&] { return events.Count(site::WatchEventKind::Appeared, kUnplugged) == 1; }, 20s));
    unplugged.Stop();

    // Someone on the LAN keeps answering in its name, from the PC's own address.
    const std::string forged =
        ProtocolDatagram(protocol::kCmdSearch, '$', ReportJson("192.168.1.132", kUnplugged, "forged"));
    const bool gone = WaitUntil(
        [&] {
            SendUdp(PcAddress(), protocol::kReportPort, forged);
            return events.Count(site::WatchEventKind::Disappeared, kUnplugged) == 1;
        },
        20s, 100ms);
    ASSERT_TRUE(Stop());
    EXPECT_TRUE(gone);
    EXPECT_GT(m_run.hearsay, 0u);
    EXPECT_EQ(events.Count(site::WatchEventKind::Returned, kUnplugged), 0);
}

} // namespace
