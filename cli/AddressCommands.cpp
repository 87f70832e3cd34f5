#include "cli/AddressCommands.h"

#include "addressing/AddressRules.h"
#include "addressing/Messages.h"
#include "addressing/PlanFile.h"
#include "cli/DeviceOutput.h"
#include "cli/LiveLine.h"
#include "cli/OptionReader.h"
#include "cli/TerminalText.h"
#include "site/SiteReport.h"
#include "platform/CodePage.h"
#include "platform/Translation.h"
#include "platform/WholeFile.h"
#include "site/ReaddressFlow.h"
#include "site/SearchFlow.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>

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
constexpr const char* kPlanUsage =
    "usage: lynx-cli plan --start IP --end IP --gateway IP --mask MASK\n"
    "                    [--write-plan PLAN.csv [--seconds N] [--interface NAME ...]]\n"
    "       lynx-cli plan --write-plan PLAN.csv [--seconds N] [--interface NAME ...]\n"
    "  prints how many addresses the range holds; with --write-plan it searches\n"
    "  for N seconds (default 12) and writes a plan file giving the cameras found,\n"
    "  in the order found, their addresses from the range, as assign would.\n"
    "  Without a range it proposes one, as the window's plan dialog does, in the\n"
    "  network of the card the first camera found answered on (.2 to .254, the\n"
    "  gateway .1), whatever subnet the camera itself is in";
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

// Every option of the three commands; each reads its own.
struct AddressOptions {
    std::string mac, ip, mask, gateway;           // set-ip
    std::string start, end, writePlan;            // plan and assign: the range
    std::vector<std::string> macs;                // assign
    std::string plan;                             // assign --plan
    bool dryRun = false;
    int seconds = protocol::kDefaultSearchSeconds;
    int confirmWait = site::kDefaultConfirmSeconds;
    bool confirm = true;
    std::string report;
    std::vector<std::string> interfaces;
    bool help = false;
};

// The address range of plan and assign, when the option at hand is one of it.
bool ReadRange(OptionReader& reader, AddressOptions& o)
{
    return reader.ValueOf({{"--start", &o.start}, {"--end", &o.end}, {"--gateway", &o.gateway}, {"--mask", &o.mask}});
}

// Reads args with readOne (false for an option the command does not know),
// then checks what must be given; nullopt with the reason in error.
template <class ReadOne, class Check>
std::optional<AddressOptions> ReadOptions(const Arguments& args, std::string& error, ReadOne readOne, Check check)
{
    AddressOptions o;
    OptionReader reader(args);
    while (reader.Next()) {
        if (!reader.Shared(o.interfaces, o.help) && !readOne(reader, o))
            reader.Unknown();
    }
    if (!reader.Failed() && !o.help)
        check(reader, o);
    // A report lost at the end would lose the record of work done: tried first.
    std::string reportError;
    if (!reader.Failed() && !o.help && !o.dryRun && !o.report.empty() && !SiteReport::CanWrite(o.report, &reportError))
        reader.Fail(reportError);
    return reader.Result(o, &error);
}

void RequireRange(OptionReader& reader, const AddressOptions& o)
{
    reader.Require({{"--start", &o.start}, {"--end", &o.end}, {"--gateway", &o.gateway}, {"--mask", &o.mask}});
}

bool RangeGiven(const AddressOptions& o)
{
    return !o.start.empty() || !o.end.empty() || !o.gateway.empty() || !o.mask.empty();
}

// The MAC goes into a 26-byte field of the request record as code page 936.
bool MacFits(const std::string& mac)
{
    return !mac.empty() && platform::Utf8ToCp936(mac).size() < sizeof(DeviceRecord::mac);
}

// A text of these commands in the language chosen, its %1, %2... filled in.
std::string Said(const char* source, const std::vector<std::string>& values = {})
{
    return addressing::FilledIn(platform::TrUtf8(source), values);
}

// A plan's flag in the language chosen; Shown: as the terminal may show it.
std::string FlagSaid(const addressing::PlanFlag& flag)
{
    return addressing::FilledIn(platform::TrUtf8(flag.text), flag.values);
}

std::string FlagShown(const addressing::PlanFlag& flag)
{
    return TerminalText(FlagSaid(flag));
}

int Invalid(std::ostream& err, const std::string& message)
{
    err << TerminalText(platform::TrUtf8(message)) << '\n';
    return kExitUsage;
}

// The range checked as the plan dialog checks it: a message, or the values.
std::optional<std::string> CheckRange(const AddressOptions& o, addressing::PlanValues& values)
{
    const addressing::PlanEntries entries{addressing::ParseIpFields(o.gateway), addressing::ParseIpFields(o.start),
                                          addressing::ParseIpFields(o.end), addressing::ParseIpFields(o.mask)};
    return addressing::ValidatePlan(entries, values);
}

addressing::BatchPlan BatchPlanOf(const addressing::PlanValues& values)
{
    return {values.ipCount, values.startIp, values.gateWay, values.netMask};
}

// A search on a session of the command's own, its live line on the terminal.
site::SearchResult SearchCameras(protocol::DiscoverySession& session, const AddressOptions& o, LiveLine* live)
{
    protocol::InitTransport();
    site::SearchRequest request;
    request.seconds = o.seconds;
    request.interfaces = o.interfaces;
    return site::Search(session, request, SearchEvents(live));
}

// The range plan proposes for cameras found without one: the plan dialog's
// proposal in the network of the card the first camera answered on. A camera
// fresh from the factory answers from a subnet of its own, which the PC cannot
// reach. A message when no card is known.
std::optional<std::string> ProposeRange(const protocol::DeviceRow& first, AddressOptions& o, std::ostream& out)
{
    const std::string& card = first.arrival.localAddress;
    if (card.empty())
        return Said("the card the cameras answered on is not known: give --start, --end, --gateway and --mask");
    const addressing::PlanProposal proposal = addressing::ProposePlan(addressing::NetworkPrefix(card));
    o.start = proposal.start;
    o.end = proposal.end;
    o.gateway = proposal.gateway;
    o.mask = proposal.mask;
    out << Said("proposed %1 - %2, gateway %3, mask %4, in the network of %5",
                {o.start, o.end, o.gateway, o.mask, TerminalText(protocol::ArrivalText(first.arrival))})
        << '\n';
    return std::nullopt;
}

std::string ChangeText(bool sent)
{
    return sent ? platform::TrUtf8(msg::kChangeSucceeded) : site::FailureText(site::Failure::SendFailed);
}

int SetIp(const Arguments& args, std::ostream& out, std::ostream& err, const addressing::ChangeIpSender& send,
          const AddressConfirmer& confirm, LiveLine* live)
{
    std::string error;
    const auto o = ReadOptions(
        args, error,
        [](OptionReader& reader, AddressOptions& o) {
            if (reader.ValueOf({{"--mac", &o.mac}, {"--ip", &o.ip}, {"--mask", &o.mask}, {"--gateway", &o.gateway},
                                {"--report", &o.report}}))
                return true;
            if (reader.Is("--confirm-wait"))
                reader.Seconds(o.confirmWait, 1);
            else if (reader.Is("--no-confirm"))
                reader.Flag(o.confirm, false);
            else
                return false;
            return true;
        },
        [](OptionReader& reader, const AddressOptions& o) {
            reader.Require({{"--mac", &o.mac}, {"--ip", &o.ip}, {"--mask", &o.mask}, {"--gateway", &o.gateway}});
        });
    if (!o)
        return BadOptions(err, "set-ip", error);
    if (o->help)
        return ShowUsage(out, kSetIpUsage);
    const addressing::IpFields ip = addressing::ParseIpFields(o->ip);
    const addressing::IpFields mask = addressing::ParseIpFields(o->mask);
    const addressing::IpFields gateway = addressing::ParseIpFields(o->gateway);
    if (auto message = addressing::ValidateSingleChange(ip, mask, gateway))
        return Invalid(err, *message);
    if (!MacFits(o->mac))
        return Invalid(err, kMacError);

    const site::AddressChange change{o->mac, addressing::FormatOctets(ip.octets), addressing::FormatOctets(mask.octets),
                                     addressing::FormatOctets(gateway.octets)};
    site::ChangeResult result;
    bool waited = o->confirm;
    if (send) {
        // A test's stand-ins; a sender without a confirmer only sends.
        waited = waited && confirm;
        result.sent = send(change.mac, change.ip, change.gateway, change.mask);
        result.confirmed = result.sent && waited && confirm(change.mac, change.ip, o->confirmWait);
    } else {
        protocol::InitTransport();
        protocol::DiscoverySession session;
        const site::ReaddressResult done =
            site::Readdress(session, {{change}, o->interfaces, waited ? o->confirmWait : 0}, ReaddressEvents(live));
        if (!done.ok())
            return Failed(err, "set-ip", site::FailureText(done.failure));
        result = done.cameras.front();
    }

    SiteReport report;
    report.Camera(change.mac).newIp = change.ip;
    if (!result.sent || !waited) {
        // Sent and not waited for: success means the request went out.
        out << ChangeText(result.sent) << '\n';
        report.AddStatus(change.mac, ChangeText(result.sent));
        report.SetOutcome(change.mac, result.sent ? "sent" : "send failed");
        return SaveReport(report, o->report, err, "set-ip") && result.sent ? kExitOk : kExitFailed;
    }
    // The change counts once the camera answers at its new address: a MAC
    // that no camera has, or a camera that did not take the change, is a
    // failure and not "修改成功！".
    report.AddStatus(change.mac, "sent");
    if (result.confirmed) {
        out << ChangeText(true) << '\n';
        report.AddStatus(change.mac, "answered at " + change.ip);
    } else {
        err << "lynx-cli set-ip: "
            << Said("%1 did not answer at %2 within %3 s",
                    {TerminalText(change.mac), change.ip, std::to_string(o->confirmWait)})
            << '\n';
    }
    report.SetOutcome(change.mac, result.confirmed ? "confirmed" : "not confirmed");
    return SaveReport(report, o->report, err, "set-ip") && result.confirmed ? kExitOk : kExitFailed;
}

int Plan(const Arguments& args, std::ostream& out, std::ostream& err, LiveLine* live)
{
    std::string error;
    const auto o = ReadOptions(
        args, error,
        [](OptionReader& reader, AddressOptions& o) {
            if (ReadRange(reader, o) || reader.ValueOf({{"--write-plan", &o.writePlan}}))
                return true;
            if (!reader.Is("--seconds"))
                return false;
            reader.Seconds(o.seconds, 1);
            return true;
        },
        [](OptionReader& reader, const AddressOptions& o) {
            if (o.writePlan.empty() || RangeGiven(o))
                RequireRange(reader, o);
        });
    if (!o)
        return BadOptions(err, "plan", error);
    if (o->help)
        return ShowUsage(out, kPlanUsage);
    addressing::PlanValues values;
    if (RangeGiven(*o)) {
        if (const auto message = CheckRange(*o, values))
            return Invalid(err, *message);
    }
    if (o->writePlan.empty()) {
        out << values.ipCount << '\n';
        return kExitOk;
    }

    // The addresses assign would give the cameras found.
    protocol::DiscoverySession session;
    const site::SearchResult found = SearchCameras(session, *o, live);
    if (!found.ok())
        return Failed(err, "plan", site::FailureText(found.failure));
    if (found.rows.empty())
        return Failed(err, "plan", Said("no camera answered the search; no plan written"));
    if (!RangeGiven(*o)) {
        AddressOptions proposed = *o;
        if (const auto message = ProposeRange(found.rows.front(), proposed, out))
            return Failed(err, "plan", *message);
        if (const auto message = CheckRange(proposed, values))
            return Invalid(err, *message);
    }
    addressing::DevList devList;
    int index = 0;
    for (const protocol::DeviceRow& row : found.rows)
        devList[index++] = addressing::DevIpItem{protocol::FieldText(row.record.deviceIp), protocol::FieldText(row.record.mac)};
    if (!addressing::PlanHoldsDevices(values.ipCount, devList.size()))
        return Invalid(err, std::string(msg::kTooManyDevices) + " (" + std::to_string(devList.size()) + " cameras, " +
                                std::to_string(values.ipCount) + " addresses)");
    // The same assignment as assign's, every send taken as successful.
    const addressing::BatchOutcome outcome = addressing::AssignAddresses(
        devList, BatchPlanOf(values),
        [](const std::string&, const std::string&, const std::string&, const std::string&) { return true; });
    std::vector<addressing::PlanRow> rows;
    for (const auto& assignment : outcome.assignments)
        rows.push_back({0, devList.at(assignment.row).strMAC, assignment.newIp, values.netMask, values.gateWay});
    if (!platform::WriteFileWhole(o->writePlan, addressing::WritePlanCsv(rows), &error))
        return Failed(err, "plan", error);
    out << Said("wrote %1 rows to %2", {std::to_string(rows.size()), TerminalText(o->writePlan)}) << '\n';
    return kExitOk;
}

// The plan file's rows; none, with why said, when it cannot be read or parsed.
std::optional<std::vector<addressing::PlanRow>> ReadPlanFile(const std::string& path, std::ostream& err)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        Invalid(err, "lynx-cli assign: " + Said("cannot read '%1': %2", {path, std::strerror(errno)}));
        return std::nullopt;
    }
    // No more than one byte past the limit is read: a file that large is refused.
    std::string text(addressing::kMaxPlanBytes + 1, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(file.gcount()));
    addressing::PlanFlag fault;
    auto plan = addressing::ParsePlanCsv(text, &fault);
    if (!plan)
        Invalid(err, "lynx-cli assign: " + path + ", " + FlagSaid(fault));
    return plan;
}

// Each row of the checked plan with its flags; how many rows are flagged.
int PrintCheckedPlan(const std::vector<addressing::CheckedRow>& checked, std::ostream& out)
{
    int flagged = 0;
    for (const addressing::CheckedRow& row : checked) {
        out << Said("line %1  %2  %3 -> %4  mask %5  gateway %6",
                    {std::to_string(row.row.line), TerminalText(row.row.mac),
                     row.current ? TerminalText(row.current->ip) : Said("(not found)"), TerminalText(row.row.ip),
                     TerminalText(row.row.mask), TerminalText(row.row.gateway)})
            << '\n';
        for (const addressing::PlanFlag& flag : row.flags)
            out << "    ! " << FlagShown(flag) << '\n';
        flagged += row.flags.empty() ? 0 : 1;
    }
    out << Said("%1 rows, %2 flagged", {std::to_string(checked.size()), std::to_string(flagged)}) << std::endl;
    return flagged;
}

int RefuseFlaggedPlan(const std::vector<addressing::CheckedRow>& checked, int flagged, std::ostream& err)
{
    err << "lynx-cli assign: " << Said("the plan has %1 flagged rows; nothing was sent", {std::to_string(flagged)})
        << '\n';
    for (const addressing::CheckedRow& row : checked)
        for (const addressing::PlanFlag& flag : row.flags)
            err << "  " << Said("line %1 (%2): %3", {std::to_string(row.row.line), TerminalText(row.row.mac), FlagShown(flag)})
                << '\n';
    return kExitUsage;
}

// A checked plan without flags sent, each change confirmed, the report saved.
int ApplyPlan(protocol::DiscoverySession& session, const AddressOptions& o,
              const std::vector<addressing::CheckedRow>& checked, std::map<std::string, std::string>& versionOfMac,
              std::ostream& out, std::ostream& err, LiveLine* live)
{
    // Each camera is named by its MAC as it reported it.
    SiteReport report;
    site::ReaddressRequest request{{}, o.interfaces, o.confirmWait};
    for (const addressing::CheckedRow& row : checked) {
        const std::string& mac = row.current->mac;
        SiteReport::Row& entry = report.Camera(mac);
        entry.oldIp = row.current->ip;
        entry.newIp = row.row.ip;
        entry.oldVersion = entry.newVersion = versionOfMac[mac];  // an address change keeps the firmware
        request.changes.push_back({mac, row.row.ip, row.row.mask, row.row.gateway});
    }
    site::ReaddressEvents events = ReaddressEvents(live);
    events.sent = [&](size_t i, bool sent) {
        const site::AddressChange& change = request.changes[i];
        report.AddStatus(change.mac, ChangeText(sent));
        out << TerminalText(change.mac) << ' ' << TerminalText(checked[i].current->ip) << " -> " << change.ip << ' '
            << ChangeText(sent) << std::endl;
        if (!sent)
            report.SetOutcome(change.mac, "send failed");
    };
    events.answered = [&](size_t i) {
        const site::AddressChange& change = request.changes[i];
        report.AddStatus(change.mac, "answered at " + change.ip);
        report.SetOutcome(change.mac, "confirmed");
        out << Said("%1 answers at %2", {TerminalText(change.mac), change.ip}) << std::endl;
    };
    const site::ReaddressResult done = site::Readdress(session, request, events);
    if (!done.ok())
        return Failed(err, "assign", site::FailureText(done.failure));
    bool allConfirmed = true;
    for (size_t i = 0; i < done.cameras.size(); ++i) {
        allConfirmed = allConfirmed && done.cameras[i].confirmed;
        if (done.cameras[i].sent && !done.cameras[i].confirmed) {
            out << Said("%1 did not answer at %2", {TerminalText(request.changes[i].mac), request.changes[i].ip}) << std::endl;
            report.SetOutcome(request.changes[i].mac, "not confirmed");
        }
    }
    return SaveReport(report, o.report, err, "assign") && allConfirmed ? kExitOk : kExitFailed;
}

// `assign --plan`: the plan checked against a search, then applied and confirmed.
int AssignPlan(const Arguments& args, std::ostream& out, std::ostream& err, LiveLine* live)
{
    std::string error;
    const auto o = ReadOptions(
        args, error,
        [](OptionReader& reader, AddressOptions& o) {
            if (reader.ValueOf({{"--plan", &o.plan}, {"--report", &o.report}}))
                return true;
            if (reader.Is("--seconds") || reader.Is("--confirm-wait"))
                reader.Seconds(reader.Is("--seconds") ? o.seconds : o.confirmWait, 1);
            else if (reader.Is("--dry-run"))
                reader.Flag(o.dryRun);
            else
                return false;
            return true;
        },
        [](OptionReader&, const AddressOptions&) {});
    if (!o)
        return BadOptions(err, "assign", error);
    if (o->help)
        return ShowUsage(out, kAssignUsage);
    const auto plan = ReadPlanFile(o->plan, err);
    if (!plan)
        return kExitUsage;

    protocol::DiscoverySession session;
    const site::SearchResult found = SearchCameras(session, *o, live);
    if (!found.ok())
        return Failed(err, "assign", site::FailureText(found.failure));
    std::vector<addressing::FoundCamera> cameras;
    std::map<std::string, std::string> versionOfMac;
    for (const protocol::DeviceRow& row : found.rows) {
        const DeviceRecord& r = row.record;
        cameras.push_back({protocol::FieldText(r.mac), protocol::FieldText(r.deviceIp), protocol::FieldText(r.netMask), protocol::FieldText(r.gatewayIp)});
        versionOfMac[protocol::FieldText(r.mac)] = protocol::FieldText(r.softwareVersion);
    }
    const std::vector<addressing::CheckedRow> checked = addressing::CheckPlan(*plan, cameras);
    const int flagged = PrintCheckedPlan(checked, out);
    if (o->dryRun)
        return flagged ? kExitUsage : kExitOk;
    if (flagged)
        return RefuseFlaggedPlan(checked, flagged, err);
    return ApplyPlan(session, *o, checked, versionOfMac, out, err, live);
}

int Assign(const Arguments& args, std::ostream& out, std::ostream& err, const addressing::ChangeIpSender& send,
           LiveLine* live)
{
    for (const std::string& arg : args) {
        if (arg == "--plan" || arg.rfind("--plan=", 0) == 0)
            return AssignPlan(args, out, err, live);
    }
    std::string error;
    const auto o = ReadOptions(
        args, error,
        [](OptionReader& reader, AddressOptions& o) {
            if (ReadRange(reader, o) || reader.ValueOf({{"--report", &o.report}}))
                return true;
            if (!reader.Is("--mac"))
                return false;
            reader.Append(o.macs);
            return true;
        },
        RequireRange);
    if (!o)
        return BadOptions(err, "assign", error);
    if (o->help)
        return ShowUsage(out, kAssignUsage);
    if (o->macs.empty())
        return Invalid(err, msg::kSelectOne);
    addressing::PlanValues values;
    if (const auto message = CheckRange(*o, values))
        return Invalid(err, *message);

    // The devices in the order given stand for the ticked rows, top to bottom.
    // Their addresses before the change are not known here.
    addressing::DevList devList;
    int row = 0;
    for (const std::string& mac : o->macs) {
        if (!MacFits(mac))
            return Invalid(err, kMacError);
        devList[row++] = addressing::DevIpItem{std::string(), mac};
    }
    if (!addressing::PlanHoldsDevices(values.ipCount, devList.size()))
        return Invalid(err, msg::kTooManyDevices);

    std::optional<protocol::DiscoverySession> session;
    addressing::ChangeIpSender sender = send;
    if (!sender) {
        protocol::InitTransport();
        session.emplace();
        session->SetInterfaces(o->interfaces);
        if (const site::Failure failure = site::StartServers(*session, false); failure != site::Failure::None)
            return Failed(err, "assign", site::FailureText(failure));
        sender = site::SessionSender(*session);
    }
    const addressing::BatchOutcome outcome = addressing::AssignAddresses(devList, BatchPlanOf(values), sender);
    SiteReport report;
    for (const auto& assignment : outcome.assignments) {
        const std::string& mac = devList.at(assignment.row).strMAC;
        out << TerminalText(mac) << ' ' << assignment.newIp;
        if (!assignment.sent)
            out << ' ' << ChangeText(false);
        out << '\n';
        report.Camera(mac).newIp = assignment.newIp;
        report.AddStatus(mac, ChangeText(assignment.sent));
        report.SetOutcome(mac, assignment.sent ? "sent" : "send failed");
    }
    const std::string prefix = msg::kSomeFailedPrefix;
    out << (outcome.message.rfind(prefix, 0) == 0 ? platform::TrUtf8(prefix) + outcome.message.substr(prefix.size())
                                                   : platform::TrUtf8(outcome.message))
        << '\n';
    return SaveReport(report, o->report, err, "assign") && outcome.allSent() ? kExitOk : kExitFailed;
}

} // namespace

int RunSetIp(const Arguments& args, std::ostream& out, std::ostream& err, const addressing::ChangeIpSender& send,
             const AddressConfirmer& confirm)
{
    return SetIp(args, out, err, send, confirm, nullptr);
}

int RunPlan(const Arguments& args, std::ostream& out, std::ostream& err)
{
    return Plan(args, out, err, nullptr);
}

int RunAssign(const Arguments& args, std::ostream& out, std::ostream& err, const addressing::ChangeIpSender& send)
{
    return Assign(args, out, err, send, nullptr);
}

int RunSetIpCommand(const Arguments& args)
{
    return OnTerminal([&](LiveLine& live) { return SetIp(args, live.Out(), live.Err(), {}, {}, &live); });
}

int RunPlanCommand(const Arguments& args)
{
    return OnTerminal([&](LiveLine& live) { return Plan(args, live.Out(), live.Err(), &live); });
}

int RunAssignCommand(const Arguments& args)
{
    return OnTerminal([&](LiveLine& live) { return Assign(args, live.Out(), live.Err(), {}, &live); });
}

} // namespace lynx::cli
