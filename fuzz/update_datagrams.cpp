// Upgrade replies (0x711) and status notifications (0x712), as anyone may
// send them to UDP 8025, through a batch of three jobs whose requests went
// out: the input is a run of datagrams, each a 20-byte header, a length byte
// (times four) and that many body bytes.
#include "FuzzInput.h"
#include "upgrade/UpgradeBatch.h"

#include <cstdlib>
#include <vector>

using namespace lynx::upgrade;

namespace {

class ScriptedList : public UpgradeListView {
public:
    int RowCount() const override { return 4; }
    bool IsChecked(int row) const override { return row != 2; }
    std::string CellText(int row, int column) const override
    {
        if (column == UpgradeBatch::kNumberColumn)
            return std::to_string(row + 1);
        return "192.168.1." + std::to_string(101 + row);
    }
    void SetStatusText(int row, const std::string&) override
    {
        if (row < 0 || row >= 4)
            std::abort();  // a status for a row that is not there
    }
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
    DeviceLookup devices;
    devices.deviceIdOfNumber = [](int number) -> std::optional<std::string> {
        const char* ids[] = {"KV20180001", "KV20180002", "相机", "42"};
        if (number < 1 || number > 4)
            return std::nullopt;
        return std::string(ids[number - 1]);
    };
    batch.Prepare(devices);
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
    hooks.pause = [](int) {};
    batch.Confirm("/fw/cam.zip", hooks);

    FuzzInput input(data, size);
    while (input.Left() >= sizeof(PacketHeader)) {
        const PacketHeader header = input.Raw<PacketHeader>();
        const std::string body = input.Bytes(static_cast<size_t>(input.Byte()) * 4);
        batch.OnDatagram(header, body);
        // A job counts once for its reply and once for its notification at most.
        if (batch.succeeded() + batch.failed() > 2 * batch.total() || view.announced > 1)
            std::abort();
    }
    return 0;
}
