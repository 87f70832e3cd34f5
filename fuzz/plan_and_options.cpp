// What people type or keep in files: lynx-cli's options (one argument a
// line) through every command's parser, with its address rules, the address
// plan file (the whole input as one, checked against a few cameras found), a
// site's expected inventory (the whole input as one, classified against a few
// devices), and the simulator's camera file (the whole input as its JSON).
#include "CameraConfig.h"
#include "CommandLine.h"
#include "FuzzInput.h"
#include "addressing/AddressRules.h"
#include "addressing/IpFields.h"
#include "addressing/PlanFile.h"
#include "cli/AddressCommands.h"
#include "cli/CheckCommand.h"
#include "cli/SearchCommand.h"
#include "cli/UpgradeCommand.h"
#include "site/Acceptance.h"

#include <json/reader.h>

#include <cstdlib>
#include <sstream>
#include <vector>

namespace {

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> args = Lines(text);
    // Options that search the network or write files are left to the tests.
    for (std::string& arg : args) {
        for (const char* worldly : {"--plan", "--write-plan", "--report", "--site"})
            if (arg.rfind(worldly, 0) == 0)
                arg = "--x";
    }
    std::string error;
    lynx::cli::ParseSearchOptions(args, &error);
    lynx::cli::ParseUpgradeOptions(args, &error);
    lynx::cli::ParseCheckOptions(args, &error);
    std::ostringstream out, err;
    // The address commands, with a send that goes nowhere.
    const lynx::addressing::ChangeIpSender nowhere = [](const std::string&, const std::string&, const std::string&,
                                                        const std::string&) { return true; };
    lynx::cli::RunSetIp(args, out, err, nowhere);
    lynx::cli::RunPlan(args, out, err);
    lynx::cli::RunAssign(args, out, err, nowhere);
    // Every line as an address, every four as a plan, every three as a change.
    std::vector<lynx::addressing::IpFields> fields;
    for (const std::string& arg : args)
        fields.push_back(lynx::addressing::ParseIpFields(arg));
    for (size_t i = 0; i + 3 < fields.size(); i += 4) {
        lynx::addressing::PlanValues values;
        lynx::addressing::ValidatePlan({fields[i], fields[i + 1], fields[i + 2], fields[i + 3]}, values);
        lynx::addressing::ValidateSingleChange(fields[i], fields[i + 1], fields[i + 2]);
    }
    // The plan file, against cameras that hold some of its addresses.
    if (const auto plan = lynx::addressing::ParsePlanCsv(text, &error)) {
        std::vector<lynx::addressing::FoundCamera> found{
            {"00:1A:2B:00:00:01", "192.168.1.101", "255.255.255.0", "192.168.1.1"},
            {"00-1a-2b-00-00-02", "192.168.1.102", "255.255.255.0", "192.168.1.1"}};
        if (!plan->empty())
            found.push_back({"AA:BB:CC:DD:EE:FF", plan->front().ip, plan->front().mask, plan->front().gateway});
        const auto checked = lynx::addressing::CheckPlan(*plan, found);
        if (checked.size() != plan->size())
            std::abort();
        // A plan written back reads as the same rows.
        const auto again = lynx::addressing::ParsePlanCsv(lynx::addressing::WritePlanCsv(*plan), &error);
        if (!again || again->size() != plan->size())
            std::abort();
        for (size_t i = 0; i < plan->size(); ++i) {
            const auto& a = (*plan)[i];
            const auto& b = (*again)[i];
            if (a.mac != b.mac || a.ip != b.ip || a.mask != b.mask || a.gateway != b.gateway)
                std::abort();
        }
    }
    // The site file, its cameras against devices that hold some of its
    // addresses: one state each, and every camera found again by its MAC.
    std::vector<lynx::site::SiteFileFault> faults;
    if (const auto site = lynx::site::ParseSiteFile(text, &faults)) {
        if (!faults.empty() || site->cameras.empty())
            std::abort();
        lynx::protocol::DeviceTable table;
        const auto report = [](const std::string& ip, const std::string& mac) {
            return R"({"data":{"deviceIp":")" + ip + R"(","netMask":"255.255.255.0","gatewayIp":"192.168.1.1",)" +
                   R"("deviceId":"F","machineInfo":{"mac":")" + mac + R"(","softwareVersion":"V1"}}})";
        };
        table.AddReport(report("192.168.1.101", "00:1A:2B:00:00:01"), {});
        table.AddReport(report(site->cameras.front().ip, "AA:BB:CC:DD:EE:FF"), {});
        table.AddReport(report(site->cameras.front().ip, site->cameras.front().mac), {});
        const auto result = lynx::site::CheckAcceptance(*site, table, "V1");
        const auto& s = result.summary;
        if (s.expected != site->cameras.size() || s.ok + s.address + s.version + s.missing + s.conflict != s.expected ||
            result.cameras.size() != s.expected + s.unexpected)
            std::abort();
        for (const auto& camera : site->cameras)
            if (site->Find(camera.mac) != &camera)
                std::abort();
        lynx::site::SummaryText(s);
    } else {
        for (const auto& fault : faults)
            lynx::site::FaultText(fault);
    }
    // The simulator's command line and camera file.
    try {
        camsim::ParseCommandLine(args);
    } catch (const std::exception&) {
    }
    try {
        Json::Value root;
        Json::CharReaderBuilder builder;
        std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        if (reader->parse(text.data(), text.data() + text.size(), &root, nullptr))
            camsim::CamerasFromJson(root, camsim::CameraBehaviour{});
    } catch (const std::exception&) {
        // A camera file that is not one is refused with a message.
    }
    return 0;
}
