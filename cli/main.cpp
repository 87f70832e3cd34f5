// lynx-cli: Lynx's jobs without a window, through the same protocol code.
#include "cli/Commands.h"

#include "lynx/Version.h"
#include "platform/Translation.h"
#include "protocol/DiscoverySession.h"

#include <cerrno>
#include <cstdio>
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
    {"check", "check a site's cameras against its inventory", &lynx::cli::RunCheckCommand},
    {"watch", "report cameras that appear, go dark or change", &lynx::cli::RunWatchCommand},
};

// The help is written in English and shown in the language chosen, as every
// command's own help.
constexpr const char* kUsage =
    "usage: lynx-cli COMMAND [options]   (lynx-cli COMMAND --help for its options)\n"
    "       lynx-cli --help | --version\n"
    "Help and messages follow the locale (LC_ALL, LC_MESSAGES, LANG): Chinese when\n"
    "it starts with zh, English otherwise. LYNX_LANG=zh|en overrides the locale,\n"
    "and --lang zh|en overrides both.\n"
    "\n"
    "commands:";

void PrintUsage(std::ostream& out)
{
    out << lynx::platform::TrUtf8(kUsage) << "\n";
    for (const Command& c : kCommands)
        out << "  " << c.name << std::string(10 - std::min<size_t>(9, std::strlen(c.name)), ' ')
            << lynx::platform::TrUtf8(c.summary) << "\n";
}

// Whether everything printed reached standard output: a full disk or a closed
// pipe must not end in success with the list lost.
bool OutputWritten()
{
    std::cout.flush();
    const bool written = std::cout.good() && std::fflush(stdout) == 0;
    if (!written)
        std::cerr << "lynx-cli: cannot write to standard output: " << std::strerror(errno ? errno : EIO) << "\n";
    return written;
}

} // namespace

int main(int argc, char** argv)
{
    // --lang (anywhere), else LYNX_LANG, else the locale: help and messages
    // alike in that language. One not known is warned about and ignored.
    const lynx::platform::LanguageChoice language =
        lynx::platform::ChooseLanguage(argc, argv, lynx::platform::LanguageDefault::Locale);
    if (!language.error.empty()) {
        std::cerr << "lynx-cli: " << language.error << "\n";
        return lynx::cli::kExitUsage;
    }
    lynx::platform::SelectLanguage(language.lang);
    if (!language.unknown.empty())
        std::cerr << "lynx-cli: " << lynx::platform::UnknownLanguageWarning(language.unknown).toStdString() << "\n";
    if (argc < 2) {
        PrintUsage(std::cerr);
        return lynx::cli::kExitUsage;
    }
    std::string_view name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        PrintUsage(std::cout);
        return OutputWritten() ? lynx::cli::kExitOk : lynx::cli::kExitFailed;
    }
    if (name == "--version") {
        std::cout << "lynx-cli " << LYNX_VERSION << "\n";
        return OutputWritten() ? lynx::cli::kExitOk : lynx::cli::kExitFailed;
    }
    for (const Command& c : kCommands) {
        if (name == c.name) {
            int status = c.run(lynx::cli::Arguments(argv + 2, argv + argc));
            // The receive threads end before the process does.
            lynx::protocol::ShutdownTransport();
            return OutputWritten() ? status : lynx::cli::kExitFailed;
        }
    }
    std::cerr << "lynx-cli: "
              << lynx::platform::Tr("unknown command '%1'").arg(QString::fromUtf8(name.data(), name.size())).toStdString()
              << "\n"
              << lynx::platform::TrUtf8("Try 'lynx-cli --help'.") << "\n";
    return lynx::cli::kExitUsage;
}
