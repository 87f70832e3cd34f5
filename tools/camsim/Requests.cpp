#include "Requests.h"

#include "CameraConfig.h"
#include "Wire.h"

#include <json/reader.h>
#include <json/value.h>

#include <memory>

namespace camsim {

namespace {

// A JSON object from a request body, or null when it is not one. The reader
// throws for some texts (nesting beyond its stack limit): those are not one.
Json::Value ParseObject(const std::string& body)
{
    try {
        Json::CharReaderBuilder builder;
        std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        Json::Value root;
        std::string errors;
        if (reader->parse(body.data(), body.data() + body.size(), &root, &errors) && root.isObject())
            return root;
    } catch (const std::exception&) {
    }
    return Json::Value();
}

std::string TextOf(const Json::Value& o, const char* key)
{
    const Json::Value& v = o[key];
    return v.isString() ? v.asString() : std::string();
}

} // namespace

RequestKind KindOf(Channel channel, const PacketHeader& header)
{
    if (header.magic != TARN_MAGIC || header.bodyMarker != kMarkerRequest)
        return RequestKind::NotARequest;
    if (channel == Channel::Report && header.command == kCmdSearch)
        return RequestKind::Search;
    if (channel == Channel::Report && header.command == kCmdChangeIp)
        return RequestKind::ChangeIp;
    if (channel == Channel::Update && header.command == kCmdUpdate)
        return RequestKind::Update;
    return RequestKind::UnknownCommand;
}

std::optional<ChangeIpRequest> ParseChangeIpRequest(const std::string& body)
{
    const Json::Value request = ParseObject(body);
    ChangeIpRequest change{TextOf(request, "mac"), TextOf(request, "deviceIp"), TextOf(request, "netMask"),
                           TextOf(request, "gatewayIp"), 0};
    const auto prefix = MaskPrefix(change.mask);
    if (change.mac.empty() || !ParseIpv4(change.ip) || !prefix || !ParseIpv4(change.gateway))
        return std::nullopt;
    change.prefix = *prefix;
    return change;
}

UpdateRequest ParseUpdateRequest(const std::string& body)
{
    const Json::Value request = ParseObject(body);
    return {TextOf(request, "deviceId"), TextOf(request, "filePath")};
}

} // namespace camsim
