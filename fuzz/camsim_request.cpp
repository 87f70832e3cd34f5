// A request as the simulated cameras receive it: the first byte picks the
// port, then a 20-byte header and a body. Searches, address changes and
// update requests act on three cameras as the simulator's would.
#include "Camera.h"
#include "CameraConfig.h"
#include "FuzzInput.h"
#include "Requests.h"

#include <cstdlib>

using namespace camsim;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    const Channel channel = input.Byte() & 1 ? Channel::Update : Channel::Report;
    const PacketHeader header = input.Raw<PacketHeader>();
    const std::string body = input.Rest();
    std::vector<Camera> cameras;
    for (CameraConfig& config : GenerateCameras(3, "192.168.1.101", CameraBehaviour{}))
        cameras.emplace_back(std::move(config));
    switch (KindOf(channel, header)) {
    case RequestKind::Search:
        for (const Camera& camera : cameras)
            camera.ReportBody();
        break;
    case RequestKind::ChangeIp:
        if (const auto change = ParseChangeIpRequest(body)) {
            if (!ParseIpv4(change->ip) || change->prefix < 0 || change->prefix > 32)
                std::abort();
            for (Camera& camera : cameras)
                if (camera.MacMatches(change->mac)) {
                    camera.TakeAddress(change->ip, change->mask, change->gateway, Camera::Clock::now());
                    camera.ReportBody();
                }
        }
        break;
    case RequestKind::Update: {
        const UpdateRequest update = ParseUpdateRequest(body);
        for (const Camera& camera : cameras)
            camera.DeviceIdMatches(update.deviceId);
        break;
    }
    case RequestKind::NotARequest:
    case RequestKind::UnknownCommand:
        break;
    }
    return 0;
}
