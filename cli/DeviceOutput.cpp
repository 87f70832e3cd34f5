#include "cli/DeviceOutput.h"

#include "platform/NeighbourTable.h"
#include "platform/Translation.h"
#include "protocol/DeviceTable.h"
#include "protocol/JsonMessages.h"

#include <json/value.h>
#include <json/writer.h>

#include <algorithm>
#include <cstring>

namespace lynx::cli {

namespace {

struct Decoded {
    char32_t code;
    size_t length;  // 0: not a UTF-8 sequence
};

Decoded DecodeUtf8(std::string_view s, size_t i)
{
    auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char b = byte(i);
    size_t length = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > s.size())
        return {b, 0};
    char32_t code = length == 1 ? b : b & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return {b, 0};
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    return {code, length};
}

bool IsCombining(char32_t c)
{
    return (c >= 0x0300 && c <= 0x036F) || (c >= 0x1AB0 && c <= 0x1AFF) || (c >= 0x20D0 && c <= 0x20FF) ||
           (c >= 0xFE20 && c <= 0xFE2F) || c == 0x200B || c == 0x200D;
}

bool IsWide(char32_t c)
{
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) || (c >= 0x3041 && c <= 0x33FF) ||
           (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
           (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
           (c >= 0x1F900 && c <= 0x1F9FF) || (c >= 0x20000 && c <= 0x3FFFD);
}

std::array<std::string, protocol::kColumnCount> Cells(const DeviceRow& row)
{
    std::array<std::string, protocol::kColumnCount> cells;
    for (int c = 0; c < protocol::kColumnCount; ++c)
        cells[static_cast<size_t>(c)] = protocol::ColumnText(row.record, row.number, static_cast<protocol::Column>(c));
    // Listed, and marked: another host's word for the camera.
    if (protocol::IsHearsay(row.record, row.arrival))
        cells[static_cast<size_t>(protocol::Column::Status)] = platform::TrUtf8("hearsay");
    return cells;
}

} // namespace

const std::array<std::string, protocol::kColumnCount>& ColumnHeaders()
{
    static const std::array<std::string, protocol::kColumnCount> headers = [] {
        std::array<std::string, protocol::kColumnCount> titles;
        for (int c = 0; c < protocol::kColumnCount; ++c)
            titles[static_cast<size_t>(c)] = protocol::ColumnTitle(static_cast<protocol::Column>(c));
        return titles;
    }();
    return headers;
}

size_t DisplayWidth(std::string_view utf8)
{
    size_t width = 0;
    for (size_t i = 0; i < utf8.size();) {
        Decoded d = DecodeUtf8(utf8, i);
        if (d.length == 0) {
            ++width;
            ++i;
            continue;
        }
        i += d.length;
        if (IsCombining(d.code))
            continue;
        width += IsWide(d.code) ? 2 : 1;
    }
    return width;
}


std::string AlignedTable(const std::vector<std::vector<std::string>>& lines)
{
    std::vector<size_t> widths;
    for (const auto& cells : lines) {
        widths.resize(std::max(widths.size(), cells.size()));
        for (size_t c = 0; c < cells.size(); ++c)
            widths[c] = std::max(widths[c], DisplayWidth(cells[c]));
    }
    std::string out;
    for (const auto& cells : lines) {
        std::string line;
        for (size_t c = 0; c < cells.size(); ++c) {
            line += cells[c];
            if (c + 1 < cells.size())
                line += std::string(widths[c] - DisplayWidth(cells[c]) + 2, ' ');
        }
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        out += line + "\n";
    }
    return out;
}

std::string FormatTable(const std::vector<DeviceRow>& rows)
{
    std::vector<std::vector<std::string>> lines;
    lines.emplace_back(ColumnHeaders().begin(), ColumnHeaders().end());
    for (const DeviceRow& row : rows) {
        const auto cells = Cells(row);
        lines.emplace_back(cells.begin(), cells.end());
    }
    return AlignedTable(lines);
}

std::string FormatJson(const std::vector<DeviceRow>& rows)
{
    Json::Value array(Json::arrayValue);
    for (const DeviceRow& row : rows) {
        const DeviceRecord& r = row.record;
        Json::Value o(Json::objectValue);
        o["number"] = row.number;
        o["deviceId"] = protocol::FieldText(r.deviceId);
        o["name"] = protocol::FieldText(r.name);
        o["model"] = protocol::FieldText(r.model);
        o["manufacturer"] = protocol::FieldText(r.manufacturer);
        o["mac"] = protocol::FieldText(r.mac);
        o["protocolVersion"] = r.protocolVersion;
        o["company"] = protocol::FieldText(r.company);
        o["productType"] = r.productType;
        o["productDate"] = protocol::FieldText(r.productDate);
        o["sn"] = r.sn;
        o["hwFeature"] = r.hwFeature;
        o["softwareVersion"] = protocol::FieldText(r.softwareVersion);
        o["hardwareVersion"] = protocol::FieldText(r.hardwareVersion);
        o["consumerSn"] = r.consumerSn;
        o["deviceIp"] = protocol::FieldText(r.deviceIp);
        o["netMask"] = protocol::FieldText(r.netMask);
        o["gatewayIp"] = protocol::FieldText(r.gatewayIp);
        o["devicePort"] = r.devicePort;
        o["httpPort"] = r.httpPort;
        o["productSubType"] = r.productSubType;
        o["interface"] = row.arrival.interfaceName;
        o["localAddress"] = row.arrival.localAddress;
        o["hearsay"] = protocol::IsHearsay(r, row.arrival);
        if (row.arrival.sourceHardware != 0)
            o["senderHardware"] = platform::HardwareText(row.arrival.sourceHardware);
        array.append(o);
    }
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "  ";
    builder["emitUTF8"] = true;
    return Json::writeString(builder, array) + "\n";
}

std::string FormatCsv(const std::vector<DeviceRow>& rows)
{
    // RFC 4180 ends every record with CRLF. The window's eight columns, then
    // where each report came in.
    auto line = [](const std::array<std::string, 8>& cells, const std::string& interfaceName,
                   const std::string& localAddress) {
        std::string out;
        for (size_t c = 0; c < cells.size(); ++c)
            out += (c ? "," : "") + CsvField(cells[c]);
        return out + "," + CsvField(interfaceName) + "," + CsvField(localAddress) + "\r\n";
    };
    std::string out = line(ColumnHeaders(), "interface", "localAddress");
    for (const DeviceRow& row : rows)
        out += line(Cells(row), row.arrival.interfaceName, row.arrival.localAddress);
    return out;
}

std::string FormatRows(OutputFormat format, const std::vector<DeviceRow>& rows)
{
    switch (format) {
    case OutputFormat::Json:
        return FormatJson(rows);
    case OutputFormat::Csv:
        return FormatCsv(rows);
    case OutputFormat::Table:
        break;
    }
    return FormatTable(rows);
}

} // namespace lynx::cli
