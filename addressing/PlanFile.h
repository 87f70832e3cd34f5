// Address plans as files, for commissioning a site: one row per camera,
// "mac,ip,mask,gateway" under a header line, UTF-8, lines starting with '#'
// ignored. A plan is checked against the cameras a search found before anything
// is sent: every row gets the flags that would make it fail or clash.
#pragma once

#include "platform/MacKey.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lynx::addressing {

struct PlanRow {
    int line = 0;  // in the file, from 1
    std::string mac;
    std::string ip;
    std::string mask;
    std::string gateway;
};

// A plan's limits: far above any site (a /16 holds 65,534 cameras), and low
// enough that a wrong file cannot exhaust the PC.
inline constexpr size_t kMaxPlanBytes = 16 * 1024 * 1024;
inline constexpr size_t kMaxPlanRows = 100000;

// The pieces of reading a plan's text, shared with other files keyed by MAC
// (a site's expected inventory). Calls each, in order, for every record that
// is neither blank nor a '#' comment, after a byte-order mark; CRLF, LF and CR
// end a line alike: its first line's number (from 1), whether its quotes are
// closed, and its fields (commas separate, a field in double quotes may hold
// commas, doubled quotes and line ends, blanks around a field are dropped).
// A quote that does not close makes its line alone a record. each returns
// false to stop.
using CsvLineFn = std::function<bool(int line, bool quotesClosed, std::vector<std::string>& fields)>;
void ForEachCsvLine(std::string_view text, const CsvLineFn& each);
// A dotted IPv4 address (host byte order), nullopt for any other text.
std::optional<uint32_t> DottedIpv4(const std::string& text);
// ASCII letters in lower case: header names are compared so.
std::string LowerAscii(std::string text);

// Why a plan file or one of its rows cannot be applied: a text (written in
// English, or an address rule's message as the dialog shows it) whose %1,
// %2... stand for the values, so that a front end shows it in its own language.
struct PlanFlag {
    std::string text;
    std::vector<std::string> values;

    bool operator==(const PlanFlag&) const = default;
};

// pattern with each %1..%9 replaced by the value it names, in one pass: a value
// that holds "%1" itself stays as it is.
std::string FilledIn(std::string_view pattern, const std::vector<std::string>& values);
// The flag's text with its values, untranslated.
inline std::string FlagText(const PlanFlag& flag)
{
    return FilledIn(flag.text, flag.values);
}

// The rows of a plan file's text, or nullopt and "line N: why" in *error for a
// file that cannot be read as one: no header naming the four columns (in any
// order, other columns ignored), a row with too few fields, an address that is
// not dotted IPv4, an empty MAC. A byte-order mark and CRLF, LF or CR line
// ends are taken; an empty plan, or one over the limits above, is an error too.
std::optional<std::vector<PlanRow>> ParsePlanCsv(std::string_view text, PlanFlag* fault);
// The same, the fault's text filled in, untranslated.
std::optional<std::vector<PlanRow>> ParsePlanCsv(std::string_view text, std::string* error);
// The file's text for the rows, header first, fields quoted where CSV needs it.
std::string WritePlanCsv(const std::vector<PlanRow>& rows);

// MACs are compared as the device table compares them.
using platform::MacKey;

// A camera as the search found it.
struct FoundCamera {
    std::string mac;
    std::string ip;
    std::string mask;
    std::string gateway;
};

// One row of a plan against the search: the camera it names, when found, and
// why the row must not be applied (nothing when it may).
struct CheckedRow {
    PlanRow row;
    std::optional<FoundCamera> current;
    std::vector<PlanFlag> flags;
};

// Flags, per row: the MAC was not found; the MAC or the address is in the
// plan twice (the flag names the first other line that holds it, and how many
// lines do); the address is held by another camera found in the search that
// the plan does not move away; the gateway lies outside the address's subnet;
// the address dialog's own rules refuse the entries (a mask whose class octets
// are not 255, a gateway outside the address's class network), or the mask is
// not contiguous.
std::vector<CheckedRow> CheckPlan(const std::vector<PlanRow>& plan, const std::vector<FoundCamera>& found);
bool AnyFlag(const std::vector<CheckedRow>& checked);

} // namespace lynx::addressing
