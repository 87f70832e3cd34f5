// A datagram as the transport receives it: split into header and body, handed
// over as the receive callbacks hand it (the first byte picks the port it came
// to), and applied by the owner's thread to the device table.
#include "FuzzInput.h"
#include "protocol/DiscoverySession.h"

#include <cstdlib>

using namespace lynx::protocol;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    const uint16_t port = input.Byte() & 1 ? kReportPort : kUpdatePort;
    const std::string datagram = input.Rest();
    PacketHeader header;
    const char* body = nullptr;
    uint32_t bodyLength = 0;
    if (tarn_ext_DecodeDatagram(datagram.data(), datagram.size(), &header, &body, &bodyLength) != 1) {
        if (datagram.size() >= TARN_HEADER_SIZE && datagram.size() <= 65536)
            std::abort();  // a datagram with room for a header is never dropped here
        return 0;
    }
    if (bodyLength != datagram.size() - TARN_HEADER_SIZE)
        std::abort();
    DiscoverySession session;
    session.Deliver(port, header, body, bodyLength);
    size_t others = 0;
    session.CollectUntil(DiscoverySession::Clock::now(), DuplicateFilter{}, [&](Datagram&) { ++others; });
    if (session.Table().Count() > 1 || others > 1)
        std::abort();
    return 0;
}
