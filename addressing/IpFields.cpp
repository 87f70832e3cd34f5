#include "addressing/IpFields.h"

namespace lynx::addressing {

int IpFields::filled() const
{
    int count = 0;
    for (bool p : present)
        count += p ? 1 : 0;
    return count;
}

IpFields ParseIpFields(std::string_view text)
{
    IpFields fields;
    std::size_t pos = 0;
    for (int i = 0; i < 4 && pos <= text.size(); ++i) {
        std::size_t dot = text.find('.', pos);
        std::string_view part = text.substr(pos, dot == std::string_view::npos ? std::string_view::npos : dot - pos);
        bool digits = !part.empty() && part.size() <= 3;
        unsigned value = 0;
        for (char c : part) {
            if (c < '0' || c > '9') {
                digits = false;
                break;
            }
            value = value * 10 + static_cast<unsigned>(c - '0');
        }
        if (digits && value <= 255) {
            fields.octets[i] = static_cast<uint8_t>(value);
            fields.present[i] = true;
        }
        if (dot == std::string_view::npos)
            break;
        pos = dot + 1;
    }
    return fields;
}

std::string IpFieldsText(const IpFields& fields)
{
    return FormatOctets(fields.octets);
}

IpFields FieldsOf(const Octets& octets)
{
    IpFields fields;
    fields.octets = octets;
    fields.present = {true, true, true, true};
    return fields;
}

std::string FormatOctets(const Octets& octets)
{
    std::string text;
    for (int i = 0; i < 4; ++i) {
        if (i > 0)
            text += '.';
        text += std::to_string(static_cast<unsigned>(octets[i]));
    }
    return text;
}

} // namespace lynx::addressing
