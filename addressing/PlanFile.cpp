#include "addressing/PlanFile.h"

#include "addressing/AddressRules.h"
#include "addressing/IpFields.h"
#include "addressing/Messages.h"
#include "platform/Csv.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <map>

namespace lynx::addressing {

namespace {

constexpr std::array<const char*, 4> kColumns{"mac", "ip", "mask", "gateway"};

std::string Trim(std::string_view text)
{
    const auto notSpace = [](char c) { return c != ' ' && c != '\t'; };
    const auto first = std::find_if(text.begin(), text.end(), notSpace);
    const auto last = std::find_if(text.rbegin(), text.rend(), notSpace).base();
    return first < last ? std::string(first, last) : std::string();
}

// The fields of one line: commas separate, a field in double quotes may hold
// commas and doubled quotes. False for an unterminated quote.
bool SplitCsvLine(std::string_view line, std::vector<std::string>& fields)
{
    fields.clear();
    size_t i = 0;
    for (;;) {
        std::string field;
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        if (i < line.size() && line[i] == '"') {
            ++i;
            for (;;) {
                if (i >= line.size())
                    return false;
                if (line[i] == '"') {
                    if (i + 1 < line.size() && line[i + 1] == '"') {
                        field += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += line[i++];
            }
            const size_t comma = line.find(',', i);
            if (!Trim(line.substr(i, comma == std::string_view::npos ? line.npos : comma - i)).empty())
                return false;
            i = comma;
        } else {
            const size_t comma = line.find(',', i);
            field = Trim(line.substr(i, comma == std::string_view::npos ? line.npos : comma - i));
            i = comma;
        }
        fields.push_back(std::move(field));
        if (i == std::string_view::npos)
            return true;
        ++i;  // past the comma
    }
}

// A line of a file: CRLF, LF and CR end one alike.
struct TextLine {
    size_t length;  // without its end
    size_t next;    // where the next line starts
};

// The bytes of the line end at text[at]: 2 for CRLF, else 1.
size_t LineEndLength(std::string_view text, size_t at)
{
    return text.compare(at, 2, "\r\n") == 0 ? 2 : 1;
}

TextLine FirstLine(std::string_view text)
{
    const size_t end = text.find_first_of("\r\n");
    if (end == std::string_view::npos)
        return {text.size(), text.size()};
    return {end, end + LineEndLength(text, end)};
}

// A quoted field may hold line ends, up to this many lines: a note, never a
// page. A quote left open costs at most this much reading again.
constexpr int kMaxRecordLines = 16;

struct CsvRecord {
    std::string_view text;  // without its end
    size_t next;            // where the next record starts
    int lines;              // of the file it takes
};

// The record at the start of text, read as SplitCsvLine reads its fields: it
// ends at the first line end outside double quotes. When its quotes do not
// close within kMaxRecordLines lines, or text follows a closing quote on a
// later line, the first line alone is the record (one with a fault), and the
// next line is read afresh, as if no field could hold a line end.
CsvRecord FirstRecord(std::string_view text)
{
    enum class At { FieldStart, Unquoted, Quoted, AfterQuote } at = At::FieldStart;
    int lines = 1;
    bool clean = true;  // nothing but blanks after a closing quote
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool lineEnd = c == '\r' || c == '\n';
        if (at == At::Quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"')
                ++i;
            else if (c == '"')
                at = At::AfterQuote;
            else if (lineEnd) {
                i += LineEndLength(text, i) - 1;
                if (++lines > kMaxRecordLines)
                    break;
            }
            continue;
        }
        if (lineEnd) {
            if (!clean && lines > 1)
                break;
            return {text.substr(0, i), i + LineEndLength(text, i), lines};
        }
        if (c == ',')
            at = At::FieldStart;
        else if (at == At::FieldStart && c == '"')
            at = At::Quoted;
        else if (at == At::FieldStart && c != ' ' && c != '\t')
            at = At::Unquoted;
        else if (at == At::AfterQuote && c != ' ' && c != '\t')
            clean = false;
    }
    if (at != At::Quoted && (clean || lines == 1))
        return {text, text.size(), lines};
    const TextLine first = FirstLine(text);
    return {text.substr(0, first.length), first.next, 1};
}


bool ContiguousMask(uint32_t mask)
{
    return (~mask & (~mask + 1)) == 0;
}

} // namespace

std::optional<uint32_t> DottedIpv4(const std::string& text)
{
    in_addr address{};
    if (::inet_pton(AF_INET, text.c_str(), &address) != 1)
        return std::nullopt;
    return ntohl(address.s_addr);
}

std::string LowerAscii(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

void ForEachCsvLine(std::string_view text, const CsvLineFn& each)
{
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    std::vector<std::string> fields;
    int lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const TextLine first = FirstLine(text);
        const std::string trimmed = Trim(text.substr(0, first.length));
        if (trimmed.empty() || trimmed[0] == '#') {
            text.remove_prefix(first.next);
            continue;
        }
        const CsvRecord record = FirstRecord(text);
        const bool closed = SplitCsvLine(record.text, fields);
        text.remove_prefix(record.next);
        const int line = lineNumber;
        lineNumber += record.lines - 1;
        if (!each(line, closed, fields))
            return;
    }
}

std::optional<std::vector<PlanRow>> ParsePlanCsv(std::string_view text, std::string* error)
{
    PlanFlag fault;
    auto rows = ParsePlanCsv(text, &fault);
    if (!rows)
        *error = FlagText(fault);
    return rows;
}

std::optional<std::vector<PlanRow>> ParsePlanCsv(std::string_view text, PlanFlag* fault)
{
    if (text.size() > kMaxPlanBytes) {
        *fault = {"the plan is larger than %1 MiB", {std::to_string(kMaxPlanBytes / (1024 * 1024))}};
        return std::nullopt;
    }
    std::vector<PlanRow> rows;
    std::array<int, 4> column{-1, -1, -1, -1};
    bool haveHeader = false;
    int lineNumber = 0;
    // Each text begins "line %1: ", the line; its own values follow.
    PlanFlag why;
    const auto fail = [&](PlanFlag flag) {
        flag.values.insert(flag.values.begin(), std::to_string(lineNumber));
        *fault = std::move(flag);
        return std::nullopt;
    };
    ForEachCsvLine(text, [&](int line, bool closed, std::vector<std::string>& fields) {
        lineNumber = line;
        if (!closed) {
            why = {"line %1: a quoted field is not closed", {}};
            return false;
        }
        if (!haveHeader) {
            for (size_t i = 0; i < fields.size(); ++i) {
                for (size_t c = 0; c < kColumns.size(); ++c) {
                    if (LowerAscii(fields[i]) == kColumns[c] && column[c] < 0)
                        column[c] = static_cast<int>(i);
                }
            }
            for (size_t c = 0; c < kColumns.size(); ++c) {
                if (column[c] < 0) {
                    why = {"line %1: the header names no column \"%2\" (it must name mac, ip, mask and gateway)",
                           {kColumns[c]}};
                    return false;
                }
            }
            haveHeader = true;
            return true;
        }
        const int needed = *std::max_element(column.begin(), column.end()) + 1;
        if (static_cast<int>(fields.size()) < needed) {
            why = {"line %1: has %2 fields, the header %3", {std::to_string(fields.size()), std::to_string(needed)}};
            return false;
        }
        PlanRow row;
        row.line = line;
        row.mac = fields[static_cast<size_t>(column[0])];
        row.ip = fields[static_cast<size_t>(column[1])];
        row.mask = fields[static_cast<size_t>(column[2])];
        row.gateway = fields[static_cast<size_t>(column[3])];
        if (row.mac.empty()) {
            why = {"line %1: the MAC is empty", {}};
            return false;
        }
        for (const auto& [name, value] : {std::pair{"ip", &row.ip}, {"mask", &row.mask}, {"gateway", &row.gateway}}) {
            if (!DottedIpv4(*value)) {
                why = {"line %1: %2 '%3' is not a dotted IPv4 address", {name, *value}};
                return false;
            }
        }
        if (rows.size() == kMaxPlanRows) {
            why = {"line %1: the plan has more than %2 rows", {std::to_string(kMaxPlanRows)}};
            return false;
        }
        rows.push_back(std::move(row));
        return true;
    });
    if (!why.text.empty())
        return fail(why);
    if (!haveHeader)
        return fail({"line %1: no header line (mac,ip,mask,gateway)", {}});
    if (rows.empty())
        return fail({"line %1: the plan has no rows", {}});
    return rows;
}

std::string WritePlanCsv(const std::vector<PlanRow>& rows)
{
    std::string text = "mac,ip,mask,gateway\n";
    for (const PlanRow& row : rows)
        text += platform::CsvField(row.mac) + "," + platform::CsvField(row.ip) + "," + platform::CsvField(row.mask) + "," +
                platform::CsvField(row.gateway) + "\n";
    return text;
}

std::string FilledIn(std::string_view pattern, const std::vector<std::string>& values)
{
    std::string text;
    for (std::size_t at = 0; at < pattern.size(); ++at) {
        const char next = at + 1 < pattern.size() ? pattern[at + 1] : '\0';
        const std::size_t index = next >= '1' && next <= '9' ? static_cast<std::size_t>(next - '1') : values.size();
        if (pattern[at] == '%' && index < values.size()) {
            text += values[index];
            ++at;
        } else {
            text += pattern[at];
        }
    }
    return text;
}

std::vector<CheckedRow> CheckPlan(const std::vector<PlanRow>& plan, const std::vector<FoundCamera>& found)
{
    std::map<std::string, const FoundCamera*> byMac;
    std::multimap<std::string, const FoundCamera*> byIp;
    for (const FoundCamera& camera : found) {
        byMac.emplace(MacKey(camera.mac), &camera);
        byIp.emplace(camera.ip, &camera);
    }
    std::map<std::string, std::vector<int>> linesOfIp, linesOfMac;
    std::map<std::string, std::string> newIpOfMac;
    for (const PlanRow& row : plan) {
        linesOfIp[row.ip].push_back(row.line);
        linesOfMac[MacKey(row.mac)].push_back(row.line);
        newIpOfMac[MacKey(row.mac)] = row.ip;
    }
    // One other line named, whatever the count: listing every other line on
    // every row would grow with the square of a plan's repeats.
    const auto alsoOn = [](const std::vector<int>& lines, int self, const char* twice, const char* more) {
        const std::string other = std::to_string(lines[0] != self ? lines[0] : lines[1]);
        if (lines.size() == 2)
            return PlanFlag{twice, {other}};
        return PlanFlag{more, {other, std::to_string(lines.size())}};
    };

    std::vector<CheckedRow> checked;
    for (const PlanRow& row : plan) {
        CheckedRow result;
        result.row = row;
        const std::string key = MacKey(row.mac);
        if (const auto it = byMac.find(key); it != byMac.end())
            result.current = *it->second;
        else
            result.flags.push_back({"MAC not found in the search", {}});
        if (linesOfMac[key].size() > 1)
            result.flags.push_back(alsoOn(linesOfMac[key], row.line, "MAC also on line %1",
                                          "MAC also on line %1 (%2 lines in all)"));
        if (linesOfIp[row.ip].size() > 1)
            result.flags.push_back(alsoOn(linesOfIp[row.ip], row.line, "address also on line %1",
                                          "address also on line %1 (%2 lines in all)"));
        const auto [first, last] = byIp.equal_range(row.ip);
        for (auto it = first; it != last; ++it) {
            const FoundCamera& holder = *it->second;
            const std::string holderKey = MacKey(holder.mac);
            if (holderKey == key)
                continue;
            // A holder that the plan moves elsewhere frees the address.
            const auto moved = newIpOfMac.find(holderKey);
            if (moved == newIpOfMac.end() || moved->second == row.ip)
                result.flags.push_back({"address held by %1", {holder.mac}});
        }
        const uint32_t ip = *DottedIpv4(row.ip), mask = *DottedIpv4(row.mask), gateway = *DottedIpv4(row.gateway);
        const bool outside = (ip & mask) != (gateway & mask);
        // The dialog's gateway message says less than the subnet check.
        const auto refused = ValidateSingleChange(ParseIpFields(row.ip), ParseIpFields(row.mask), ParseIpFields(row.gateway));
        if (refused && !(outside && *refused == msg::kGatewayError))
            result.flags.push_back({*refused, {}});
        else if (!refused && !ContiguousMask(mask))
            result.flags.push_back({"mask %1 is not contiguous", {row.mask}});
        if (outside)
            result.flags.push_back({"gateway %1 outside %2/%3", {row.gateway, row.ip, row.mask}});
        checked.push_back(std::move(result));
    }
    return checked;
}

bool AnyFlag(const std::vector<CheckedRow>& checked)
{
    return std::any_of(checked.begin(), checked.end(), [](const CheckedRow& row) { return !row.flags.empty(); });
}

} // namespace lynx::addressing
