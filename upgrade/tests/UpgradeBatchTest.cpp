// A batch upgrade as bookkeeping: preparation from the ticked devices, the
// paced sends as steps on a clock of the test's, and what replies and
// notifications do, against a scripted list (the front end's side: rows,
// ticks, statuses) and scripted network hooks.
#include "upgrade/UpgradeBatch.h"

#include "site/DeviceStatus.h"

#include "platform/CodePage.h"

#include <arpa/inet.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <optional>
#include <map>
#include <set>

using lynx::upgrade::BatchDevice;
using lynx::upgrade::UgState;
using lynx::upgrade::UpgradeBatch;
using lynx::upgrade::UpgradeView;
using lynx::upgrade::UpgradeSendHooks;
using ::testing::ElementsAre;

namespace {

struct Row {
    bool checked = false;
    std::array<std::string, 8> cells;
};

// The device list and summary line as the user would see them: a row shows
// the device whose number is in its first cell.
class ListScript : public UpgradeView {
public:
    std::vector<Row> rows;
    std::vector<std::string> summaries;
    bool upgrading = false;
    int announcements = 0;
    std::vector<std::pair<int, std::string>> statusWrites;

    int RowOf(int device) const
    {
        for (size_t row = 0; row < rows.size(); ++row) {
            if (rows[row].cells[0] == std::to_string(device))
                return static_cast<int>(row);
        }
        return -1;
    }
    void SetStatus(int device, UgState state) override
    {
        const int row = RowOf(device);
        statusWrites.emplace_back(row, lynx::site::StatusText(state));
        if (row >= 0)
            rows[static_cast<size_t>(row)].cells[7] = lynx::site::StatusText(state);
    }
    void SetSummaryText(const std::string& text) override { summaries.push_back(text); }
    void SetUpgrading(bool value) override { upgrading = value; }
    void AnnounceComplete() override { ++announcements; }
    void ReviewAfter(int) override { ++reviewsAsked; }
    int reviewsAsked = 0;

    std::string Status(int row) const { return rows.at(static_cast<size_t>(row)).cells[7]; }
};

struct Request {
    std::string url;
    std::string deviceId;
    uint16_t handle;
    std::string ip;
    uint32_t tag;
};

PacketHeader Reply(uint32_t tag, uint16_t result)
{
    PacketHeader header{};
    header.command = 0x711;
    header.bodyMarker = '$';
    header.result = result;
    header.tag = tag;
    return header;
}

PacketHeader NotificationHeader()
{
    PacketHeader header{};
    header.command = 0x712;
    header.bodyMarker = '$';
    return header;
}

std::string Notification(const std::string& deviceId, int status)
{
    return R"({"deviceId":")" + deviceId + R"(","status":)" + std::to_string(status) + "}";
}

constexpr uint16_t kAccepted = 0x4F4B;

class BatchTest : public ::testing::Test {
protected:
    BatchTest()
    {
        auto view = std::make_unique<ListScript>();
        list = view.get();
        batch = std::make_unique<UpgradeBatch>(std::move(view));
        batch->SetClock([this] { return now; });

        hooks.publishFile = [this](const std::string& path, const std::string& name) {
            published.emplace_back(path, name);
        };
        hooks.httpPort = [] { return 9001; };
        hooks.startClient = [this](const std::string& ip, uint16_t& handle) {
            clientStarts.push_back(ip);
            if (failingClients.count(ip))
                return false;
            handle = static_cast<uint16_t>(100 + clientStarts.size());
            return true;
        };
        hooks.clientFailed = [this] { ++clientFailures; };
        hooks.localAddress = [this](const std::string& ip) {
            addressQueries.push_back(ip);
            const auto it = localAddresses.find(ip);
            return it == localAddresses.end() ? std::string() : it->second;
        };
        hooks.sendUpdate = [this](const std::string& url, const std::string& deviceId, uint16_t handle,
                                  const std::string& ip, uint32_t tag) {
            requests.push_back({url, deviceId, handle, ip, tag});
            sentAtMs.push_back(
                static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(now - confirmedAt).count()));
            return !unreachable.count(ip);
        };
    }

    // A device with its record under number, shown in a list row.
    void AddDevice(int number, const std::string& ip, const std::string& deviceId, bool checked = true)
    {
        recordsByNumber[number] = {ip, deviceId};
        Row row;
        row.checked = checked;
        row.cells[0] = std::to_string(number);
        row.cells[1] = ip;
        list->rows.push_back(row);
    }

    void ThreeDevices()
    {
        AddDevice(1, "192.168.1.11", "CAM-A");
        AddDevice(2, "192.168.1.12", "CAM-B");
        AddDevice(3, "192.168.1.13", "CAM-C");
        localAddresses["192.168.1.11"] = "192.168.1.2";
    }

    // What a front end hands the batch: the ticked rows' devices, in the
    // list's order, each at the address its row shows, with its record's
    // identifier.
    int Prepare()
    {
        std::vector<BatchDevice> devices;
        for (const Row& row : list->rows) {
            const auto record = recordsByNumber.find(std::atoi(row.cells[0].c_str()));
            if (row.checked && record != recordsByNumber.end())
                devices.push_back({record->first, row.cells[1], record->second.second});
        }
        return batch->Prepare(devices);
    }
    bool HasCheckedRow() const
    {
        return std::any_of(list->rows.begin(), list->rows.end(), [](const Row& row) { return row.checked; });
    }
    // The tag of the job of the device shown in a row: the job's own id.
    uint32_t Tag(int row) const
    {
        const int device = std::atoi(list->rows.at(static_cast<size_t>(row)).cells[0].c_str());
        for (const auto* job : batch->jobs()) {
            if (job->device == device)
                return job->id;
        }
        return 0;
    }

    void RunBatch(const std::string& path = "/home/eng/firmware/cam-2.1.zip")
    {
        Prepare();
        ConfirmAndSend(path);
    }
    // The confirmation, then the clock moved on to each request as it falls
    // due, with duringPause told of each wait before it is over.
    void ConfirmAndSend(const std::string& path)
    {
        confirmedAt = now;
        batch->Confirm(path, hooks);
        SendWhenDue();
    }
    void SendWhenDue()
    {
        int pause = 0;
        while (const auto due = batch->NextSendAt()) {
            if (duringPause)
                duringPause(++pause);
            now = std::max(now, *due);
            batch->SendDue(now);
        }
    }

    void Notify(const std::string& deviceId, int status)
    {
        batch->OnDatagram(NotificationHeader(), Notification(deviceId, status));
    }

    std::string Summary() const { return list->summaries.empty() ? "" : list->summaries.back(); }

    ListScript* list = nullptr;
    std::unique_ptr<UpgradeBatch> batch;
    UpgradeSendHooks hooks;
    std::map<int, std::pair<std::string, std::string>> recordsByNumber;  // number -> ip, id
    std::map<std::string, std::string> localAddresses;
    std::set<std::string> failingClients;
    std::set<std::string> unreachable;
    std::function<void(int pauseNumber)> duringPause;
    UpgradeBatch::TimePoint now = std::chrono::steady_clock::now();
    UpgradeBatch::TimePoint confirmedAt = now;

    std::vector<std::pair<std::string, std::string>> published;
    std::vector<std::string> clientStarts;
    int clientFailures = 0;
    std::vector<std::string> addressQueries;
    std::vector<Request> requests;
    std::vector<int> sentAtMs;  // each request's time since the confirmation
};

// ---- Preparing a batch ----

TEST_F(BatchTest, EveryTickedRowWithARecordBecomesAWaitingJob)
{
    AddDevice(1, "10.0.0.1", "ID1");
    AddDevice(2, "10.0.0.2", "ID2", false);
    AddDevice(3, "10.0.0.3", "ID3");
    EXPECT_TRUE(HasCheckedRow());
    EXPECT_EQ(Prepare(), 2);
    EXPECT_EQ(list->Status(0), "等待中");
    EXPECT_EQ(list->Status(1), "");
    EXPECT_EQ(list->Status(2), "等待中");
    ASSERT_EQ(batch->queue().size(), 2u);
    EXPECT_EQ(batch->queue().front()->ip, "10.0.0.1");
    EXPECT_STREQ(batch->queue().back()->deviceId, "ID3");
    EXPECT_EQ(batch->queue().back()->device, 3);
    EXPECT_EQ(batch->pending().size(), 2u);
}

TEST_F(BatchTest, RowReaddressedSinceTheSearchKeepsItsJobUnderItsRecordsIdentifier)
{
    AddDevice(1, "10.0.0.1", "ID1");
    AddDevice(2, "10.0.0.2", "ID2");
    list->rows[1].cells[1] = "10.0.0.99";  // "修改IP" moved the device; its record keeps 10.0.0.2
    EXPECT_EQ(Prepare(), 2);
    EXPECT_EQ(list->Status(1), "等待中");
    ConfirmAndSend("/fw.zip");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].ip, "10.0.0.99");
    EXPECT_EQ(requests[1].deviceId, "ID2");
    Notify("ID2", 0);
    EXPECT_EQ(list->Status(1), "升级成功");
}

TEST_F(BatchTest, InASortedListEachJobAddressesTheDeviceOfItsOwnRow)
{
    AddDevice(3, "10.0.0.3", "ID3");
    AddDevice(1, "10.0.0.1", "ID1");
    AddDevice(2, "10.0.0.2", "ID2", false);
    localAddresses["10.0.0.3"] = "10.0.0.100";
    RunBatch();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].ip, "10.0.0.3");
    EXPECT_EQ(requests[0].deviceId, "ID3");
    EXPECT_EQ(requests[0].tag, 1u);  // each job's own id
    EXPECT_EQ(requests[1].ip, "10.0.0.1");
    EXPECT_EQ(requests[1].deviceId, "ID1");
    EXPECT_EQ(requests[1].tag, 2u);
}

TEST_F(BatchTest, CancelEmptiesTheTickedRowsAndSendsNothing)
{
    ThreeDevices();
    list->rows[1].cells[7] = "old text";
    EXPECT_EQ(Prepare(), 3);
    batch->Cancel();
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(list->Status(row), "") << row;
    EXPECT_TRUE(requests.empty());

    // The next batch sends to its own devices only.
    for (Row& row : list->rows)
        row.checked = false;
    list->rows[2].checked = true;
    RunBatch();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].ip, "192.168.1.13");
    EXPECT_EQ(batch->total(), 1);
}

// ---- The send loop ----

TEST_F(BatchTest, ThreeDevicesAreSentOneAfterAnotherWithThreeSecondPauses)
{
    ThreeDevices();
    RunBatch();
    EXPECT_EQ(published, (std::vector<std::pair<std::string, std::string>>{
                             {"/home/eng/firmware/cam-2.1.zip", "cam-2.1.zip"}}));
    EXPECT_THAT(sentAtMs, ElementsAre(0, 3000, 6000));
    // Sent is not done: none of the three has ended yet.
    EXPECT_THAT(list->summaries, ElementsAre("总共:3    完成:0    成功:0    失败：0", "总共:3    完成:0    成功:0    失败：0",
                                             "总共:3    完成:0    成功:0    失败：0", "总共:3    完成:0    成功:0    失败：0"));
    EXPECT_EQ(batch->sent(), 3);
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(list->Status(row), "已发送升级命令,等待升级");
    EXPECT_TRUE(batch->queue().empty());
    EXPECT_EQ(batch->pending().size(), 3u);
    EXPECT_FALSE(list->upgrading);
    EXPECT_EQ(list->announcements, 0);
    for (const Request& request : requests)
        EXPECT_EQ(request.url, "http://192.168.1.2:9001/cam-2.1.zip");
}

TEST_F(BatchTest, FlagIsSetWhileTheRequestsGoOut)
{
    ThreeDevices();
    std::vector<bool> seen;
    const auto send = hooks.sendUpdate;
    hooks.sendUpdate = [&](const std::string& url, const std::string& id, uint16_t handle, const std::string& ip,
                           uint32_t tag) {
        seen.push_back(list->upgrading);
        return send(url, id, handle, ip, tag);
    };
    RunBatch();
    // Set while requests are to go out; the summary clears it once the last
    // request is counted, as it goes out.
    EXPECT_THAT(seen, ElementsAre(true, true, false));
    EXPECT_FALSE(list->upgrading);
}

TEST_F(BatchTest, AStoppedLoopSendsNothingMoreOneAtATimeOrInParallel)
{
    ThreeDevices();
    // The user ends the program once the first request is out.
    hooks.stopped = [this] { return !requests.empty(); };
    for (int parallel : {0, 2}) {
        requests.clear();
        batch->SetParallel(parallel);
        RunBatch();
        EXPECT_EQ(requests.size(), 1u) << parallel;
        EXPECT_EQ(batch->queue().size(), 2u) << parallel;
        EXPECT_EQ(batch->done(), 0) << parallel;
        EXPECT_EQ(batch->sent(), 1) << parallel;
        EXPECT_FALSE(list->upgrading) << parallel;
        EXPECT_EQ(list->announcements, 0) << parallel;
    }
}

TEST_F(BatchTest, RequestNotSentIsCountedFailedUntilItIsSentAgainAndPausesOneSecond)
{
    ThreeDevices();
    unreachable.insert("192.168.1.12");
    RunBatch();
    EXPECT_THAT(sentAtMs, ElementsAre(0, 3000, 4000));
    EXPECT_EQ(list->Status(1), "升级命令发送失败");
    EXPECT_EQ(batch->done(), 1);
    EXPECT_EQ(batch->failed(), 1);
    ASSERT_EQ(batch->queue().size(), 1u);
    EXPECT_EQ(batch->queue().front()->ip, "192.168.1.12");

    Notify("CAM-A", 0);
    Notify("CAM-C", 0);
    EXPECT_EQ(list->announcements, 0);  // the unsent job never reports
    EXPECT_EQ(Summary(), "总共:3    完成:3    成功:2    失败：1");

    // Sent again, it is a failure no more, and counted sent once.
    unreachable.clear();
    batch->SendUpdateCommands("/fw.zip", hooks);
    SendWhenDue();
    EXPECT_EQ(list->Status(1), "已发送升级命令,等待升级");
    EXPECT_EQ(batch->failed(), 0);
    EXPECT_EQ(batch->sent(), 3);
    EXPECT_EQ(Summary(), "总共:3    完成:2    成功:2    失败：0");
    Notify("CAM-B", 0);
    EXPECT_EQ(Summary(), "总共:3    完成:3    成功:3    失败：0");
    EXPECT_EQ(list->announcements, 1);
}

// ---- The paced sends as steps ----

// A datagram from one of the three cameras at a time since the confirmation:
// a reply accepting its request (status kAccepts) or its notification.
struct Arrival {
    int atMs;
    int row;
    int status;
};
constexpr int kAccepts = -1;

struct PacedCase {
    const char* what;
    int parallel;
    std::set<std::string> unsendable;  // addresses whose request cannot go out
    std::vector<Arrival> arrivals;     // in time order
    std::vector<int> sentAtMs;         // each request tried, since the confirmation
    std::array<const char*, 3> statuses;
    const char* summary;
};

void PrintTo(const PacedCase& paced, std::ostream* out)
{
    *out << paced.what;
}

class PacedSend : public BatchTest, public ::testing::WithParamInterface<PacedCase> {
protected:
    // The owner of the datagrams' loop: the clock moved on to the next
    // arrival or the next request due, whichever comes first; what arrives
    // applied, then the batch's step.
    void Run()
    {
        ThreeDevices();
        unreachable = GetParam().unsendable;
        batch->SetParallel(GetParam().parallel);
        Prepare();
        confirmedAt = now;
        batch->Confirm("/fw.zip", hooks);
        auto arrival = GetParam().arrivals.begin();
        const auto end = GetParam().arrivals.end();
        for (;;) {
            std::optional<UpgradeBatch::TimePoint> next = batch->NextSendAt();
            if (arrival != end) {
                const auto at = confirmedAt + std::chrono::milliseconds(arrival->atMs);
                next = next ? std::min(*next, at) : at;
            }
            if (!next)
                return;
            now = std::max(now, *next);
            for (; arrival != end && confirmedAt + std::chrono::milliseconds(arrival->atMs) <= now; ++arrival) {
                const char* camera = std::array<const char*, 3>{"CAM-A", "CAM-B", "CAM-C"}[static_cast<size_t>(arrival->row)];
                const uint32_t from = HostOrder(list->rows[static_cast<size_t>(arrival->row)].cells[1].c_str());
                if (arrival->status == kAccepts)
                    batch->OnDatagram(Reply(Tag(arrival->row), kAccepted), "", from);
                else
                    batch->OnDatagram(NotificationHeader(), Notification(camera, arrival->status), from);
            }
            batch->SendDue(now);
        }
    }
    static uint32_t HostOrder(const char* ip)
    {
        in_addr a{};
        ::inet_pton(AF_INET, ip, &a);
        return ntohl(a.s_addr);
    }
};

TEST_P(PacedSend, EachRequestGoesOutWhenItIsDueWhateverArrivesMeanwhile)
{
    Run();
    EXPECT_EQ(sentAtMs, GetParam().sentAtMs);
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(list->Status(row), GetParam().statuses[static_cast<size_t>(row)]) << row;
    EXPECT_EQ(Summary(), GetParam().summary);
    EXPECT_FALSE(batch->Sending());
    EXPECT_FALSE(list->upgrading);
}

const char* const kWaitsForIt = "已发送升级命令,等待升级";

INSTANTIATE_TEST_SUITE_P(
    Steps, PacedSend,
    ::testing::Values(
        PacedCase{"OneAtATimeWithRepliesAndReportsInThePauses", 0, {},
                  {{500, 0, kAccepts}, {2000, 0, 0}, {3500, 1, kAccepts}, {5000, 1, 1}, {6200, 2, kAccepts}, {9000, 2, 0}},
                  {0, 3000, 6000}, {"升级成功", "升级失败", "升级成功"}, "总共:3    完成:3    成功:2    失败：1"},
        PacedCase{"ANotificationBeforeItsRequestIsNotCounted", 0, {},
                  {{1000, 2, 1}, {7000, 2, 0}},
                  {0, 3000, 6000}, {kWaitsForIt, kWaitsForIt, "升级成功"}, "总共:3    完成:1    成功:1    失败：0"},
        PacedCase{"ParallelTwoAtOnceAndTheThirdWhenAPlaceIsFreed", 2, {},
                  {{4000, 1, 2}},
                  {0, 0, 4000}, {kWaitsForIt, "下载或校验失败", kWaitsForIt}, "总共:3    完成:1    成功:0    失败：1"},
        PacedCase{"ARequestThatCannotBeSentThenTheNextOneSecondLater", 0, {"192.168.1.12"},
                  {},
                  {0, 3000, 4000}, {kWaitsForIt, "升级命令发送失败", kWaitsForIt}, "总共:3    完成:1    成功:0    失败：1"},
        PacedCase{"InParallelTooTheNextGoesOutOneSecondAfterOneNotSent", 2, {"192.168.1.11"},
                  {},
                  {0, 1000, 1000}, {"升级命令发送失败", kWaitsForIt, kWaitsForIt}, "总共:3    完成:1    成功:0    失败：1"}),
    [](const ::testing::TestParamInfo<PacedCase>& info) { return std::string(info.param.what); });

TEST_F(BatchTest, AStepBeforeTheNextRequestIsDueSendsNothing)
{
    // An owner's timer may fire early: the pause is the batch's to keep.
    ThreeDevices();
    unreachable.insert("192.168.1.11");
    Prepare();
    batch->Confirm("/fw.zip", hooks);
    ASSERT_EQ(requests.size(), 1u);
    const auto confirmed = now;
    batch->SendDue(confirmed + std::chrono::milliseconds(999));
    EXPECT_EQ(requests.size(), 1u);
    batch->SendDue(confirmed + std::chrono::milliseconds(1000));
    ASSERT_EQ(requests.size(), 2u);
    batch->SendDue(confirmed + std::chrono::milliseconds(3999));
    EXPECT_EQ(requests.size(), 2u);
    EXPECT_EQ(batch->NextSendAt(), confirmed + std::chrono::milliseconds(4000));
    batch->SendDue(confirmed + std::chrono::milliseconds(4000));
    EXPECT_EQ(requests.size(), 3u);
    EXPECT_FALSE(batch->Sending());
}

TEST_F(BatchTest, ParallelSendsWaitForAPlaceWithoutAnyDeadline)
{
    // A full parallel batch waits on its cameras, not on the clock; a report
    // that frees a place asks for the owner's step at once.
    ThreeDevices();
    batch->SetParallel(1);
    RunBatch();
    EXPECT_EQ(requests.size(), 1u);
    EXPECT_TRUE(batch->Sending());
    EXPECT_FALSE(batch->NextSendAt());
    const int asked = list->reviewsAsked;
    Notify("CAM-A", 0);
    EXPECT_GT(list->reviewsAsked, asked);
    ASSERT_TRUE(batch->NextSendAt());
    batch->SendDue(now);
    EXPECT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].ip, "192.168.1.12");
}

TEST_F(BatchTest, UrlNamesThePcsAddressTowardsEachCameraOrTheLastOneFound)
{
    AddDevice(1, "192.168.1.11", "CAM-A");
    AddDevice(2, "192.168.1.12", "CAM-B");
    AddDevice(3, "10.10.0.13", "CAM-C");    // behind a second network card
    AddDevice(4, "192.168.1.14", "CAM-D");
    localAddresses["192.168.1.12"] = "192.168.1.5";
    localAddresses["10.10.0.13"] = "10.10.0.100";
    RunBatch("/srv/固件 V2#1.zip");
    EXPECT_THAT(addressQueries, ElementsAre("192.168.1.11", "192.168.1.12", "10.10.0.13", "192.168.1.14"));
    ASSERT_EQ(requests.size(), 4u);
    // The name percent-encoded, so that any HTTP client asks for this file.
    const std::string encoded = "%E5%9B%BA%E4%BB%B6%20V2%231.zip";
    EXPECT_EQ(requests[0].url, "");
    EXPECT_EQ(requests[1].url, "http://192.168.1.5:9001/" + encoded);
    EXPECT_EQ(requests[2].url, "http://10.10.0.100:9001/" + encoded);
    EXPECT_EQ(requests[3].url, "http://10.10.0.100:9001/" + encoded);
}

TEST_F(BatchTest, ClientThatCannotStartIsToldAndTheRequestStillGoesOut)
{
    ThreeDevices();
    failingClients.insert("192.168.1.11");
    RunBatch();
    EXPECT_EQ(clientFailures, 1);
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].handle, 0);
    EXPECT_EQ(batch->done(), 0);
    EXPECT_EQ(batch->sent(), 3);
}

TEST_F(BatchTest, LaterBatchesReuseEachDevicesClient)
{
    ThreeDevices();
    failingClients.insert("192.168.1.13");
    RunBatch();
    const std::vector<Request> first = requests;
    failingClients.clear();
    requests.clear();
    RunBatch();
    RunBatch();
    // One start per address, and one more for the address whose start failed.
    EXPECT_THAT(clientStarts, ElementsAre("192.168.1.11", "192.168.1.12", "192.168.1.13", "192.168.1.13"));
    EXPECT_EQ(requests[0].handle, first[0].handle);
    EXPECT_EQ(requests[1].handle, first[1].handle);
    EXPECT_NE(requests[2].handle, 0);
}

TEST_F(BatchTest, NewBatchStartsFromZero)
{
    ThreeDevices();
    RunBatch();
    const uint32_t oldTag = Tag(2);
    batch->OnDatagram(Reply(Tag(0), 0x1234), "");
    Notify("CAM-B", 0);
    list->rows[0].checked = list->rows[1].checked = false;
    EXPECT_EQ(Prepare(), 1);
    EXPECT_EQ(batch->done() + batch->succeeded() + batch->failed(), 0);
    EXPECT_EQ(batch->pending().size(), 1u);
    // A late notification of a device outside the new batch matches no job.
    Notify("CAM-A", 0);
    EXPECT_EQ(batch->succeeded(), 0);
    // Nor does a late reply to the old batch's request to the same device.
    EXPECT_NE(Tag(2), oldTag);
    batch->Confirm("/fw.zip", hooks);
    batch->OnDatagram(Reply(oldTag, 0x1234), "");
    EXPECT_EQ(batch->failed(), 0);
}

TEST(BatchFileName, IsThePartAfterTheLastSlash)
{
    EXPECT_EQ(UpgradeBatch::FileNameOf("/home/eng/fw/cam.zip"), "cam.zip");
    EXPECT_EQ(UpgradeBatch::FileNameOf("cam.zip"), "cam.zip");
    // A backslash is an ordinary character in a file name on this system.
    EXPECT_EQ(UpgradeBatch::FileNameOf("/tmp/a\\b.zip"), "a\\b.zip");
}

// ---- Replies ----

TEST_F(BatchTest, AcceptedReplyShowsUpgradingAndCountsNothing)
{
    ThreeDevices();
    RunBatch();
    batch->OnDatagram(Reply(Tag(1), kAccepted), "");
    EXPECT_EQ(list->Status(1), "升级中");
    EXPECT_EQ(batch->failed(), 0);
}

TEST_F(BatchTest, ACameraStillUpgradingIsNotCountedDone)
{
    ThreeDevices();
    RunBatch();
    for (int row = 0; row < 3; ++row)
        batch->OnDatagram(Reply(Tag(row), kAccepted), "");
    Notify("CAM-A", 0);
    Notify("CAM-C", 1);
    EXPECT_EQ(list->Status(1), "升级中");
    EXPECT_EQ(batch->done(), 2);
    EXPECT_EQ(Summary(), "总共:3    完成:2    成功:1    失败：1");
    EXPECT_EQ(list->announcements, 0);
    Notify("CAM-B", 0);
    EXPECT_EQ(Summary(), "总共:3    完成:3    成功:2    失败：1");
}

TEST_F(BatchTest, RefusedDeviceIsAFailureAndTheBatchNeverCompletes)
{
    ThreeDevices();
    RunBatch();
    batch->OnDatagram(Reply(Tag(0), kAccepted), "");
    batch->OnDatagram(Reply(Tag(1), 0), "");
    batch->OnDatagram(Reply(Tag(2), kAccepted), "");
    EXPECT_EQ(list->Status(1), "设备未就绪，请稍后再试");
    EXPECT_EQ(Summary(), "总共:3    完成:1    成功:0    失败：1");
    Notify("CAM-A", 0);
    Notify("CAM-C", 0);
    EXPECT_EQ(Summary(), "总共:3    完成:3    成功:2    失败：1");
    EXPECT_EQ(list->announcements, 0);
}

TEST_F(BatchTest, WhenTheWaitIsOverTheCamerasThatNeverReportedEndUnreportedAndTheBatchCompletes)
{
    // One camera accepts and goes silent, one never answers at all, one
    // refuses, and a fourth reports success.
    ThreeDevices();
    AddDevice(4, "192.168.1.14", "CAM-D");
    RunBatch();
    batch->OnDatagram(Reply(Tag(0), kAccepted), "");
    batch->OnDatagram(Reply(Tag(2), 0), "");
    batch->OnDatagram(Reply(Tag(3), kAccepted), "");
    Notify("CAM-D", 0);
    EXPECT_EQ(list->announcements, 0);
    batch->EndUnreported();
    EXPECT_EQ(list->Status(0), "未报告升级结果");
    EXPECT_EQ(list->Status(1), "未报告升级结果");
    EXPECT_EQ(list->Status(2), "设备未就绪，请稍后再试");
    EXPECT_EQ(list->Status(3), "升级成功");
    EXPECT_EQ(Summary(), "总共:4    完成:4    成功:1    失败：3");
    EXPECT_EQ(list->announcements, 1);
    EXPECT_TRUE(batch->Settled());
    // A report after the end changes nothing, and the end is told once.
    Notify("CAM-A", 0);
    batch->EndUnreported();
    EXPECT_EQ(list->Status(0), "未报告升级结果");
    EXPECT_EQ(Summary(), "总共:4    完成:4    成功:1    失败：3");
    EXPECT_EQ(list->announcements, 1);
}

TEST_F(BatchTest, ReplyCountsOnlyOnceAndOnlyForASentJobOfTheBatch)
{
    ThreeDevices();
    AddDevice(4, "192.168.1.14", "CAM-D", false);  // listed, outside the batch
    unreachable.insert("192.168.1.13");            // its request never goes out
    RunBatch();
    const auto before = list->rows;
    for (uint32_t tag : {0u, 40u, 0xFFFFFFFFu, Tag(2)})
        batch->OnDatagram(Reply(tag, 0), "");
    EXPECT_EQ(batch->failed(), 1);  // the request that could not be sent
    EXPECT_EQ(list->rows[3].cells, before[3].cells);
    EXPECT_EQ(list->Status(2), "升级命令发送失败");

    batch->OnDatagram(Reply(Tag(0), 0), "");
    batch->OnDatagram(Reply(Tag(0), 0), "");         // the same refusal again
    batch->OnDatagram(Reply(Tag(0), kAccepted), "");  // and a contradicting one
    EXPECT_EQ(list->Status(0), "设备未就绪，请稍后再试");
    EXPECT_EQ(Summary(), "总共:3    完成:2    成功:0    失败：2");

    Notify("CAM-B", 0);
    batch->OnDatagram(Reply(Tag(1), kAccepted), "");  // late: the job has reported
    EXPECT_EQ(list->Status(1), "升级成功");
    EXPECT_TRUE(batch->Settled());

    // The camera that refused reports after all: its report replaces the refusal.
    Notify("CAM-A", 0);
    EXPECT_EQ(list->Status(0), "升级成功");
    EXPECT_EQ(Summary(), "总共:3    完成:3    成功:2    失败：1");
}

uint32_t HostOrder(const char* ip)
{
    in_addr a{};
    ::inet_pton(AF_INET, ip, &a);
    return ntohl(a.s_addr);
}

TEST_F(BatchTest, AReplyCountsOnlyFromTheCameraItsRequestWentTo)
{
    // Tags are row numbers: a flood of forged refusals must not fail a job.
    ThreeDevices();
    RunBatch();
    const auto address = HostOrder;
    for (const char* other : {"192.168.1.99", "192.168.1.12", "10.0.0.11"})
        batch->OnDatagram(Reply(Tag(0), 0), "", address(other));
    EXPECT_EQ(list->Status(0), "已发送升级命令,等待升级");
    EXPECT_EQ(batch->failed(), 0);
    batch->OnDatagram(Reply(Tag(0), 0), "", address("192.168.1.11"));
    EXPECT_EQ(list->Status(0), "设备未就绪，请稍后再试");
    EXPECT_EQ(batch->failed(), 1);
}

TEST_F(BatchTest, OtherDatagramsAreIgnored)
{
    ThreeDevices();
    RunBatch();
    PacketHeader noBody = Reply(Tag(0), 0);
    noBody.bodyMarker = '#';
    batch->OnDatagram(noBody, "");
    PacketHeader search = NotificationHeader();
    search.command = 0x701;
    batch->OnDatagram(search, Notification("CAM-A", 0));
    batch->OnDatagram(NotificationHeader(), "{not json");
    batch->OnDatagram(NotificationHeader(), "[1,2]");
    batch->OnDatagram(NotificationHeader(), std::string(1000, '['));
    EXPECT_EQ(batch->failed() + batch->succeeded(), 0);
    EXPECT_EQ(batch->pending().size(), 3u);
}

// ---- Notifications ----

TEST_F(BatchTest, ThreeDevicesReportSuccessAndCompletionIsAnnouncedOnceOnTheLast)
{
    ThreeDevices();
    RunBatch();
    for (int row = 0; row < 3; ++row)
        batch->OnDatagram(Reply(Tag(row), kAccepted), "");
    Notify("CAM-B", 0);
    Notify("CAM-A", 0);
    EXPECT_EQ(list->announcements, 0);
    Notify("CAM-C", 0);
    EXPECT_EQ(list->announcements, 1);
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(list->Status(row), "升级成功");
    EXPECT_EQ(Summary(), "总共:3    完成:3    成功:3    失败：0");
    // Later summaries (a late refusal, a repeated report) do not announce again.
    batch->OnDatagram(Reply(Tag(0), 0), "");
    Notify("CAM-C", 0);
    EXPECT_EQ(list->announcements, 1);
}

TEST_F(BatchTest, CompletionRightAfterTheLastRequestIsAnnouncedOnce)
{
    ThreeDevices();
    // The cameras are quick: each reports while the next request waits, the
    // last one as soon as it is asked.
    duringPause = [this](int pause) {
        Notify(std::array<const char*, 2>{"CAM-A", "CAM-B"}[static_cast<size_t>(pause - 1)], 0);
    };
    RunBatch();
    EXPECT_FALSE(batch->Sending());
    EXPECT_EQ(list->announcements, 0);
    Notify("CAM-C", 0);
    EXPECT_EQ(batch->succeeded(), 3);
    EXPECT_EQ(list->announcements, 1);
}

TEST_F(BatchTest, ANotificationForAJobNotSentYetIsIgnored)
{
    ThreeDevices();
    // While the loop waits after the first request, the last camera "reports"
    // before it has been asked: nothing may finish its job.
    duringPause = [this](int pause) {
        if (pause == 1)
            Notify("CAM-C", 1);
    };
    RunBatch();
    EXPECT_EQ(list->Status(2), "已发送升级命令,等待升级");
    EXPECT_EQ(batch->failed(), 0);
    EXPECT_EQ(batch->pending().size(), 3u);
    Notify("CAM-C", 0);  // after its request: counted
    EXPECT_EQ(list->Status(2), "升级成功");
    EXPECT_EQ(batch->succeeded(), 1);
}

struct StatusCase {
    std::string body;
    std::string text;
    int succeeded;
    int failed;
};

class NotificationStatus : public BatchTest, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(NotificationStatus, SetsTheCellAndTheCounter)
{
    ThreeDevices();
    RunBatch();
    batch->OnDatagram(NotificationHeader(), GetParam().body);
    EXPECT_EQ(list->Status(1), GetParam().text);
    EXPECT_EQ(batch->succeeded(), GetParam().succeeded);
    EXPECT_EQ(batch->failed(), GetParam().failed);
    EXPECT_EQ(batch->pending().size(), 2u);
    EXPECT_EQ(Summary(), UpgradeBatch::SummaryText(3, 1, GetParam().succeeded, GetParam().failed));
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, NotificationStatus,
    ::testing::Values(StatusCase{Notification("CAM-B", 0), "升级成功", 1, 0},
                      StatusCase{Notification("CAM-B", 1), "升级失败", 0, 1},
                      StatusCase{Notification("CAM-B", 2), "下载或校验失败", 0, 1},
                      StatusCase{Notification("CAM-B", 7), "", 0, 1},
                      StatusCase{Notification("CAM-B", -1), "", 0, 1},
                      StatusCase{R"({"deviceId":"CAM-B"})", "升级成功", 1, 0},
                      StatusCase{R"({"deviceId":"CAM-B","status":"0"})", "", 0, 1},
                      StatusCase{R"({"status":0,"deviceId":"CAM-B","extra":[1]})", "升级成功", 1, 0}));

TEST_F(BatchTest, NumericAndChineseIdentifiersFindTheirJobs)
{
    AddDevice(1, "10.0.0.1", "42");
    // A record holds its identifier in code page 936; the notification is UTF-8.
    AddDevice(2, "10.0.0.2", lynx::platform::Utf8ToCp936("东门相机"));
    RunBatch();
    batch->OnDatagram(NotificationHeader(), R"({"deviceId":42,"status":0})");
    batch->OnDatagram(NotificationHeader(), R"({"deviceId":"东门相机","status":1})");
    EXPECT_EQ(list->Status(0), "升级成功");
    EXPECT_EQ(list->Status(1), "升级失败");
    EXPECT_TRUE(batch->pending().empty());
}

TEST_F(BatchTest, SecondNotificationOfADeviceIsIgnored)
{
    ThreeDevices();
    RunBatch();
    Notify("CAM-A", 0);
    Notify("CAM-A", 1);
    EXPECT_EQ(list->Status(0), "升级成功");
    EXPECT_EQ(batch->succeeded(), 1);
    EXPECT_EQ(batch->failed(), 0);
}

TEST_F(BatchTest, OneNotificationFinishesOnlyTheFirstOfTwoEqualIdentifiers)
{
    AddDevice(1, "10.0.0.1", "SAME");
    AddDevice(2, "10.0.0.2", "SAME");
    RunBatch();
    Notify("SAME", 2);
    EXPECT_EQ(list->Status(0), "下载或校验失败");
    EXPECT_EQ(list->Status(1), "已发送升级命令,等待升级");
    EXPECT_EQ(batch->pending().size(), 1u);
    Notify("SAME", 0);
    EXPECT_EQ(list->Status(1), "升级成功");
}

TEST_F(BatchTest, ANotificationCountsOnlyFromTheAddressItsJobWasAskedAt)
{
    // Identifiers are heard by anyone's search: a host that sends a camera's
    // identifier with a result decides nothing, and neither does the camera
    // itself from another address.
    ThreeDevices();
    RunBatch();
    // A stranger, the camera that will move there, and each camera for the other.
    for (const auto& [forA, forB] : {std::pair{"192.168.1.66", "192.168.1.66"}, std::pair{"192.168.1.203", "192.168.1.203"},
                                     std::pair{"192.168.1.12", "192.168.1.11"}}) {
        batch->OnDatagram(NotificationHeader(), Notification("CAM-A", 0), HostOrder(forA));
        batch->OnDatagram(NotificationHeader(), Notification("CAM-B", 1), HostOrder(forB));
    }
    EXPECT_EQ(batch->succeeded() + batch->failed(), 0);
    EXPECT_FALSE(batch->Settled());
    EXPECT_EQ(list->Status(0), "已发送升级命令,等待升级");
    batch->OnDatagram(NotificationHeader(), Notification("CAM-A", 1), HostOrder("192.168.1.11"));
    batch->OnDatagram(NotificationHeader(), Notification("CAM-B", 0), HostOrder("192.168.1.12"));
    EXPECT_EQ(list->Status(0), "升级失败");
    EXPECT_EQ(list->Status(1), "升级成功");
    EXPECT_EQ(Summary(), "总共:3    完成:2    成功:1    失败：1");
}

TEST_F(BatchTest, EqualIdentifiersAreToldApartByTheirAddresses)
{
    // Two cameras with one identifier: each one's report ends its own job,
    // whatever order they come in.
    AddDevice(1, "10.0.0.1", "SAME");
    AddDevice(2, "10.0.0.2", "SAME");
    RunBatch();
    batch->OnDatagram(NotificationHeader(), Notification("SAME", 2), HostOrder("10.0.0.2"));
    EXPECT_EQ(list->Status(0), "已发送升级命令,等待升级");
    EXPECT_EQ(list->Status(1), "下载或校验失败");
    batch->OnDatagram(NotificationHeader(), Notification("SAME", 0), HostOrder("10.0.0.1"));
    EXPECT_EQ(list->Status(0), "升级成功");
    EXPECT_TRUE(batch->pending().empty());
}

TEST_F(BatchTest, LongIdentifierIsComparedOnItsFirst15Characters)
{
    AddDevice(1, "10.0.0.1", "ABCDEFGHIJKLMNO");
    AddDevice(2, "10.0.0.2", "ABCDEFGHIJKLMN");
    RunBatch();
    Notify("ABCDEFGHIJKLMNOPQRS", 0);
    EXPECT_EQ(list->Status(0), "升级成功");
    Notify("ABCDEFGHIJKLMNX", 0);  // differs within the 15: no job
    EXPECT_EQ(batch->succeeded(), 1);
}

TEST_F(BatchTest, NotificationOfADeviceWithoutJobIsIgnored)
{
    ThreeDevices();
    RunBatch();
    Notify("CAM-Z", 0);
    batch->OnDatagram(NotificationHeader(), R"({"status":0})");  // no identifier: empty text
    EXPECT_EQ(batch->succeeded(), 0);
    EXPECT_EQ(batch->pending().size(), 3u);
}

} // namespace

// ---- A success counts only after the camera's own download ----

// What comes for a camera whose success notice was not believed, and what
// its job ends as.
struct AfterDisbelief {
    const char* what;
    bool downloadsFirst;  // the server sees the camera take the whole file before it reports
    int status;           // what it reports then
    const char* shown;
    int succeeded;
    int failed;
    bool stillOpen;  // the job still waits for its camera
};

void PrintTo(const AfterDisbelief& after, std::ostream* out)
{
    *out << after.what;
}

class UnprovenSuccess : public BatchTest, public ::testing::WithParamInterface<AfterDisbelief> {
protected:
    UnprovenSuccess()
    {
        batch->SetDownloadWitness([this](const std::string& ip) { return downloaded.count(ip) > 0; });
    }
    void NotifyFrom(const std::string& deviceId, int status, const std::string& ip)
    {
        batch->OnDatagram(NotificationHeader(), Notification(deviceId, status), HostOrder(ip.c_str()));
    }
    // On the batch's clock, which the paced sends have moved on.
    UpgradeBatch::TimePoint AfterTheGrace() const { return now + UpgradeBatch::kProofGrace + std::chrono::milliseconds(1); }
    std::set<std::string> downloaded;
};

TEST_P(UnprovenSuccess, IsHeldForItsDownloadThenShownAsNotBelievedUntilTheCameraProvesOtherwise)
{
    ThreeDevices();
    RunBatch();
    // The first camera took the file and reports: believed at once.
    downloaded.insert("192.168.1.11");
    NotifyFrom("CAM-A", 0, "192.168.1.11");
    EXPECT_EQ(list->Status(0), "升级成功");

    // The second one's address never downloaded: its notice waits, unshown,
    // for the grace the server's account may lag by, and is then not believed.
    NotifyFrom("CAM-B", 0, "192.168.1.12");
    EXPECT_EQ(list->Status(1), "已发送升级命令,等待升级");
    EXPECT_TRUE(batch->Holding());
    EXPECT_GT(list->reviewsAsked, 0);
    batch->Review();
    EXPECT_EQ(list->Status(1), "已发送升级命令,等待升级");
    batch->Review(AfterTheGrace());
    EXPECT_FALSE(batch->Holding());
    EXPECT_EQ(list->Status(1), "未下载固件，不予采信");
    EXPECT_EQ(Summary(), "总共:3    完成:2    成功:1    失败：1");
    EXPECT_EQ(batch->InFlight(), 2) << "the camera may still be downloading";
    // Said once: a flood of such notices changes nothing more.
    for (int i = 0; i < 50; ++i)
        NotifyFrom("CAM-B", 0, "192.168.1.12");
    batch->Review(AfterTheGrace());
    EXPECT_EQ(batch->failed(), 1);

    // Then the camera itself.
    if (GetParam().downloadsFirst)
        downloaded.insert("192.168.1.12");
    NotifyFrom("CAM-B", GetParam().status, "192.168.1.12");
    batch->Review(AfterTheGrace());
    EXPECT_EQ(list->Status(1), GetParam().shown);
    EXPECT_EQ(batch->succeeded(), 1 + GetParam().succeeded);
    EXPECT_EQ(batch->failed(), GetParam().failed);
    EXPECT_EQ(batch->pending().size(), GetParam().stillOpen ? 2u : 1u);
    EXPECT_FALSE(batch->Settled());
}

INSTANTIATE_TEST_SUITE_P(
    Afterwards, UnprovenSuccess,
    ::testing::Values(AfterDisbelief{"DownloadsAndSucceeds", true, 0, "升级成功", 1, 0, false},
                      AfterDisbelief{"DownloadsAndFailsToInstall", true, 1, "升级失败", 0, 1, false},
                      AfterDisbelief{"ReportsItsDownloadFailed", false, 2, "下载或校验失败", 0, 1, false},
                      AfterDisbelief{"ClaimsSuccessAgainWithoutADownload", false, 0, "未下载固件，不予采信", 0, 1, true}),
    [](const ::testing::TestParamInfo<AfterDisbelief>& info) { return std::string(info.param.what); });

TEST_F(UnprovenSuccess, ANoticeThatOvertakesTheAccountOfItsDownloadSucceedsOnceItIsCounted)
{
    ThreeDevices();
    RunBatch();
    NotifyFrom("CAM-A", 0, "192.168.1.11");
    NotifyFrom("CAM-B", 0, "192.168.1.12");
    NotifyFrom("CAM-C", 0, "192.168.1.13");
    EXPECT_EQ(batch->succeeded(), 0);
    downloaded = {"192.168.1.11", "192.168.1.12", "192.168.1.13"};
    batch->Review();
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(list->Status(row), "升级成功");
    EXPECT_EQ(Summary(), "总共:3    完成:3    成功:3    失败：0");
    EXPECT_EQ(list->announcements, 1);
    EXPECT_FALSE(batch->Holding());
}

TEST_F(UnprovenSuccess, ARefusalThenAnUnbelievedSuccessCountsOneFailure)
{
    ThreeDevices();
    RunBatch();
    batch->OnDatagram(Reply(Tag(0), 0), "", HostOrder("192.168.1.11"));
    EXPECT_EQ(batch->failed(), 1);
    NotifyFrom("CAM-A", 0, "192.168.1.11");
    batch->Review(AfterTheGrace());
    EXPECT_EQ(list->Status(0), "未下载固件，不予采信");
    EXPECT_EQ(batch->failed(), 1);
    downloaded.insert("192.168.1.11");
    NotifyFrom("CAM-A", 0, "192.168.1.11");
    EXPECT_EQ(batch->failed(), 0);
    EXPECT_EQ(batch->succeeded(), 1);
}
