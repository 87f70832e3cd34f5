// What a camera makes of a request, without a socket: the routing by port,
// command and marker, and the members of a changeIp and an update request.
#pragma once

#include "tarn.h"

#include <optional>
#include <string>

namespace camsim {

enum class Channel { Report, Update };

enum class RequestKind { Search, ChangeIp, Update, NotARequest, UnknownCommand };

// Which request a datagram is: only requests ('#', the magic) count, a search
// or a changeIp on the report port, an update on the update port.
RequestKind KindOf(Channel channel, const PacketHeader& header);

struct ChangeIpRequest {
    std::string mac, ip, mask, gateway;
    int prefix = 0;  // the mask's length
};
// A changeIp body, complete and valid (a MAC, an address, a contiguous mask
// and a gateway), or nothing.
std::optional<ChangeIpRequest> ParseChangeIpRequest(const std::string& body);

struct UpdateRequest {
    std::string deviceId, url;
};
// An update body's identifier and download address (empty when absent).
UpdateRequest ParseUpdateRequest(const std::string& body);

} // namespace camsim
