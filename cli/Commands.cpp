#include "cli/Commands.h"

#include "cli/TerminalText.h"
#include "site/SiteReport.h"

#include "platform/Translation.h"

#include <ostream>

namespace lynx::cli {

int ShowUsage(std::ostream& out, const char* usage)
{
    const std::string text = platform::TrUtf8(usage);
    out << text << (text.empty() || text.back() != '\n' ? "\n" : "");
    return kExitOk;
}

int BadOptions(std::ostream& err, const char* command, const std::string& error)
{
    err << "lynx-cli " << command << ": " << TerminalText(error) << "\n"
        << platform::Tr("Try 'lynx-cli %1 --help'.").arg(QString::fromUtf8(command)).toStdString() << "\n";
    return kExitUsage;
}

int Failed(std::ostream& err, const char* command, const std::string& text)
{
    err << "lynx-cli " << command << ": " << TerminalText(text) << "\n";
    return kExitFailed;
}

std::optional<site::SiteFile> ReadSiteFileOrSayFaults(const std::string& path, std::ostream& err, const char* command)
{
    std::vector<site::SiteFileFault> faults;
    std::optional<site::SiteFile> site = site::ReadSiteFile(path, &faults);
    if (!site) {
        for (const site::SiteFileFault& fault : faults)
            err << "lynx-cli " << command << ": " << TerminalText(path) << ": " << TerminalText(site::FaultText(fault))
                << "\n";
    } else if (site->readAsCp936) {
        err << "lynx-cli " << command << ": " << TerminalText(path) << ": "
            << TerminalText(platform::TrUtf8(site::kReadAsCp936)) << "\n";
    }
    return site;
}

bool SaveReport(const site::SiteReport& report, const std::string& path, std::ostream& err, const char* command)
{
    std::string error;
    if (path.empty() || report.Write(path, &error))
        return true;
    err << "lynx-cli " << command << ": " << error << '\n';
    return false;
}

} // namespace lynx::cli
