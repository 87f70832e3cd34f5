// Upgrade replies (0x711) and status notifications (0x712), as anyone may
// send them to UDP 8025, through a batch of three jobs whose requests went
// out: the input is a run of datagrams, each a sender byte (0 not known, 1 to
// 4 the devices' cameras, else another host), a 20-byte header, a length byte
// (times four) and that many body bytes. After some of them the successes
// waiting for their downloads are reviewed as if their grace had passed.
#include "FuzzInput.h"
#include "upgrade/UpgradeBatch.h"

#include <chrono>
#include <cstdlib>
#include <map>
#include <vector>

using namespace lynx::upgrade;

namespace {

class ScriptedList : public UpgradeView {
public:
    void SetStatus(int device, UgState state) override
    {
        if (device != 1 && device != 2 && device != 4)
            std::abort();  // a status for a device outside the batch
        status[device] = state;
    }
    // Devices whose status now reads as one of the states.
    int RowsShowing(std::initializer_list<UgState> states) const
    {
        int n = 0;
        for (const auto& [row, shown] : status)
            for (const UgState state : states)
                n += shown == state;
        return n;
    }
    std::map<int, UgState> status;
    void SetSummaryText(const std::string&) override {}
    void SetUpgrading(bool) override {}
    void AnnounceComplete() override { ++announced; }
    int announced = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto list = std::make_unique<ScriptedList>();
    ScriptedList& view = *list;
    UpgradeBatch batch(std::move(list));
    // Devices 1, 2 and 4 of four (192.168.1.101 to .104).
    batch.Prepare({{1, "192.168.1.101", "KV20180001"}, {2, "192.168.1.102", "KV20180002"}, {4, "192.168.1.104", "42"}});
    UpgradeSendHooks hooks;
    hooks.publishFile = [](const std::string&, const std::string&) {};
    hooks.httpPort = [] { return 9000; };
    hooks.startClient = [](const std::string&, uint16_t& handle) {
        handle = 1;
        return true;
    };
    hooks.clientFailed = [] {};
    hooks.localAddress = [](const std::string&) { return std::string("192.168.1.100"); };
    hooks.sendUpdate = [](const std::string&, const std::string&, uint16_t, const std::string&, uint32_t) {
        return true;
    };
    batch.Confirm("/fw/cam.zip", hooks);
    // Every request out, each when it is due.
    while (const auto due = batch.NextSendAt())
        batch.SendDue(*due);
    // The first device's camera has downloaded the file, the others have not:
    // their successes wait, and are not believed once reviewed.
    batch.SetDownloadWitness([](const std::string& ip) { return ip == "192.168.1.101"; });
    const auto afterTheGrace = std::chrono::steady_clock::now() + UpgradeBatch::kProofGrace;

    FuzzInput input(data, size);
    while (input.Left() > sizeof(PacketHeader)) {
        const uint8_t sender = input.Byte();
        const uint32_t from = sender == 0 ? 0 : sender <= 4 ? 0xC0A80164u + sender : 0x0A090909u;
        const PacketHeader header = input.Raw<PacketHeader>();
        const std::string body = input.Bytes(static_cast<size_t>(input.Byte()) * 4);
        batch.OnDatagram(header, body, from);
        if (input.Left() % 2 == 0)
            batch.Review(afterTheGrace);
        // The counts tell what the devices show: a job counts once, whatever it sends.
        if (batch.succeeded() != view.RowsShowing({UgState::Succeeded}) ||
            batch.failed() != view.RowsShowing({UgState::Refused, UgState::Failed, UgState::DownloadFailed,
                                                UgState::Unproven, UgState::Cleared, UgState::Stalled}) ||
            view.announced > 1)
            std::abort();
    }
    return 0;
}
