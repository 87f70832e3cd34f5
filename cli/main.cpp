// lynx-cli: Lynx's jobs without a window, through the same protocol code.
#include "cli/Commands.h"

#include "lynx/Version.h"
#include "platform/Translation.h"
#include "tarn.h"

#include <cstring>
#include <iostream>
#include <string_view>

namespace {

using lynx::cli::Command;

// One line per subcommand; each lives in a file of its own.
const Command kCommands[] = {
    {"search", "list the cameras that answer a search", &lynx::cli::RunSearchCommand},
    {"set-ip", "change one camera's address", &lynx::cli::RunSetIpCommand},
    {"plan", "check a batch address plan", &lynx::cli::RunPlanCommand},
    {"assign", "readdress cameras from a plan", &lynx::cli::RunAssignCommand},
    {"upgrade", "upgrade the firmware of cameras", &lynx::cli::RunUpgradeCommand},
};

void PrintUsage(std::ostream& out)
{
    out << "usage: lynx-cli COMMAND [options]   (lynx-cli COMMAND --help for its options)\n"
           "       lynx-cli --help | --version\n"
           "--lang en (or LYNX_LANG=en) prints the messages in English.\n\ncommands:\n";
    for (const Command& c : kCommands)
        out << "  " << c.name << std::string(10 - std::min<size_t>(9, std::strlen(c.name)), ' ') << c.summary << "\n";
}

} // namespace

int main(int argc, char** argv)
{
    // --lang en (anywhere) or LYNX_LANG=en: the messages in English.
    std::string error;
    const std::string lang = lynx::platform::LanguageFromArguments(argc, argv, &error);
    if (!error.empty()) {
        std::cerr << "lynx-cli: " << error << "\n";
        return lynx::cli::kExitUsage;
    }
    lynx::platform::SelectLanguage(lang);
    if (argc < 2) {
        PrintUsage(std::cerr);
        return lynx::cli::kExitUsage;
    }
    std::string_view name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        PrintUsage(std::cout);
        return lynx::cli::kExitOk;
    }
    if (name == "--version") {
        std::cout << "lynx-cli " << LYNX_VERSION << "\n";
        return lynx::cli::kExitOk;
    }
    for (const Command& c : kCommands) {
        if (name == c.name) {
            int status = c.run(lynx::cli::Arguments(argv + 2, argv + argc));
            // The receive threads end before the process does.
            tarn_ext_Shutdown();
            return status;
        }
    }
    std::cerr << "lynx-cli: unknown command '" << name << "'\n";
    PrintUsage(std::cerr);
    return lynx::cli::kExitUsage;
}
