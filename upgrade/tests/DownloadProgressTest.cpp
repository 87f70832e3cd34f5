// Each camera's download as a batch follows it: the file server's account
// (scripted here) turned into each job's bytes and percentage, and the stall
// that gives a job up, on a clock the test moves.
#include "upgrade/UpgradeBatch.h"

#include <arpa/inet.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

using lynx::upgrade::BatchDevice;
using lynx::upgrade::DownloadProgress;
using lynx::upgrade::UgState;
using lynx::upgrade::UpgradeBatch;
using lynx::upgrade::UpgradeSendHooks;
using ::testing::ElementsAre;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

// What each device shows: its state, and its download as last told.
class Shown : public lynx::upgrade::UpgradeView {
public:
    std::map<int, UgState> states;
    std::map<int, std::vector<int>> percents;  // every percentage told, by device
    std::map<int, DownloadProgress> downloads;
    int announcements = 0;
    std::string summary;

    void SetStatus(int device, UgState state) override { states[device] = state; }
    void SetDownload(int device, UgState state, const DownloadProgress& download) override
    {
        EXPECT_EQ(states[device], state) << "the download follows the state it is shown with";
        downloads[device] = download;
        std::vector<int>& told = percents[device];
        if (told.empty() || told.back() != download.Percent())
            told.push_back(download.Percent());
    }
    void SetSummaryText(const std::string& text) override { summary = text; }
    void SetUpgrading(bool) override {}
    void AnnounceComplete() override { ++announcements; }
};

uint32_t HostOrder(const char* ip)
{
    in_addr address{};
    ::inet_pton(AF_INET, ip, &address);
    return ntohl(address.s_addr);
}

constexpr uint64_t kSize = 1000;

class Downloads : public ::testing::Test {
protected:
    Downloads()
    {
        auto view = std::make_unique<Shown>();
        shown = view.get();
        batch = std::make_unique<UpgradeBatch>(std::move(view));
        batch->SetDownloadAccount([this](const std::string& ip) {
            const auto it = accounts.find(ip);
            return it == accounts.end() ? DownloadProgress{} : it->second;
        });
        batch->SetDownloadWitness([this](const std::string& ip) { return accounts[ip].complete; });
        batch->SetClock([this] { return now; });
    }

    // Three cameras, every request sent as it falls due; with a parallel
    // batch, those that find a place.
    void Send(int places = 0)
    {
        batch->SetParallel(places);
        batch->Prepare({{1, "10.0.0.1", "CAM-1"}, {2, "10.0.0.2", "CAM-2"}, {3, "10.0.0.3", "CAM-3"}});
        UpgradeSendHooks hooks;
        hooks.publishFile = [](const std::string&, const std::string&) {};
        hooks.httpPort = [] { return 9000; };
        hooks.startClient = [](const std::string&, uint16_t& handle) {
            handle = 1;
            return true;
        };
        hooks.clientFailed = [] {};
        hooks.localAddress = [](const std::string&) { return std::string("10.0.0.100"); };
        hooks.sendUpdate = [](const std::string&, const std::string&, uint16_t, const std::string&, uint32_t) {
            return true;
        };
        batch->Confirm("/fw/cam.zip", hooks);
        while (const auto due = batch->NextSendAt()) {
            now = std::max(now, *due);
            batch->SendDue(now);
        }
    }
    // The server has written bytes of the file to the camera in all, the
    // latest transfer latest of them.
    void Served(const std::string& ip, uint64_t served, uint64_t latest, bool complete = false)
    {
        DownloadProgress& account = accounts[ip];
        account.size = kSize;
        account.served = served;
        account.bytes = latest;
        account.complete = complete;
        if (complete)
            account.took = 1500ms;
    }
    // The engine's tick: the downloads followed, then what is due sent.
    std::vector<std::string> Tick(std::chrono::milliseconds later)
    {
        now += later;
        std::vector<std::string> cut = batch->TrackDownloads(now, kStall);
        batch->SendDue(now);
        return cut;
    }
    void Notify(const char* ip, const std::string& deviceId, int status)
    {
        PacketHeader header{};
        header.command = 0x712;
        header.bodyMarker = '$';
        batch->OnDatagram(header, R"({"deviceId":")" + deviceId + R"(","status":)" + std::to_string(status) + "}",
                          HostOrder(ip));
    }
    const UgInfo& Job(int device) const { return *batch->jobs().at(static_cast<size_t>(device - 1)); }

    static constexpr std::chrono::milliseconds kStall = 60s;
    Shown* shown = nullptr;
    std::unique_ptr<UpgradeBatch> batch;
    std::map<std::string, DownloadProgress> accounts;
    Clock::time_point now = Clock::now();
};

} // namespace

TEST(DownloadPercent, ComesFromTheFilesSizeAndReaches100OnlyWhenTheCameraHasTheWholeFile)
{
    const auto percent = [](uint64_t bytes, uint64_t size, bool complete = false) {
        DownloadProgress download;
        download.bytes = bytes;
        download.size = size;
        download.complete = complete;
        return download.Percent();
    };
    EXPECT_EQ(percent(0, 0), 0);             // no transfer yet
    EXPECT_EQ(percent(0, kSize), 0);
    EXPECT_EQ(percent(499, kSize), 49);
    EXPECT_EQ(percent(500, kSize), 50);
    EXPECT_EQ(percent(kSize, kSize), 99);    // written, not yet taken
    EXPECT_EQ(percent(kSize + 7, kSize), 99);  // a file grown on disk meanwhile
    EXPECT_EQ(percent(kSize, kSize, true), 100);
    EXPECT_EQ(percent(0, 0, true), 100);     // an empty file, taken
    // A file of many gigabytes does not overflow.
    EXPECT_EQ(percent(3ull << 40, 4ull << 40), 75);
}

TEST_F(Downloads, EachJobTakesItsCamerasBytesAndPercentageAsTheyMove)
{
    Send();
    // Nothing is known before a transfer begins: no percentage is told.
    Tick(100ms);
    EXPECT_THAT(shown->percents[1], ElementsAre(0));
    for (uint64_t bytes : {0u, 100u, 100u, 420u, 1000u}) {
        Served("10.0.0.1", bytes, bytes);
        Tick(100ms);
    }
    Served("10.0.0.1", kSize, kSize, true);
    Tick(100ms);
    EXPECT_THAT(shown->percents[1], ElementsAre(0, 10, 42, 99, 100));
    EXPECT_EQ(Job(1).download.served, kSize);
    EXPECT_TRUE(Job(1).download.complete);
    EXPECT_EQ(Job(1).download.took, 1500ms);
    EXPECT_EQ(shown->states[1], UgState::Sent) << "the download moves no state";
    // The other cameras have not begun.
    EXPECT_FALSE(Job(2).download.Started());

    // The camera's success takes its download as it stands then.
    Served("10.0.0.2", kSize, kSize, true);
    Notify("10.0.0.2", "CAM-2", 0);
    EXPECT_EQ(shown->states[2], UgState::Succeeded);
    EXPECT_EQ(shown->downloads[2].Percent(), 100);
}

TEST_F(Downloads, ACameraThatStopsReadingIsGivenUpOnceAndCutOff)
{
    Send();
    Served("10.0.0.1", 300, 300);
    Served("10.0.0.2", 300, 300);
    EXPECT_TRUE(Tick(1s).empty());
    // Camera 2 keeps reading, slowly; camera 1 takes nothing more.
    for (int second = 1; second < 60; ++second) {
        Served("10.0.0.2", 300 + static_cast<uint64_t>(second), 300 + static_cast<uint64_t>(second));
        EXPECT_TRUE(Tick(1s).empty()) << second;
    }
    EXPECT_THAT(Tick(1s), ElementsAre("10.0.0.1"));
    EXPECT_EQ(shown->states[1], UgState::Stalled);
    EXPECT_EQ(shown->states[2], UgState::Sent);
    EXPECT_EQ(batch->failed(), 1);
    EXPECT_EQ(shown->summary, "总共:3    完成:1    成功:0    失败：1");

    // It comes back, reads a little and stalls again: neither cut off nor
    // counted again. Its bar stays the failure's. (Camera 2 has its file.)
    Served("10.0.0.2", kSize, kSize, true);
    Served("10.0.0.1", 500, 200);
    EXPECT_TRUE(Tick(1s).empty());
    EXPECT_TRUE(Tick(kStall * 2).empty());
    EXPECT_EQ(batch->failed(), 1);
    EXPECT_EQ(shown->states[1], UgState::Stalled);

    // Its report of a failed download follows from the stall: the stall stays
    // its reason, and the job counts once.
    Notify("10.0.0.1", "CAM-1", 2);
    EXPECT_EQ(shown->states[1], UgState::Stalled);
    EXPECT_EQ(batch->failed(), 1);
    EXPECT_EQ(batch->pending().size(), 2u);
}

TEST_F(Downloads, AStalledCameraSucceedsOnlyByReallyTakingTheFileAndSayingSo)
{
    Send();
    Served("10.0.0.1", 300, 300);
    Tick(1s);
    ASSERT_THAT(Tick(kStall), ElementsAre("10.0.0.1"));

    // A success notice without the file is not believed, and counts nothing.
    Notify("10.0.0.1", "CAM-1", 0);
    batch->Review(now + UpgradeBatch::kProofGrace + 1ms);
    EXPECT_EQ(shown->states[1], UgState::Stalled);
    EXPECT_EQ(batch->succeeded(), 0);
    EXPECT_EQ(batch->failed(), 1);

    // Then it downloads the whole file and reports: a success, counted once.
    Served("10.0.0.1", 1300, kSize, true);
    Tick(1s);
    Notify("10.0.0.1", "CAM-1", 0);
    EXPECT_EQ(shown->states[1], UgState::Succeeded);
    EXPECT_EQ(batch->succeeded(), 1);
    EXPECT_EQ(batch->failed(), 0);
}

TEST_F(Downloads, AFailureReportedAfterTheWholeFileIsTheCamerasOwnReason)
{
    Send();
    Served("10.0.0.1", 300, 300);
    Tick(1s);
    ASSERT_THAT(Tick(kStall), ElementsAre("10.0.0.1"));
    Served("10.0.0.1", 1300, kSize, true);
    Notify("10.0.0.1", "CAM-1", 1);
    EXPECT_EQ(shown->states[1], UgState::Failed);
    EXPECT_EQ(batch->failed(), 1);
}

TEST_F(Downloads, OnlyADownloadBegunAndUnfinishedCanStall)
{
    Send();
    // Camera 1 never connects (its silence is another matter); camera 2 has
    // taken the whole file and installs; camera 3's success notice waits for
    // the server to count its last byte.
    Served("10.0.0.2", kSize, kSize, true);
    Served("10.0.0.3", 900, 900);
    Tick(1s);
    Notify("10.0.0.3", "CAM-3", 0);
    EXPECT_TRUE(batch->Holding());
    EXPECT_TRUE(Tick(kStall * 3).empty());
    EXPECT_EQ(batch->failed(), 0);
    EXPECT_EQ(shown->states[1], UgState::Sent);
    EXPECT_EQ(shown->states[2], UgState::Sent);
}

TEST_F(Downloads, AStalledJobFreesItsPlaceAndEndsItsBatch)
{
    // Two places for three cameras: the third request waits until the first
    // camera's download is given up.
    Send(2);
    EXPECT_EQ(shown->states[3], UgState::Waiting);
    Served("10.0.0.1", 10, 10);
    Tick(1s);
    EXPECT_EQ(shown->states[3], UgState::Waiting);
    Tick(kStall);
    EXPECT_EQ(shown->states[1], UgState::Stalled);
    EXPECT_EQ(shown->states[3], UgState::Sent);
    EXPECT_EQ(batch->InFlight(), 2);

    Served("10.0.0.2", kSize, kSize, true);
    Served("10.0.0.3", kSize, kSize, true);
    Notify("10.0.0.2", "CAM-2", 0);
    EXPECT_FALSE(batch->Settled());
    EXPECT_EQ(shown->announcements, 0);
    Notify("10.0.0.3", "CAM-3", 0);
    // The stalled camera never reported, but its job has ended.
    EXPECT_TRUE(batch->Settled());
    EXPECT_EQ(shown->announcements, 1);
    EXPECT_EQ(shown->summary, "总共:3    完成:3    成功:2    失败：1");
}

TEST_F(Downloads, ANewBatchFollowsOnlyItsOwnDownloads)
{
    Send();
    Served("10.0.0.1", 300, 300);
    Tick(1s);
    // The next batch of the same cameras: the server's account starts anew.
    accounts.clear();
    Send();
    EXPECT_FALSE(Job(1).download.Started());
    EXPECT_TRUE(Tick(kStall * 2).empty());
    EXPECT_EQ(batch->failed(), 0);
}
