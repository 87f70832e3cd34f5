// The four fields of an IP address control as plain data: each field is blank
// or holds a number from 0 to 255. Shared by the widget and the command line,
// so that text typed on either side is read the same way.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace lynx::addressing {

using Octets = std::array<uint8_t, 4>;

struct IpFields {
    Octets octets{};                 // a blank field reads as 0
    std::array<bool, 4> present{};   // which fields are filled

    int filled() const;
    bool operator==(const IpFields&) const = default;
};

// The fields that dotted text gives when it is set into the control: up to
// four '.'-separated parts, each of one to three decimal digits with a value
// up to 255; any other part leaves its field blank, parts beyond the fourth are
// ignored.
IpFields ParseIpFields(std::string_view text);

// The control's window text: the four values joined by '.', blank fields as 0.
std::string IpFieldsText(const IpFields& fields);

IpFields FieldsOf(const Octets& octets);

// "%u.%u.%u.%u": plain decimal, no leading zeros.
std::string FormatOctets(const Octets& octets);

} // namespace lynx::addressing
