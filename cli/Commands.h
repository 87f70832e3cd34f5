// The subcommands of lynx-cli. Each takes the arguments after its name and
// returns the process exit status: 0 done, 1 failed, 2 invalid input (after a
// message on stderr).
#pragma once

#include "site/SiteFile.h"

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace lynx::site {
class SiteReport;
}

namespace lynx::cli {

using site::SiteReport;
using Arguments = std::vector<std::string>;

struct Command {
    const char* name;
    const char* summary;
    int (*run)(const Arguments& args);
};

int RunSearchCommand(const Arguments& args);   // SearchCommand.cpp
int RunSetIpCommand(const Arguments& args);    // AddressCommands.cpp
int RunPlanCommand(const Arguments& args);
int RunAssignCommand(const Arguments& args);
int RunUpgradeCommand(const Arguments& args);  // UpgradeCommand.cpp
int RunCheckCommand(const Arguments& args);    // CheckCommand.cpp
int RunWatchCommand(const Arguments& args);    // WatchCommand.cpp

// Exit statuses shared by every command.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// The command's help (translated) on out: kExitOk.
int ShowUsage(std::ostream& out, const char* usage);
// "lynx-cli COMMAND: error" on err, then one line pointing to the command's
// --help, so that the error is not buried under the whole help: kExitUsage.
int BadOptions(std::ostream& err, const char* command, const std::string& error);
// "lynx-cli COMMAND: text" on err: kExitFailed.
int Failed(std::ostream& err, const char* command, const std::string& text);
// The site file at path; nullopt after "lynx-cli COMMAND: PATH: fault" on err
// for each of its faults (the whole file is checked before anything is sent).
// A file read as code page 936, not being UTF-8, is said so on err once.
std::optional<site::SiteFile> ReadSiteFileOrSayFaults(const std::string& path, std::ostream& err, const char* command);
// Writes report to path unless path is empty; false after "lynx-cli COMMAND:
// why" on err when it cannot.
bool SaveReport(const site::SiteReport& report, const std::string& path, std::ostream& err, const char* command);

} // namespace lynx::cli
