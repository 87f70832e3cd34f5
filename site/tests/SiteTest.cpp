// The site engine's devices below any front end: what an observer is told as
// devices come and go, ticks, statuses, readdressing and a batch's devices.
#include "site/Site.h"
#include "site/Watch.h"

#include "PcCards.h"
#include "Reports.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using lynx::site::DeviceStatus;
using lynx::site::Site;
using lynx::test::ReportJson;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// A status as its cell shows it: the text, over a bar of percent, red when failed.
struct Shown {
    std::string text;
    int percent = 0;
    bool failed = false;
    bool operator==(const Shown&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const Shown& shown)
    {
        return out << '"' << shown.text << "\" " << shown.percent << (shown.failed ? " failed" : "");
    }
};

Shown ShownOf(const DeviceStatus& status)
{
    return {lynx::site::StatusText(status), status.percent, status.failed()};
}

} // namespace

namespace {

// What the observer heard, in order.
class Heard : public lynx::site::SiteObserver {
public:
    std::vector<std::string> events;
    void DevicesAdded(int first, int count) override
    {
        events.push_back("added " + std::to_string(first) + "+" + std::to_string(count));
    }
    void DevicesCleared() override { events.push_back("cleared"); }
    void DeviceChanged(int number) override { events.push_back("changed " + std::to_string(number)); }
    void ReaddressEnded() override { events.push_back("readdress ended"); }
    void UpgradeSummary(const std::string&) override {}
    void UpgradingChanged(bool) override {}
    void UpgradeComplete() override {}
    std::string SummaryFormat() const override { return lynx::upgrade::msg::kSummaryFormat; }
};

class SiteDevices : public ::testing::Test {
protected:
    SiteDevices() : site(lynx::protocol::DatagramInbox::Wake::Condition, {}) { site.AddObserver(&heard); }
    ~SiteDevices() override { site.RemoveObserver(&heard); }

    // A report as the receive path hands it over, from the camera itself.
    void Report(const std::string& ip, const std::string& mac)
    {
        lynx::protocol::Datagram datagram;
        datagram.body = ReportJson(ip, mac);
        site.AddReport(datagram, {});
    }

    // A report waiting in the inbox, as the receive thread leaves it.
    void Arrives(const std::string& ip, const std::string& mac)
    {
        lynx::protocol::Datagram datagram;
        datagram.port = lynx::protocol::kReportPort;
        datagram.body = ReportJson(ip, mac);
        site.Discovery().Inbox().Post(std::move(datagram));
    }
    std::string IpOf(int number) const { return lynx::protocol::FieldText(site.Device(number)->deviceIp); }

    Heard heard;
    Site site;
};

} // namespace

TEST_F(SiteDevices, NewDevicesAreAnnouncedTogetherAndAClearStartsTheNumbersAgain)
{
    Report("10.0.0.1", "02:00:00:00:00:01");
    Report("10.0.0.2", "02:00:00:00:00:02");
    EXPECT_THAT(heard.events, IsEmpty());  // nothing until the slice ends
    site.AnnounceAdded();
    Report("10.0.0.3", "02:00:00:00:00:03");
    site.AnnounceAdded();
    site.AnnounceAdded();  // nothing new: nothing said
    EXPECT_THAT(heard.events, ElementsAre("added 1+2", "added 3+1"));
    site.SetTicked(2, true);
    site.Clear();
    EXPECT_EQ(site.Count(), 0);
    EXPECT_FALSE(site.AnyTicked());
    Report("10.0.0.9", "02:00:00:00:00:09");
    site.AnnounceAdded();
    EXPECT_THAT(heard.events, ElementsAre("added 1+2", "added 3+1", "changed 2", "cleared", "added 1+1"));
    EXPECT_FALSE(site.Ticked(1));
}

TEST_F(SiteDevices, NoTickedDeviceIsSeenUntilOneIsTicked)
{
    Report("10.0.0.1", "02:00:00:00:00:01");
    Report("10.0.0.2", "02:00:00:00:00:02");
    site.AnnounceAdded();
    EXPECT_FALSE(site.AnyTicked());
    site.SetTicked(2, true);
    site.SetTicked(7, true);  // no such device
    EXPECT_TRUE(site.AnyTicked());
    EXPECT_THAT(site.TickedDevices(), ElementsAre(2));
    site.TickAll(true);
    EXPECT_THAT(site.TickedDevices(), ElementsAre(1, 2));
}

TEST_F(SiteDevices, ABatchTakesOnlyNumbersThatNameADeviceAndNothingIsShownForTheOthers)
{
    Report("10.0.0.1", "02:00:00:00:00:01");
    site.AnnounceAdded();
    EXPECT_THAT(site.BatchOf({0, 17}), IsEmpty());
    EXPECT_EQ(site.Upgrade().Batch().Prepare(site.BatchOf({0, 17})), 0);
    EXPECT_TRUE(site.Upgrade().Batch().queue().empty());
    EXPECT_THAT(heard.events, ElementsAre("added 1+1"));

    // A batch's job states become its devices' statuses (the device on a
    // card's subnet: one outside them all is refused at once).
    const lynx::test::PcCards pc{{"eth0", "10.0.0.100", 24}};
    ASSERT_EQ(site.Upgrade().Batch().Prepare(site.BatchOf({1})), 1);
    EXPECT_EQ(ShownOf(site.Status(1)).text, "等待中");
    EXPECT_EQ(site.Upgrade().Batch().jobs().front()->ip, "10.0.0.1");
    EXPECT_STREQ(site.Upgrade().Batch().jobs().front()->deviceId, "ID-10.0.0.1");
}

TEST_F(SiteDevices, ADeviceOnASubnetOfNoCardIsRefusedAtOnceBeforeAnythingIsSentAndTheOthersQueue)
{
    const lynx::test::PcCards pc{{"eth0", "10.0.0.100", 24}, {"eth1", "172.16.0.5", 16}};
    Report("10.0.0.1", "02:00:00:00:00:01");
    Report("192.168.0.64", "02:00:00:00:00:64");
    Report("172.16.9.9", "02:00:00:00:00:99");
    site.AnnounceAdded();
    EXPECT_EQ(site.UnreachableReason(1), "");
    EXPECT_EQ(site.UnreachableReason(2), "不在本机网段：网卡 eth0 为 10.0.0.100/24；网卡 eth1 为 172.16.0.5/16");
    EXPECT_EQ(site.UnreachableReason(3), "");

    lynx::upgrade::UpgradeBatch& batch = site.Upgrade().Batch();
    ASSERT_EQ(batch.Prepare(site.BatchOf({1, 2, 3})), 3);
    EXPECT_EQ(ShownOf(site.Status(2)).text, "请先修改IP");
    EXPECT_EQ(ShownOf(site.Status(1)).text, "等待中");
    EXPECT_EQ(ShownOf(site.Status(3)).text, "等待中");
    std::vector<std::string> queued;
    for (const UgInfo* job : batch.queue())
        queued.push_back(job->ip);
    EXPECT_THAT(queued, ElementsAre("10.0.0.1", "172.16.9.9"));
    EXPECT_EQ(batch.done(), 1);
    EXPECT_EQ(batch.failed(), 1);
    EXPECT_EQ(batch.jobs()[1]->unreachable, site.UnreachableReason(2));
}

TEST_F(SiteDevices, AStatusIsToldOnlyWhenItChanges)
{
    Report("10.0.0.1", "02:00:00:00:00:01");
    site.AnnounceAdded();
    site.SetStatus(1, DeviceStatus{lynx::site::DeviceState::Upgrading});
    site.SetStatus(1, DeviceStatus{lynx::site::DeviceState::Upgrading});
    site.SetStatus(2, DeviceStatus{lynx::site::DeviceState::Upgrading});  // no such device
    site.SetStatus(1, DeviceStatus{});
    EXPECT_THAT(heard.events, ElementsAre("added 1+1", "changed 1", "changed 1"));
    EXPECT_EQ(site.Status(1), DeviceStatus{});
}

TEST_F(SiteDevices, AReaddressedDeviceShowsItsNewAddressAndConflictsFollowIt)
{
    Report("10.0.0.1", "02:00:00:00:00:01");
    Report("10.0.0.2", "02:00:00:00:00:02");
    site.AnnounceAdded();
    heard.events.clear();
    site.Readdress(2, "10.0.0.1", "10.0.0.254", "255.255.0.0");
    EXPECT_EQ(lynx::site::ColumnText(*site.Device(2), 2, lynx::site::Column::Ip), "10.0.0.1");
    EXPECT_EQ(lynx::site::ColumnText(*site.Device(2), 2, lynx::site::Column::Gateway), "10.0.0.254");
    EXPECT_EQ(lynx::site::ColumnText(*site.Device(2), 2, lynx::site::Column::Mask), "255.255.0.0");
    // Both cameras now hold one address, and both are told so.
    EXPECT_THAT(site.Table().IpConflictsOf(1).first, ElementsAre(2));
    EXPECT_THAT(site.Table().IpConflictsOf(2).first, ElementsAre(1));
    EXPECT_THAT(heard.events, ElementsAre("changed 2", "changed 1"));
    EXPECT_EQ(site.Table().ByIp("10.0.0.2"), nullptr);

    // Moved away again: the conflict is gone from both.
    heard.events.clear();
    site.Readdress(2, "10.0.0.3", "10.0.0.254", "255.255.0.0");
    EXPECT_THAT(site.Table().IpConflictsOf(1).first, IsEmpty());
    EXPECT_THAT(heard.events, ElementsAre("changed 2", "changed 1"));
    EXPECT_EQ(site.Table().ByIp("10.0.0.3"), site.Device(2));
}

TEST_F(SiteDevices, ASearchForgetsTheReportsParsedButNotAppliedAndListsOnlyWhatCameAfter)
{
    Report("10.0.0.1", "02:00:00:00:00:01");
    site.AnnounceAdded();
    // Received and parsed by the inbox's own thread, not applied yet.
    const auto deliver = [this](const std::string& ip, const std::string& mac) {
        PacketHeader header{};
        header.bodyMarker = lynx::protocol::kMarkerBody;
        const std::string body = ReportJson(ip, mac);
        site.Discovery().Deliver(lynx::protocol::kReportPort, header, body.c_str(),
                                 static_cast<uint32_t>(body.size()));
    };
    deliver("10.0.0.2", "02:00:00:00:00:02");
    auto& inbox = site.Discovery().Inbox();
    ASSERT_TRUE(inbox.WaitUntil(lynx::protocol::DatagramInbox::Clock::now() + std::chrono::seconds(10)));
    site.Search();  // no server: nothing is sent
    deliver("10.0.0.3", "02:00:00:00:00:03");
    // Applied as a front end applies them, slice by slice.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (site.Count() < 1 && inbox.WaitUntil(deadline)) {
        inbox.Apply([this](lynx::protocol::Datagram& d) { site.AddReport(d, {}); });
        site.AnnounceAdded();
    }
    EXPECT_FALSE(inbox.WaitUntil(lynx::protocol::DatagramInbox::Clock::now() + std::chrono::milliseconds(50)))
        << "nothing else waits (50 ms)";
    EXPECT_THAT(heard.events, ElementsAre("added 1+1", "cleared", "added 1+1"));
    ASSERT_EQ(site.Count(), 1);
    EXPECT_STREQ(site.Device(1)->deviceIp, "10.0.0.3");
}

TEST_F(SiteDevices, AJobShowsItsDownloadsBarWhileItsCameraDownloadsAndAFailureAFullRedBar)
{
    const lynx::test::PcCards pc{{"eth0", "10.0.0.100", 24}};
    Report("10.0.0.1", "02:00:00:00:00:01");
    Report("10.0.0.2", "02:00:00:00:00:02");
    site.AnnounceAdded();
    lynx::upgrade::UpgradeBatch& batch = site.Upgrade().Batch();
    std::map<std::string, lynx::upgrade::DownloadProgress> accounts;
    batch.SetDownloadAccount([&](const std::string& ip) { return accounts[ip]; });
    batch.SetDownloadWitness([&](const std::string& ip) { return accounts[ip].complete; });
    ASSERT_EQ(batch.Prepare(site.BatchOf({1, 2})), 2);
    lynx::upgrade::UpgradeSendHooks hooks;
    hooks.publishFile = [](const std::string&, const std::string&) {};
    hooks.httpPort = [] { return 9000; };
    hooks.startClient = [](const std::string&, uint16_t& handle) { return handle = 1, true; };
    hooks.clientFailed = [] {};
    hooks.localAddress = [](const std::string&) { return std::string("10.0.0.100"); };
    hooks.sendUpdate = [](const std::string&, const std::string&, uint16_t, const std::string&, uint32_t) { return true; };
    batch.Confirm("/fw/cam.zip", hooks);
    // Every request out, each when it is due.
    while (const auto due = batch.NextSendAt())
        batch.SendDue(*due);

    const auto start = std::chrono::steady_clock::now();
    accounts["10.0.0.1"] = {450, 1000, false, 450};
    accounts["10.0.0.2"] = {10, 1000, false, 10};
    batch.TrackDownloads(start, std::chrono::seconds(60));
    EXPECT_EQ(ShownOf(site.Status(1)), (Shown{"已发送升级命令,等待升级", 45, false}));
    PacketHeader accepted{};
    accepted.command = 0x711;
    accepted.bodyMarker = '$';
    accepted.result = 0x4F4B;
    accepted.tag = batch.jobs()[0]->id;
    batch.OnDatagram(accepted, "");
    EXPECT_EQ(ShownOf(site.Status(1)), (Shown{"升级中", 45, false}));

    // The first camera takes the whole file; the second stops reading.
    accounts["10.0.0.1"] = {1000, 1000, true, 1000};
    batch.TrackDownloads(start + std::chrono::seconds(60), std::chrono::seconds(60));
    EXPECT_EQ(ShownOf(site.Status(1)), (Shown{"升级中", 100, false}));
    EXPECT_EQ(ShownOf(site.Status(2)), (Shown{"下载停滞", 100, true}));

    // Its outcome is its state's text alone.
    PacketHeader notification{};
    notification.command = 0x712;
    notification.bodyMarker = '$';
    batch.OnDatagram(notification, R"({"deviceId":"ID-10.0.0.1","status":0})");
    EXPECT_EQ(ShownOf(site.Status(1)), (Shown{"升级成功", 0, false}));
    batch.OnDatagram(notification, R"({"deviceId":"ID-10.0.0.2","status":1})");
    EXPECT_EQ(ShownOf(site.Status(2)), (Shown{"下载停滞", 100, true}));
}

TEST_F(SiteDevices, EveryFailureOfABatchIsShownOverAFullRedBar)
{
    const lynx::test::PcCards pc{{"eth0", "10.0.0.100", 24}};
    Report("10.0.0.1", "02:00:00:00:00:01");
    Report("10.0.0.2", "02:00:00:00:00:02");
    Report("192.168.0.64", "02:00:00:00:00:64");
    site.AnnounceAdded();
    lynx::upgrade::UpgradeBatch& batch = site.Upgrade().Batch();
    batch.SetDownloadWitness({});
    ASSERT_EQ(batch.Prepare(site.BatchOf({1, 2, 3})), 3);
    EXPECT_EQ(ShownOf(site.Status(1)), (Shown{"等待中"}));
    EXPECT_EQ(ShownOf(site.Status(3)), (Shown{"请先修改IP", 100, true}));
    lynx::upgrade::UpgradeSendHooks hooks;
    hooks.publishFile = [](const std::string&, const std::string&) {};
    hooks.httpPort = [] { return 9000; };
    hooks.startClient = [](const std::string&, uint16_t& handle) { return handle = 1, true; };
    hooks.clientFailed = [] {};
    hooks.localAddress = [](const std::string&) { return std::string("10.0.0.100"); };
    hooks.sendUpdate = [](const std::string&, const std::string&, uint16_t, const std::string& ip, uint32_t) {
        return ip != "10.0.0.2";
    };
    batch.Confirm("/fw/cam.zip", hooks);
    // Every request out, each when it is due.
    while (const auto due = batch.NextSendAt())
        batch.SendDue(*due);
    EXPECT_EQ(ShownOf(site.Status(2)), (Shown{"升级命令发送失败", 100, true}));
    PacketHeader notification{};
    notification.command = 0x712;
    notification.bodyMarker = '$';
    batch.OnDatagram(notification, R"({"deviceId":"ID-10.0.0.1","status":2})");
    EXPECT_EQ(ShownOf(site.Status(1)), (Shown{"下载或校验失败", 100, true}));
}

// Every state a job can be in, as its cell shows it and as lynx-cli names it:
// the words come from one table, the failures over a full red bar.
TEST(DeviceStatusTable, EachJobStateShowsTheSystemsTextAndIsNamedForMachines)
{
    using lynx::upgrade::UgState;
    struct Case {
        UgState state;
        const char* text;
        const char* key;
        bool failed;
    };
    const Case cases[] = {
        {UgState::Waiting, "等待中", "waiting", false},
        {UgState::Sent, "已发送升级命令,等待升级", "sent", false},
        {UgState::SendFailed, "升级命令发送失败", "send-failed", true},
        {UgState::Upgrading, "升级中", "upgrading", false},
        {UgState::Refused, "设备未就绪，请稍后再试", "refused", true},
        {UgState::Succeeded, "升级成功", "succeeded", false},
        {UgState::Failed, "升级失败", "failed", true},
        {UgState::DownloadFailed, "下载或校验失败", "download-failed", true},
        {UgState::Unproven, "未下载固件，不予采信", "unproven", true},
        {UgState::Unreachable, "请先修改IP", "unreachable", true},
        {UgState::Unreported, "未报告升级结果", "unreported", true},
        {UgState::Stalled, "下载停滞", "stalled", true},
        {UgState::Cleared, "", "cleared", false},
    };
    for (const Case& c : cases) {
        const DeviceStatus status = lynx::site::StatusOf(c.state);
        EXPECT_STREQ(lynx::site::StatusText(status), c.text) << c.key;
        EXPECT_STREQ(lynx::site::StateKey(status), c.key);
        EXPECT_EQ(status.failed(), c.failed) << c.key;
        EXPECT_EQ(status.percent, c.failed ? 100 : 0) << c.key;
    }
    // A download's bar only while the camera may be taking the file, and the
    // bytes served whatever the state.
    const lynx::upgrade::DownloadProgress half{500, 1000, false, 700};
    EXPECT_EQ(lynx::site::StatusOf(UgState::Upgrading, half).percent, 50);
    EXPECT_EQ(lynx::site::StatusOf(UgState::Upgrading, half).bytes, 700u);
    EXPECT_EQ(lynx::site::StatusOf(UgState::Waiting, half).percent, 0);
    EXPECT_EQ(lynx::site::StatusOf(UgState::Stalled, half).percent, 100);
}

// An address change under way takes its camera's reports: the device moves to
// its new address only when the camera answers from there, and the other
// cameras' answers to the confirmation's searches are listed only while a
// search of the user's own runs.
TEST_F(SiteDevices, ReportsGoToTheAddressChangeUnderWayAndItsDeviceMovesOnlyWhenTheCameraAnswersThere)
{
    Report("10.0.0.1", "02:00:00:00:00:01");
    Report("10.0.0.2", "02:00:00:00:00:02");
    site.AnnounceAdded();
    std::vector<std::string> sent;
    site.BeginReaddress([&sent](const std::string& mac, const std::string& ip, const std::string&, const std::string&) {
        sent.push_back(mac + " " + ip);
        return true;
    }, 60, [] { return true; });
    const auto start = Site::Clock::now();
    ASSERT_TRUE(site.AddReaddress(1, "10.0.0.1", {"02:00:00:00:00:01", "10.0.0.51", "255.255.255.0", "10.0.0.254"}, start));
    EXPECT_THAT(sent, ElementsAre("02:00:00:00:00:01 10.0.0.51"));
    EXPECT_EQ(ShownOf(site.Status(1)).text, "等待设备在新地址应答…");

    Arrives("10.0.0.1", "02:00:00:00:00:01");  // still restarting at its old address
    Arrives("10.0.0.3", "02:00:00:00:00:03");  // another camera answering the round's search
    EXPECT_FALSE(site.Drain({}, std::nullopt, 0));
    EXPECT_EQ(site.Count(), 2);
    EXPECT_EQ(IpOf(1), "10.0.0.1");
    site.SetListening(true);
    Arrives("10.0.0.3", "02:00:00:00:00:03");
    site.Drain({}, std::nullopt, 0);
    EXPECT_EQ(site.Count(), 3);

    Arrives("10.0.0.51", "02:00:00:00:00:01");
    site.Drain({}, std::nullopt, 0);
    EXPECT_EQ(site.Count(), 3);  // its row follows it: not listed again
    EXPECT_EQ(IpOf(1), "10.0.0.51");
    EXPECT_EQ(ShownOf(site.Status(1)), (Shown{"修改成功！"}));
    EXPECT_EQ(heard.events.back(), "readdress ended");
    EXPECT_EQ(site.Readdressing()->OutcomeOf(0), lynx::site::ReaddressSteps::Outcome::Confirmed);
    site.EndReaddress();
    EXPECT_EQ(site.NextTick(start), std::nullopt);
}

// The engine's tick moves the change on: a search every round while it waits,
// and at its confirmation time the camera not heard at its new address is
// failed, keeping the address it had.
TEST_F(SiteDevices, AChangeNotAnsweredIsEndedByTheTickAtItsTimeAndTheDeviceKeepsItsAddress)
{
    Report("10.0.0.1", "02:00:00:00:00:01");
    site.AnnounceAdded();
    int searches = 0;
    site.BeginReaddress([](const std::string&, const std::string&, const std::string&, const std::string&) { return true; },
                        60, [&searches] { return ++searches, true; });
    const auto start = Site::Clock::now();
    ASSERT_TRUE(site.AddReaddress(1, "10.0.0.1", {"02:00:00:00:00:01", "10.0.0.51", "255.255.255.0", "10.0.0.254"}, start));
    const auto wait = site.NextTick(start);
    ASSERT_TRUE(wait.has_value());
    EXPECT_LE(*wait, std::chrono::seconds(3));
    site.Tick(start + std::chrono::seconds(30));
    EXPECT_TRUE(site.Readdressing()->Waiting());
    EXPECT_GE(searches, 1);
    site.Tick(start + std::chrono::seconds(61));
    EXPECT_FALSE(site.Readdressing()->Waiting());
    EXPECT_EQ(ShownOf(site.Status(1)), (Shown{"设备未在新地址应答", 100, true}));
    EXPECT_EQ(IpOf(1), "10.0.0.1");
    EXPECT_EQ(heard.events.back(), "readdress ended");
}

// A search of the user's own ends at its time-out, from the engine's tick,
// or earlier when stopped; only then is its end told.
TEST_F(SiteDevices, ASearchEndsAtItsTimeOutFromTheTickOrWhenStopped)
{
    struct Ended : lynx::site::SiteObserver {
        int times = 0;
        void SearchEnded() override { ++times; }
    } ended;
    site.AddObserver(&ended);
    const auto start = Site::Clock::now();
    // Nothing is sent: no server started, no card asked (the engine's time-out alone).
    site.Search(std::chrono::seconds(13), start);
    EXPECT_TRUE(site.Searching());
    EXPECT_EQ(site.NextTick(start), std::chrono::milliseconds(13000));
    site.Tick(start + std::chrono::milliseconds(12999));
    EXPECT_TRUE(site.Searching());
    EXPECT_EQ(ended.times, 0);
    site.Tick(start + std::chrono::seconds(13));
    EXPECT_FALSE(site.Searching());
    EXPECT_EQ(ended.times, 1);
    site.Tick(start + std::chrono::seconds(14));
    EXPECT_EQ(ended.times, 1);

    site.Search(std::chrono::seconds(5), start);
    site.StopSearch();
    site.Tick(start + std::chrono::seconds(6));
    EXPECT_EQ(ended.times, 1);
    EXPECT_EQ(site.NextTick(start), std::nullopt);
    site.RemoveObserver(&ended);
}

// The watch's rounds from the engine's tick: each camera's report kept in its
// row as it arrives (told to the watch at once), the round ended at its
// interval with the reports still waiting, and the next one begun.
TEST_F(SiteDevices, AWatchsRoundsEndAtTheirIntervalFromTheTickWithTheReportsThatCame)
{
    struct Rounds : lynx::site::SiteObserver, lynx::site::WatchSink {
        std::vector<std::string> heard;
        int ended = 0;
        void WatchRoundEnded(bool) override { ++ended; }
        void Event(const lynx::site::WatchEvent& event) override
        {
            heard.push_back(std::string(lynx::site::WatchEventName(event.kind)) + " " + event.mac);
        }
    } rounds;
    site.AddObserver(&rounds);
    lynx::site::Watch watch;
    const auto start = Site::Clock::now();
    // No server started: the rounds' searches go out on no socket at all.
    EXPECT_FALSE(site.StartWatch(watch, rounds, std::chrono::seconds(10), start));
    EXPECT_TRUE(site.Watching());
    EXPECT_EQ(site.NextTick(start), std::chrono::milliseconds(10000));
    Arrives("10.0.0.1", "02:00:00:00:00:01");
    site.Drain({}, std::nullopt, 0);
    EXPECT_EQ(site.Count(), 1);
    EXPECT_THAT(rounds.heard, ElementsAre("appeared 02:00:00:00:00:01"));
    Arrives("10.0.0.7", "02:00:00:00:00:01");  // the same camera at a new address: its row follows it
    site.Tick(start + std::chrono::seconds(9));
    EXPECT_EQ(rounds.ended, 0);
    site.Tick(start + std::chrono::seconds(10));
    EXPECT_EQ(rounds.ended, 1);
    EXPECT_EQ(site.Count(), 1);
    EXPECT_EQ(IpOf(1), "10.0.0.7");
    EXPECT_EQ(site.NextTick(start + std::chrono::seconds(10)), std::chrono::milliseconds(10000));
    site.StopWatch();
    EXPECT_EQ(site.NextTick(start), std::nullopt);
    site.RemoveObserver(&rounds);
}
