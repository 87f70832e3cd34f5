#include "addressing/AddressRules.h"

#include "addressing/Messages.h"
#include "platform/Numbers.h"

#include <arpa/inet.h>

namespace lynx::addressing {

AddressClass SingleChangeClass(uint8_t firstOctet)
{
    if (firstOctet >= 1 && firstOctet <= 126)
        return AddressClass::A;
    if (firstOctet >= 128 && firstOctet <= 191)
        return AddressClass::B;
    return AddressClass::C;
}

AddressClass PlanClass(uint8_t firstOctet)
{
    if (firstOctet >= 1 && firstOctet <= 127)
        return AddressClass::A;
    if (firstOctet >= 128 && firstOctet <= 191)
        return AddressClass::B;
    return AddressClass::C;
}

int FixedOctets(AddressClass addressClass)
{
    switch (addressClass) {
    case AddressClass::A:
        return 1;
    case AddressClass::B:
        return 2;
    case AddressClass::C:
        break;
    }
    return 3;
}

const char* ProposedMask(AddressClass addressClass)
{
    switch (addressClass) {
    case AddressClass::A:
        return "255.0.0.0";
    case AddressClass::B:
        return "255.255.0.0";
    case AddressClass::C:
        break;
    }
    return "255.255.255.0";
}

namespace {

// The mask's class octets are all 255; the octets after them are not examined,
// so a mask need not be contiguous.
bool MaskFitsClass(AddressClass addressClass, const Octets& mask)
{
    for (int i = 0; i < FixedOctets(addressClass); ++i)
        if (mask[i] != 255)
            return false;
    return true;
}

} // namespace

std::optional<std::string> ValidateSingleChange(const IpFields& ip, const IpFields& mask, const IpFields& gateway)
{
    if (ip.filled() < 4)
        return msg::kIpError;
    if (mask.filled() < 4)
        return msg::kMaskError;
    AddressClass addressClass = SingleChangeClass(ip.octets[0]);
    if (!MaskFitsClass(addressClass, mask.octets))
        return msg::kMaskError;
    if (gateway.filled() < 4)
        return msg::kGatewayError;
    for (int i = 0; i < FixedOctets(addressClass); ++i)
        if (gateway.octets[i] != ip.octets[i])
            return msg::kGatewayError;
    return std::nullopt;
}

int32_t PositionDifference(AddressClass addressClass, const Octets& x, const Octets& y)
{
    int32_t d2 = int32_t{x[1]} - int32_t{y[1]};
    int32_t d3 = int32_t{x[2]} - int32_t{y[2]};
    int32_t d4 = int32_t{x[3]} - int32_t{y[3]};
    switch (addressClass) {
    case AddressClass::A:
        return d2 * 64770 + d3 * 254 + d4;
    case AddressClass::B:
        return d3 * 254 + d4;
    case AddressClass::C:
        break;
    }
    return d4;
}

int32_t HostCount(AddressClass addressClass, const Octets& start, const Octets& end, const Octets& gateway)
{
    int32_t span = PositionDifference(addressClass, end, start);
    return PositionDifference(addressClass, start, gateway) > 0 ? span + 1 : span;
}

int LastOctetOfText(std::string_view text)
{
    std::size_t dot = text.rfind('.');
    std::string_view tail = dot == std::string_view::npos ? text : text.substr(dot + 1);
    return static_cast<int>(platform::LeadingDigits(tail, 3));
}

uint32_t InetAddr(const std::string& text)
{
    return ntohl(::inet_addr(text.c_str()));
}

namespace {

uint32_t ToNumber(const Octets& octets)
{
    return (uint32_t{octets[0]} << 24) | (uint32_t{octets[1]} << 16) | (uint32_t{octets[2]} << 8) | octets[3];
}

} // namespace

std::optional<std::string> ValidatePlan(const PlanEntries& entries, PlanValues& values)
{
    values.netMask = IpFieldsText(entries.mask);
    values.gateWay = IpFieldsText(entries.gateway);
    const std::string startText = IpFieldsText(entries.start);
    const std::string endText = IpFieldsText(entries.end);

    if (LastOctetOfText(startText) > 254)
        return msg::kStartAbove254;
    if (entries.mask.filled() < 4)
        return msg::kMaskError;
    values.startIp = entries.start.octets;
    if (entries.start.filled() < 4)
        return msg::kStartError;
    values.endIp = entries.end.octets;
    if (entries.end.filled() < 4)
        return msg::kEndError;
    values.gateWayIp = entries.gateway.octets;
    if (entries.gateway.filled() < 4)
        return msg::kPlanGatewayError;

    AddressClass addressClass = PlanClass(values.startIp[0]);
    if (!MaskFitsClass(addressClass, entries.mask.octets))
        return msg::kPlanMaskClassError;
    if (ToNumber(values.endIp) < ToNumber(values.startIp))
        return msg::kEndBelowStart;

    values.ipCount = HostCount(addressClass, values.startIp, values.endIp, values.gateWayIp);

    uint32_t mask = InetAddr(values.netMask);
    uint32_t gatewayNet = InetAddr(values.gateWay) & mask;
    if ((InetAddr(startText) & mask) != gatewayNet)
        return msg::kStartSubnetError;
    if ((InetAddr(endText) & mask) != gatewayNet)
        return msg::kEndSubnetError;
    return std::nullopt;
}

std::string NetworkPrefix(std::string_view dotted)
{
    std::size_t dot = dotted.rfind('.');
    if (dot == std::string_view::npos)
        return std::string();
    return std::string(dotted.substr(0, dot + 1));
}

PlanProposal ProposePlan(std::string_view prefix)
{
    std::string p(prefix);
    // The first octet as atoi reads it; a prefix without digits counts as 0.
    const auto first = platform::LeadingDigits(std::string_view(p), 3, 255);
    return PlanProposal{p + "1", p + "2", p + "254", ProposedMask(PlanClass(static_cast<uint8_t>(first)))};
}

std::string NetworkEntry(std::string_view dotted)
{
    return NetworkPrefix(dotted) + "0";
}

} // namespace lynx::addressing
