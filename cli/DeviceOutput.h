// The three ways lynx-cli prints a device list: an aligned table of the
// window's eight columns, JSON with every record field, and CSV (RFC 4180).
#pragma once

#include "platform/Csv.h"
#include "protocol/DeviceTable.h"
#include "protocol/JsonMessages.h"

#include <array>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace lynx::cli {

using protocol::DeviceRow;

enum class OutputFormat { Table, Json, Csv };

// The window's column headers, in UTF-8.
const std::array<std::string, protocol::kColumnCount>& ColumnHeaders();

// Terminal columns a UTF-8 text takes: East Asian wide and full-width
// characters take two, combining marks none, everything else one. Bytes that
// are not UTF-8 count one each.
size_t DisplayWidth(std::string_view utf8);

using platform::CsvField;

// Lines of cells as aligned columns: each column as wide as its widest cell
// (DisplayWidth) plus two spaces, no blanks at a line's end.
std::string AlignedTable(const std::vector<std::vector<std::string>>& lines);

std::string FormatTable(const std::vector<DeviceRow>& rows);
std::string FormatJson(const std::vector<DeviceRow>& rows);
std::string FormatCsv(const std::vector<DeviceRow>& rows);
std::string FormatRows(OutputFormat format, const std::vector<DeviceRow>& rows);

} // namespace lynx::cli
