#include "cli/DeviceOutput.h"

#include "platform/NeighbourTable.h"
#include "platform/Translation.h"
#include "protocol/DeviceTable.h"
#include "protocol/JsonMessages.h"
#include "site/Unreachable.h"

#include <json/value.h>
#include <json/writer.h>

#include <ostream>
#include <sstream>

namespace lynx::cli {

namespace {

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

TextTable DeviceTable(const std::vector<DeviceRow>& rows)
{
    TextTable table;
    table.Add({ColumnHeaders().begin(), ColumnHeaders().end()});
    for (const DeviceRow& row : rows) {
        const auto cells = Cells(row);
        table.Add({cells.begin(), cells.end()});
    }
    return table;
}

// RFC 4180 ends every record with CRLF. The window's eight columns, then
// where each report came in, and whether the PC reaches the camera at its
// address.
std::string CsvLine(const std::array<std::string, 8>& cells, const std::string& interfaceName,
                    const std::string& localAddress, const std::string& reachable)
{
    std::string out;
    for (size_t c = 0; c < cells.size(); ++c)
        out += (c ? "," : "") + CsvField(TerminalText(cells[c]));
    return out + "," + CsvField(TerminalText(interfaceName)) + "," + CsvField(TerminalText(localAddress)) + "," +
           reachable + "\r\n";
}

void WriteCsv(std::ostream& out, const std::vector<DeviceRow>& rows)
{
    const site::CardSubnets cards;
    out << CsvLine(ColumnHeaders(), "interface", "localAddress", "reachable");
    for (const DeviceRow& row : rows)
        out << CsvLine(Cells(row), row.arrival.interfaceName, row.arrival.localAddress,
                       cards.Reachable(row.record, row.arrival) ? "true" : "false");
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

std::string FormatTable(const std::vector<DeviceRow>& rows)
{
    return DeviceTable(rows).Text();
}

std::string FormatJson(const std::vector<DeviceRow>& rows)
{
    const site::CardSubnets cards;
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
        o["reachable"] = cards.Reachable(r, row.arrival);
        if (row.arrival.sourceHardware != 0)
            o["senderHardware"] = platform::HardwareText(row.arrival.sourceHardware);
        array.append(o);
    }
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "  ";
    builder["emitUTF8"] = true;
    return TerminalJson(Json::writeString(builder, array)) + "\n";
}

std::string FormatCsv(const std::vector<DeviceRow>& rows)
{
    std::ostringstream out;
    WriteCsv(out, rows);
    return out.str();
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

void WriteRows(std::ostream& out, OutputFormat format, const std::vector<DeviceRow>& rows)
{
    switch (format) {
    case OutputFormat::Json:
        out << FormatJson(rows);
        return;
    case OutputFormat::Csv:
        WriteCsv(out, rows);
        return;
    case OutputFormat::Table:
        break;
    }
    DeviceTable(rows).Write(out);
}

} // namespace lynx::cli
