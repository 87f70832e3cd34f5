#include "cli/AddressCommands.h"

#include "addressing/AddressRules.h"
#include "addressing/Messages.h"
#include "cli/InterfaceOption.h"
#include "platform/CodePage.h"
#include "protocol/DiscoverySession.h"
#include "protocol/Transport.h"

#include <cstring>
#include <iostream>
#include <map>
#include <optional>

namespace lynx::cli {

namespace {

namespace msg = addressing::msg;

constexpr const char* kMacError = "MAC地址错误！";
constexpr const char* kSetIpUsage =
    "usage: lynx-cli set-ip --mac MAC --ip IP --mask MASK --gateway GW [--interface NAME ...]\n"
    "  broadcast on every network card, or on the named ones";
constexpr const char* kPlanUsage = "usage: lynx-cli plan --start IP --end IP --gateway IP --mask MASK";
constexpr const char* kAssignUsage =
    "usage: lynx-cli assign --start IP --end IP --gateway IP --mask MASK --mac MAC [--mac MAC ...]\n"
    "                      [--interface NAME ...]\n"
    "  gives the devices, in the order given, consecutive addresses from the start,\n"
    "  skipping the gateway; a failed device's address goes to the next device;\n"
    "  broadcast on every network card, or on the named ones";

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
                     const std::vector<std::string>& repeatable = {})
{
    Options options;
    auto known = [&](const std::string& name) {
        if (name == kInterface)
            return true;
        for (const auto& n : required)
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

// The report port's server, through which the changeIp requests are
// broadcast on the chosen cards, for the life of one command.
class ReportPort {
public:
    explicit ReportPort(protocol::InterfaceNames interfaces)
    {
        protocol::InitTransport();
        m_session.StartServers(false);
        m_session.SetInterfaces(std::move(interfaces));
    }
    ReportPort(const ReportPort&) = delete;
    ReportPort& operator=(const ReportPort&) = delete;

    bool SendChangeIp(const std::string& mac, const std::string& ip, const std::string& gateway,
                      const std::string& mask)
    {
        return m_session.SendChangeIp(protocol::MakeChangeIpRecord(mac, ip, gateway, mask));
    }

private:
    protocol::DiscoverySession m_session;
};

int Invalid(std::ostream& err, const std::string& message)
{
    err << message << '\n';
    return kExitUsage;
}

// Runs body with the given sender, or with the real report port when none.
template <class Body>
int WithSender(const addressing::ChangeIpSender& given, const Options& options, Body body)
{
    if (given)
        return body(given);
    ReportPort port(options.all(kInterface));
    return body(addressing::ChangeIpSender(
        [&port](const std::string& mac, const std::string& ip, const std::string& gateway, const std::string& mask) {
            return port.SendChangeIp(mac, ip, gateway, mask);
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

} // namespace

int RunSetIp(const Arguments& args, std::ostream& out, std::ostream& err, const addressing::ChangeIpSender& send)
{
    if (AsksForHelp(args)) {
        out << kSetIpUsage << '\n';
        return kExitOk;
    }
    const Options options = ParseOptions(args, {"mac", "ip", "mask", "gateway"});
    if (!options.error.empty())
        return Invalid(err, options.error + "\n" + kSetIpUsage);

    const addressing::IpFields ip = addressing::ParseIpFields(options.one("ip"));
    const addressing::IpFields mask = addressing::ParseIpFields(options.one("mask"));
    const addressing::IpFields gateway = addressing::ParseIpFields(options.one("gateway"));
    if (auto message = addressing::ValidateSingleChange(ip, mask, gateway))
        return Invalid(err, *message);
    const std::string& mac = options.one("mac");
    if (!MacFits(mac))
        return Invalid(err, kMacError);

    return WithSender(send, options, [&](const addressing::ChangeIpSender& sender) {
        const bool sent = sender(mac, addressing::FormatOctets(ip.octets), addressing::FormatOctets(gateway.octets),
                                 addressing::FormatOctets(mask.octets));
        out << (sent ? msg::kChangeSucceeded : msg::kChangeFailed) << '\n';
        return sent ? kExitOk : kExitFailed;
    });
}

int RunPlan(const Arguments& args, std::ostream& out, std::ostream& err)
{
    if (AsksForHelp(args)) {
        out << kPlanUsage << '\n';
        return kExitOk;
    }
    const Options options = ParseOptions(args, {"start", "end", "gateway", "mask"});
    if (!options.error.empty())
        return Invalid(err, options.error + "\n" + kPlanUsage);
    const CheckedPlan checked = CheckPlan(options);
    if (checked.message)
        return Invalid(err, *checked.message);
    out << checked.values.ipCount << '\n';
    return kExitOk;
}

int RunAssign(const Arguments& args, std::ostream& out, std::ostream& err, const addressing::ChangeIpSender& send)
{
    if (AsksForHelp(args)) {
        out << kAssignUsage << '\n';
        return kExitOk;
    }
    const Options options = ParseOptions(args, {"start", "end", "gateway", "mask", "mac"}, {"mac"});
    if (!options.error.empty())
        return Invalid(err, options.error + "\n" + kAssignUsage);
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

    return WithSender(send, options, [&](const addressing::ChangeIpSender& sender) {
        const addressing::BatchOutcome outcome = addressing::AssignAddresses(devList, plan, sender);
        for (const auto& assignment : outcome.assignments) {
            out << devList.at(assignment.row).strMAC << ' ' << assignment.newIp;
            if (!assignment.sent)
                out << ' ' << msg::kChangeFailed;
            out << '\n';
        }
        out << outcome.message << '\n';
        return outcome.allSent() ? kExitOk : kExitFailed;
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
