#include "cli/AddressCommands.h"

#include "addressing/AddressRules.h"
#include "addressing/Messages.h"
#include "addressing/PlanFile.h"
#include "cli/DeviceOutput.h"
#include "cli/InterfaceOption.h"
#include "cli/OptionReader.h"
#include "cli/SearchCommand.h"
#include "cli/SiteReport.h"
#include "platform/Numbers.h"
#include "platform/Translation.h"
#include "platform/WholeFile.h"
#include "platform/CodePage.h"
#include "protocol/DiscoverySession.h"
#include "protocol/Transport.h"

#include <chrono>
#include <cstring>
#include <functional>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <set>

namespace lynx::cli {

namespace {

namespace msg = addressing::msg;

constexpr const char* kMacError = "MAC地址错误！";
constexpr const char* kSetIpUsage =
    "usage: lynx-cli set-ip --mac MAC --ip IP --mask MASK --gateway GW [--interface NAME ...]\n"
    "                      [--confirm-wait S | --no-confirm] [--report FILE]\n"
    "  broadcast on every network card, or on the named ones, then search until the\n"
    "  camera answers at its new address: exit 1 when it has not within S seconds\n"
    "  (default 60). --no-confirm only sends the change. --report writes the change\n"
    "  to FILE (CSV, or JSON when it ends in .json)";
constexpr int kDefaultConfirmSeconds = 60;
constexpr const char* kPlanUsage =
    "usage: lynx-cli plan --start IP --end IP --gateway IP --mask MASK\n"
    "                    [--write-plan PLAN.csv [--seconds N] [--interface NAME ...]]\n"
    "  prints how many addresses the range holds; with --write-plan it searches\n"
    "  for N seconds (default 12) and writes a plan file giving the cameras found,\n"
    "  in the order found, their addresses from the range, as assign would";
constexpr const char* kAssignUsage =
    "usage: lynx-cli assign --start IP --end IP --gateway IP --mask MASK --mac MAC [--mac MAC ...]\n"
    "                      [--interface NAME ...] [--report FILE]\n"
    "       lynx-cli assign --plan PLAN.csv [--dry-run] [--seconds N] [--confirm-wait S]\n"
    "                      [--interface NAME ...] [--report FILE]\n"
    "  gives the devices, in the order given, consecutive addresses from the start,\n"
    "  skipping the gateway; a failed device's address goes to the next device;\n"
    "  broadcast on every network card, or on the named ones.\n"
    "  With --plan: a file of rows mac,ip,mask,gateway (a header line, UTF-8, '#'\n"
    "  comments). It searches for N seconds (default 12) and shows old -> new for\n"
    "  every row, flagging a MAC not found, a MAC or address twice in the plan, an\n"
    "  address another camera holds, a gateway outside the subnet and entries the\n"
    "  address rules refuse. --dry-run stops there (exit 2 when a row is flagged).\n"
    "  Otherwise a plan without flags is applied (one with flags: exit 2, nothing\n"
    "  sent), and searched for again until every camera answers at its new address\n"
    "  or S seconds pass (default 60); a camera that does not: exit 1.\n"
    "  --report writes one row per camera to FILE (CSV, or JSON when it ends in .json)";

bool AsksForHelp(const Arguments& args)
{
    return args.size() == 1 && (args[0] == "--help" || args[0] == "-h");
}

// --name value pairs; a name in repeatable may be given more than once.
struct Options {
    std::map<std::string, std::vector<std::string>> values;
    std::string error;

    const std::string& one(const std::string& name) const { return values.at(name).front(); }
    std::vector<std::string> all(const std::string& name) const
    {
        const auto it = values.find(name);
        return it == values.end() ? std::vector<std::string>{} : it->second;
    }
};

// Every command that broadcasts may be limited to some network cards.
constexpr const char* kInterface = "interface";

Options ParseOptions(const Arguments& args, const std::vector<std::string>& required,
                     const std::vector<std::string>& repeatable = {}, const std::vector<std::string>& optional = {})
{
    Options options;
    auto known = [&](const std::string& name) {
        if (name == kInterface)
            return true;
        for (const auto* names : {&required, &optional})
            for (const auto& n : *names)
                if (n == name)
                    return true;
        return false;
    };
    auto repeats = [&](const std::string& name) {
        if (name == kInterface)
            return true;
        for (const auto& n : repeatable)
            if (n == name)
                return true;
        return false;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (word.rfind("--", 0) != 0 || !known(word.substr(2))) {
            options.error = "unknown argument: " + word;
            return options;
        }
        if (i + 1 >= args.size()) {
            options.error = word + " needs a value";
            return options;
        }
        auto& slot = options.values[word.substr(2)];
        if (!slot.empty() && !repeats(word.substr(2))) {
            options.error = word + " given twice";
            return options;
        }
        slot.push_back(args[++i]);
    }
    for (const auto& name : required) {
        if (options.values.count(name) == 0 && !repeats(name)) {
            options.error = "missing --" + name;
            return options;
        }
    }
    CheckInterfaceNames(options.all(kInterface), &options.error);
    return options;
}

// The MAC goes into a 26-byte field of the request record as code page 936.
bool MacFits(const std::string& mac)
{
    return !mac.empty() && platform::Utf8ToCp936(mac).size() < sizeof(DeviceRecord::mac);
}

std::string RecordMac(const DeviceRecord& record)
{
    return Utf8Field(record.mac);
}

// Each camera restarts at its new address: searches until every camera in
// waiting (MacKey -> its new address) has answered from there, or the seconds
// have passed. answered(key) is told of each as it answers; what is left in
// waiting did not.
void ConfirmNewAddresses(protocol::DiscoverySession& session, std::map<std::string, std::string>& waiting, int seconds,
                         const std::function<void(const std::string& key)>& answered)
{
    using Clock = protocol::DiscoverySession::Clock;
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    const auto confirm = [&] {
        for (const protocol::DeviceRow& row : session.Table().Rows()) {
            const auto it = waiting.find(addressing::MacKey(RecordMac(row.record)));
            if (it != waiting.end() && Utf8Field(row.record.deviceIp) == it->second) {
                const std::string key = it->first;
                waiting.erase(it);
                answered(key);
            }
        }
        return waiting.empty();
    };
    while (!waiting.empty() && Clock::now() < deadline) {
        if (!session.Search())
            break;
        const auto round = std::min(deadline, Clock::now() + std::chrono::seconds(3));
        session.CollectUntil(round, protocol::DuplicateFilter{false, false}, {}, confirm);
        confirm();
    }
}

// The report port's server, through which the changeIp requests are
// broadcast on the chosen cards and the cameras are searched for at their new
// addresses, for the life of one command.
class ReportPort {
public:
    explicit ReportPort(protocol::InterfaceNames interfaces)
    {
        protocol::InitTransport();
        m_started = m_session.StartServers(false);
        m_session.SetInterfaces(std::move(interfaces));
    }
    ReportPort(const ReportPort&) = delete;
    ReportPort& operator=(const ReportPort&) = delete;

    // False after a message when the port could not be had.
    bool Started(const char* command, std::ostream& err) const
    {
        if (!m_started)
            err << "lynx-cli " << command << ": " << ServerFailureText(m_session) << "\n";
        return m_started;
    }

    bool SendChangeIp(const std::string& mac, const std::string& ip, const std::string& gateway,
                      const std::string& mask)
    {
        return m_session.SendChangeIp(protocol::MakeChangeIpRecord(mac, ip, gateway, mask));
    }

    bool Confirm(const std::string& mac, const std::string& ip, int seconds)
    {
        std::map<std::string, std::string> waiting{{addressing::MacKey(mac), ip}};
        ConfirmNewAddresses(m_session, waiting, seconds, [](const std::string&) {});
        return waiting.empty();
    }

private:
    protocol::DiscoverySession m_session;
    bool m_started = false;
};

int Invalid(std::ostream& err, const std::string& message)
{
    err << platform::TrUtf8(message) << '\n';
    return kExitUsage;
}

// Runs body with the given sender and confirmer, or with the real report port
// when no sender is given (a command without a port fails first).
template <class Body>
int WithSender(const addressing::ChangeIpSender& given, const AddressConfirmer& givenConfirm, const Options& options,
               const char* command, std::ostream& err, Body body)
{
    if (given)
        return body(given, givenConfirm);
    ReportPort port(options.all(kInterface));
    if (!port.Started(command, err))
        return kExitFailed;
    return body(
        addressing::ChangeIpSender([&port](const std::string& mac, const std::string& ip, const std::string& gateway,
                                           const std::string& mask) { return port.SendChangeIp(mac, ip, gateway, mask); }),
        AddressConfirmer([&port](const std::string& mac, const std::string& ip, int seconds) {
            return port.Confirm(mac, ip, seconds);
        }));
}

struct CheckedPlan {
    std::optional<std::string> message;
    addressing::PlanValues values;
};

CheckedPlan CheckPlan(const Options& options)
{
    CheckedPlan checked;
    const addressing::PlanEntries entries{
        addressing::ParseIpFields(options.one("gateway")), addressing::ParseIpFields(options.one("start")),
        addressing::ParseIpFields(options.one("end")), addressing::ParseIpFields(options.one("mask"))};
    checked.message = addressing::ValidatePlan(entries, checked.values);
    return checked;
}

std::string OptionalValue(const Options& options, const std::string& name)
{
    const auto it = options.values.find(name);
    return it == options.values.end() ? std::string() : it->second.front();
}

bool ReportWritable(const std::string& path, std::ostream& err)
{
    std::string error;
    if (path.empty() || SiteReport::CanWrite(path, &error))
        return true;
    err << "lynx-cli: " << error << '\n';
    return false;
}

bool WriteReport(const SiteReport& report, const std::string& path, std::ostream& err)
{
    std::string error;
    if (path.empty() || report.Write(path, &error))
        return true;
    err << "lynx-cli: " << error << '\n';
    return false;
}

// A search of the given seconds on a session of the command's own; the rows,
// or nothing after a message when it could not be made.
std::optional<std::vector<protocol::DeviceRow>> SearchRows(protocol::DiscoverySession& session, int seconds,
                                                           const char* command, std::ostream& err)
{
    if (!session.StartServers(false)) {
        err << "lynx-cli " << command << ": " << ServerFailureText(session) << "\n";
        return std::nullopt;
    }
    if (!session.Search()) {
        err << "lynx-cli " << command << ": the search request went out on no network interface\n";
        return std::nullopt;
    }
    session.CollectFor(std::chrono::seconds(seconds), protocol::DuplicateFilter{});
    return session.Table().Rows();
}

std::optional<int> SecondsOption(const Options& options, const std::string& name, int fallback, std::ostream& err)
{
    const std::string text = OptionalValue(options, name);
    if (text.empty())
        return fallback;
    const std::optional<long long> n = platform::WholeNumber(text);
    if (!n || *n < 1) {
        err << "--" << name << " takes a whole number of at least 1, not '" << text << "'\n";
        return std::nullopt;
    }
    return ClampSearchSeconds(*n);
}

struct PlanRunOptions {
    std::string planPath;
    bool dryRun = false;
    int seconds = protocol::kDefaultSearchSeconds;
    int confirmWait = kDefaultConfirmSeconds;
    std::vector<std::string> interfaces;
    std::string report;
};

std::optional<PlanRunOptions> ParsePlanRunOptions(const Arguments& args, std::string* error)
{
    PlanRunOptions options;
    OptionReader reader(args);
    std::string value;
    while (reader.Next()) {
        const std::string& a = reader.Name();
        if (a == "--dry-run" && !reader.HasInlineValue()) {
            options.dryRun = true;
            continue;
        }
        if (a != "--plan" && a != "--seconds" && a != "--confirm-wait" && a != "--interface" && a != "--report") {
            *error = "unknown argument: " + a + (a == "--dry-run" ? " (takes no value)" : "");
            return std::nullopt;
        }
        if (!reader.TakeValue(value, error))
            return std::nullopt;
        if (a == "--plan") {
            options.planPath = value;
        } else if (a == "--seconds" || a == "--confirm-wait") {
            const std::optional<long long> n = platform::WholeNumber(value);
            if (!n || *n < 1) {
                *error = a + " takes a whole number of at least 1, not '" + value + "'";
                return std::nullopt;
            }
            (a == "--seconds" ? options.seconds : options.confirmWait) = ClampSearchSeconds(*n);
        } else if (a == "--interface") {
            options.interfaces.push_back(value);
        } else {
            options.report = value;
        }
    }
    if (options.planPath.empty()) {
        *error = "--plan needs a file";
        return std::nullopt;
    }
    if (!CheckInterfaceNames(options.interfaces, error))
        return std::nullopt;
    return options;
}

// `assign --plan`: check the plan against a search, then apply and confirm it.
int RunAssignPlan(const Arguments& args, std::ostream& out, std::ostream& err)
{
    std::string error;
    const std::optional<PlanRunOptions> options = ParsePlanRunOptions(args, &error);
    if (!options)
        return Invalid(err, "lynx-cli assign: " + error + "\n" + platform::TrUtf8(kAssignUsage));
    std::ifstream file(options->planPath, std::ios::binary);
    if (!file)
        return Invalid(err, "lynx-cli assign: cannot read '" + options->planPath + "': " + std::strerror(errno));
    // No more than one byte past the limit is read: a file that large is refused.
    std::string text(addressing::kMaxPlanBytes + 1, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(file.gcount()));
    const auto plan = addressing::ParsePlanCsv(text, &error);
    if (!plan)
        return Invalid(err, "lynx-cli assign: " + options->planPath + ", " + error);
    if (!options->dryRun && !ReportWritable(options->report, err))
        return kExitUsage;

    protocol::InitTransport();
    protocol::DiscoverySession session;
    session.SetInterfaces(options->interfaces);
    const auto found = SearchRows(session, options->seconds, "assign", err);
    if (!found)
        return kExitFailed;
    std::vector<addressing::FoundCamera> cameras;
    std::map<std::string, std::string> versionOfMac;
    for (const protocol::DeviceRow& row : *found) {
        const DeviceRecord& r = row.record;
        cameras.push_back({RecordMac(r), Utf8Field(r.deviceIp), Utf8Field(r.netMask), Utf8Field(r.gatewayIp)});
        versionOfMac[RecordMac(r)] = Utf8Field(r.softwareVersion);
    }
    const std::vector<addressing::CheckedRow> checked = addressing::CheckPlan(*plan, cameras);

    int flagged = 0;
    for (const addressing::CheckedRow& row : checked) {
        out << "line " << row.row.line << "  " << row.row.mac << "  "
            << (row.current ? row.current->ip : std::string("(not found)")) << " -> " << row.row.ip << "  mask "
            << row.row.mask << "  gateway " << row.row.gateway << '\n';
        for (const std::string& flag : row.flags)
            out << "    ! " << platform::TrUtf8(flag) << '\n';
        flagged += row.flags.empty() ? 0 : 1;
    }
    out << checked.size() << " rows, " << flagged << " flagged" << std::endl;
    if (options->dryRun)
        return flagged ? kExitUsage : kExitOk;
    if (flagged) {
        err << "lynx-cli assign: the plan has " << flagged << " flagged rows; nothing was sent\n";
        for (const addressing::CheckedRow& row : checked)
            for (const std::string& flag : row.flags)
                err << "  line " << row.row.line << " (" << row.row.mac << "): " << platform::TrUtf8(flag) << '\n';
        return kExitUsage;
    }

    SiteReport report;
    std::map<std::string, const addressing::CheckedRow*> rowOfKey;
    std::map<std::string, std::string> waiting;  // MAC key -> new address
    bool allSent = true;
    for (const addressing::CheckedRow& row : checked) {
        // The camera is named by its MAC as it reported it.
        const std::string& mac = row.current->mac;
        SiteReport::Row& entry = report.Camera(mac);
        entry.oldIp = row.current->ip;
        entry.newIp = row.row.ip;
        entry.oldVersion = entry.newVersion = versionOfMac[mac];  // an address change keeps the firmware
        const bool sent = session.SendChangeIp(protocol::MakeChangeIpRecord(mac, row.row.ip, row.row.gateway, row.row.mask));
        const std::string result = platform::TrUtf8(sent ? msg::kChangeSucceeded : msg::kChangeFailed);
        report.AddStatus(mac, result);
        out << mac << ' ' << row.current->ip << " -> " << row.row.ip << ' ' << result << std::endl;
        if (sent) {
            rowOfKey[addressing::MacKey(mac)] = &row;
            waiting[addressing::MacKey(mac)] = row.row.ip;
        } else {
            allSent = false;
            report.SetOutcome(mac, "send failed");
        }
    }

    ConfirmNewAddresses(session, waiting, options->confirmWait, [&](const std::string& key) {
        const addressing::CheckedRow* row = rowOfKey.at(key);
        report.AddStatus(row->current->mac, "answered at " + row->row.ip);
        report.SetOutcome(row->current->mac, "confirmed");
        out << row->current->mac << " answers at " << row->row.ip << std::endl;
    });
    for (const auto& [key, ip] : waiting) {
        const addressing::CheckedRow* row = rowOfKey.at(key);
        out << row->current->mac << " did not answer at " << row->row.ip << std::endl;
        report.SetOutcome(row->current->mac, "not confirmed");
    }
    const bool written = WriteReport(report, options->report, err);
    return allSent && waiting.empty() && written ? kExitOk : kExitFailed;
}

// `plan --write-plan`: the addresses assign would give the cameras found.
int WritePlanFile(const Options& options, const addressing::PlanValues& values, std::ostream& out, std::ostream& err)
{
    const std::optional<int> seconds = SecondsOption(options, "seconds", protocol::kDefaultSearchSeconds, err);
    if (!seconds)
        return kExitUsage;
    protocol::InitTransport();
    protocol::DiscoverySession session;
    session.SetInterfaces(options.all(kInterface));
    const auto found = SearchRows(session, *seconds, "plan", err);
    if (!found)
        return kExitFailed;
    if (found->empty()) {
        err << "lynx-cli plan: no camera answered the search; no plan written\n";
        return kExitFailed;
    }
    addressing::DevList devList;
    int index = 0;
    for (const protocol::DeviceRow& row : *found)
        devList[index++] = addressing::DevIpItem{Utf8Field(row.record.deviceIp), RecordMac(row.record)};
    const addressing::BatchPlan plan{values.ipCount, values.startIp, values.gateWay, values.netMask};
    if (!addressing::PlanHoldsDevices(plan.ipCount, devList.size()))
        return Invalid(err, std::string(msg::kTooManyDevices) + " (" + std::to_string(devList.size()) + " cameras, " +
                                std::to_string(values.ipCount) + " addresses)");
    // The same assignment as assign's, every send taken as successful.
    const addressing::BatchOutcome outcome = addressing::AssignAddresses(
        devList, plan, [](const std::string&, const std::string&, const std::string&, const std::string&) { return true; });
    std::vector<addressing::PlanRow> rows;
    for (const auto& assignment : outcome.assignments)
        rows.push_back({0, devList.at(assignment.row).strMAC, assignment.newIp, values.netMask, values.gateWay});
    const std::string path = options.one("write-plan");
    std::string error;
    if (!platform::WriteFileWhole(path, addressing::WritePlanCsv(rows), &error)) {
        err << "lynx-cli plan: " << error << '\n';
        return kExitFailed;
    }
    out << "wrote " << rows.size() << " rows to " << path << '\n';
    return kExitOk;
}

} // namespace

int RunSetIp(const Arguments& given, std::ostream& out, std::ostream& err, const addressing::ChangeIpSender& send,
             const AddressConfirmer& confirm)
{
    if (AsksForHelp(given)) {
        out << platform::TrUtf8(kSetIpUsage) << '\n';
        return kExitOk;
    }
    // --no-confirm is the one option without a value.
    Arguments args;
    bool confirming = true;
    for (const std::string& arg : given) {
        if (arg == "--no-confirm")
            confirming = false;
        else
            args.push_back(arg);
    }
    const Options options = ParseOptions(args, {"mac", "ip", "mask", "gateway"}, {}, {"report", "confirm-wait"});
    if (!options.error.empty())
        return Invalid(err, options.error + "\n" + platform::TrUtf8(kSetIpUsage));
    const std::string reportPath = OptionalValue(options, "report");
    const std::optional<int> confirmWait = SecondsOption(options, "confirm-wait", kDefaultConfirmSeconds, err);
    if (!confirmWait)
        return kExitUsage;

    const addressing::IpFields ip = addressing::ParseIpFields(options.one("ip"));
    const addressing::IpFields mask = addressing::ParseIpFields(options.one("mask"));
    const addressing::IpFields gateway = addressing::ParseIpFields(options.one("gateway"));
    if (auto message = addressing::ValidateSingleChange(ip, mask, gateway))
        return Invalid(err, *message);
    const std::string& mac = options.one("mac");
    if (!MacFits(mac))
        return Invalid(err, kMacError);
    if (!ReportWritable(reportPath, err))
        return kExitUsage;

    return WithSender(send, confirm, options, "set-ip", err,
                      [&](const addressing::ChangeIpSender& sender, const AddressConfirmer& confirmer) {
        const std::string newIp = addressing::FormatOctets(ip.octets);
        const bool sent = sender(mac, newIp, addressing::FormatOctets(gateway.octets), addressing::FormatOctets(mask.octets));
        SiteReport report;
        report.Camera(mac).newIp = newIp;
        if (!sent || !confirming || !confirmer) {
            // Sent and not waited for: success means the request went out.
            const std::string result = platform::TrUtf8(sent ? msg::kChangeSucceeded : msg::kChangeFailed);
            out << result << '\n';
            report.AddStatus(mac, result);
            report.SetOutcome(mac, sent ? "sent" : "send failed");
            const bool written = WriteReport(report, reportPath, err);
            return sent && written ? kExitOk : kExitFailed;
        }
        // The change counts once the camera answers at its new address: a MAC
        // that no camera has, or a camera that did not take the change, is a
        // failure and not "修改成功！".
        report.AddStatus(mac, "sent");
        const bool answered = confirmer(mac, newIp, *confirmWait);
        if (answered) {
            out << platform::TrUtf8(msg::kChangeSucceeded) << '\n';
            report.AddStatus(mac, "answered at " + newIp);
        } else {
            err << "lynx-cli set-ip: " << mac << " did not answer at " << newIp << " within " << *confirmWait
                << " s\n";
        }
        report.SetOutcome(mac, answered ? "confirmed" : "not confirmed");
        const bool written = WriteReport(report, reportPath, err);
        return answered && written ? kExitOk : kExitFailed;
    });
}

int RunPlan(const Arguments& args, std::ostream& out, std::ostream& err)
{
    if (AsksForHelp(args)) {
        out << platform::TrUtf8(kPlanUsage) << '\n';
        return kExitOk;
    }
    const Options options = ParseOptions(args, {"start", "end", "gateway", "mask"}, {}, {"write-plan", "seconds"});
    if (!options.error.empty())
        return Invalid(err, options.error + "\n" + platform::TrUtf8(kPlanUsage));
    const CheckedPlan checked = CheckPlan(options);
    if (checked.message)
        return Invalid(err, *checked.message);
    if (options.values.count("write-plan"))
        return WritePlanFile(options, checked.values, out, err);
    out << checked.values.ipCount << '\n';
    return kExitOk;
}

int RunAssign(const Arguments& args, std::ostream& out, std::ostream& err, const addressing::ChangeIpSender& send)
{
    if (AsksForHelp(args)) {
        out << platform::TrUtf8(kAssignUsage) << '\n';
        return kExitOk;
    }
    for (const std::string& arg : args) {
        if (arg == "--plan" || arg.rfind("--plan=", 0) == 0)
            return RunAssignPlan(args, out, err);
    }
    const Options options = ParseOptions(args, {"start", "end", "gateway", "mask", "mac"}, {"mac"}, {"report"});
    if (!options.error.empty())
        return Invalid(err, options.error + "\n" + platform::TrUtf8(kAssignUsage));
    const std::string reportPath = OptionalValue(options, "report");
    const auto macs = options.values.find("mac");
    if (macs == options.values.end())
        return Invalid(err, msg::kSelectOne);
    const CheckedPlan checked = CheckPlan(options);
    if (checked.message)
        return Invalid(err, *checked.message);

    // The devices in the order given stand for the ticked rows, top to bottom.
    // Their addresses before the change are not known here.
    addressing::DevList devList;
    int row = 0;
    for (const std::string& mac : macs->second) {
        if (!MacFits(mac))
            return Invalid(err, kMacError);
        devList[row++] = addressing::DevIpItem{std::string(), mac};
    }
    const addressing::BatchPlan plan{checked.values.ipCount, checked.values.startIp, checked.values.gateWay,
                                     checked.values.netMask};
    if (!addressing::PlanHoldsDevices(plan.ipCount, devList.size()))
        return Invalid(err, msg::kTooManyDevices);
    if (!ReportWritable(reportPath, err))
        return kExitUsage;

    return WithSender(send, {}, options, "assign", err, [&](const addressing::ChangeIpSender& sender, const AddressConfirmer&) {
        const addressing::BatchOutcome outcome = addressing::AssignAddresses(devList, plan, sender);
        SiteReport report;
        for (const auto& assignment : outcome.assignments) {
            const std::string& mac = devList.at(assignment.row).strMAC;
            out << mac << ' ' << assignment.newIp;
            if (!assignment.sent)
                out << ' ' << platform::TrUtf8(msg::kChangeFailed);
            out << '\n';
            report.Camera(mac).newIp = assignment.newIp;
            report.AddStatus(mac, platform::TrUtf8(assignment.sent ? msg::kChangeSucceeded : msg::kChangeFailed));
            report.SetOutcome(mac, assignment.sent ? "sent" : "send failed");
        }
        const std::string prefix = msg::kSomeFailedPrefix;
        out << (outcome.message.rfind(prefix, 0) == 0
                    ? platform::TrUtf8(prefix) + outcome.message.substr(prefix.size())
                    : platform::TrUtf8(outcome.message))
            << '\n';
        const bool written = WriteReport(report, reportPath, err);
        return outcome.allSent() && written ? kExitOk : kExitFailed;
    });
}

int RunSetIpCommand(const Arguments& args)
{
    return RunSetIp(args, std::cout, std::cerr);
}

int RunPlanCommand(const Arguments& args)
{
    return RunPlan(args, std::cout, std::cerr);
}

int RunAssignCommand(const Arguments& args)
{
    return RunAssign(args, std::cout, std::cerr);
}

} // namespace lynx::cli
