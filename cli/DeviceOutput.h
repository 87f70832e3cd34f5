// The three ways lynx-cli prints a device list: an aligned table of the
// window's eight columns, JSON with every record field, and CSV (RFC 4180).
// The table and the CSV show the network's texts through TerminalText; JSON
// escapes control characters itself.
#pragma once

#include "cli/TerminalText.h"
#include "cli/TextTable.h"
#include "platform/Csv.h"
#include "protocol/DeviceTable.h"
#include "protocol/JsonMessages.h"

#include <array>
#include <cstring>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace lynx::cli {

using protocol::DeviceRow;

enum class OutputFormat { Table, Json, Csv };

// The window's column headers, in UTF-8.
const std::array<std::string, protocol::kColumnCount>& ColumnHeaders();

using platform::CsvField;

std::string FormatTable(const std::vector<DeviceRow>& rows);
std::string FormatJson(const std::vector<DeviceRow>& rows);
std::string FormatCsv(const std::vector<DeviceRow>& rows);
std::string FormatRows(OutputFormat format, const std::vector<DeviceRow>& rows);
// The same on out, the table and the CSV a line at a time.
void WriteRows(std::ostream& out, OutputFormat format, const std::vector<DeviceRow>& rows);

} // namespace lynx::cli
