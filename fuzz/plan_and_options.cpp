// What people type or keep in files: lynx-cli's options (one argument a
// line) through every command's parser, with its address rules, and the
// simulator's camera file (the whole input as its JSON).
#include "CameraConfig.h"
#include "CommandLine.h"
#include "FuzzInput.h"
#include "addressing/AddressRules.h"
#include "addressing/IpFields.h"
#include "cli/AddressCommands.h"
#include "cli/SearchCommand.h"
#include "cli/UpgradeCommand.h"

#include <json/reader.h>

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
    const std::vector<std::string> args = Lines(text);
    std::string error;
    lynx::cli::ParseSearchOptions(args, &error);
    lynx::cli::ParseUpgradeOptions(args, &error);
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
