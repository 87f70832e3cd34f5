#include "cli/UpgradeCommand.h"

#include "cli/InterfaceOption.h"
#include "cli/OptionReader.h"
#include "cli/SearchCommand.h"
#include "platform/Numbers.h"
#include "protocol/DiscoverySession.h"
#include "upgrade/UpgradeRun.h"

#include <arpa/inet.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <iostream>

namespace lynx::cli {

namespace {

using upgrade::UpgradeBatch;

bool IsDottedIpv4(const std::string& text)
{
    in_addr address{};
    return ::inet_pton(AF_INET, text.c_str(), &address) == 1;
}

// The chosen devices as the rows of a list, every one ticked; status changes
// and the summary line are printed as they happen.
class ConsoleList : public upgrade::UpgradeListView {
public:
    explicit ConsoleList(std::ostream& out) : m_out(out) {}

    void SetRows(std::vector<protocol::DeviceRow> rows) { m_rows = std::move(rows); }
    int RowCount() const override { return static_cast<int>(m_rows.size()); }
    bool IsChecked(int) const override { return true; }
    std::string CellText(int row, int column) const override
    {
        const protocol::DeviceRow& device = m_rows.at(static_cast<size_t>(row));
        if (column == UpgradeBatch::kNumberColumn)
            return std::to_string(device.number);
        if (column == UpgradeBatch::kIpColumn)
            return std::string(device.record.deviceIp, strnlen(device.record.deviceIp, sizeof device.record.deviceIp));
        return {};
    }
    void SetStatusText(int row, const std::string& text) override
    {
        if (row < 0 || row >= RowCount())
            return;
        m_out << CellText(row, UpgradeBatch::kIpColumn) << "\t" << (text.empty() ? "(状态已清空)" : text) << std::endl;
    }
    void SetSummaryText(const std::string& text) override
    {
        if (text != m_summary)
            m_out << text << std::endl;
        m_summary = text;
    }
    void SetUpgrading(bool) override {}
    void AnnounceComplete() override { m_out << upgrade::msg::kBatchComplete << std::endl; }

    const std::string& Summary() const { return m_summary; }

private:
    std::vector<protocol::DeviceRow> m_rows;
    std::ostream& m_out;
    std::string m_summary;
};

} // namespace

const char* UpgradeUsage()
{
    return R"(usage: lynx-cli upgrade --file FW.zip [--seconds N] [--wait S] [--interface NAME ...]
                        (--all | --ip IP ...)
Searches the LAN for N seconds (default 12, brought into 1..3600), then tells
each chosen camera to download and install FW.zip from this tool's own HTTP
server (port 9000 upward), one camera every 3 seconds, without asking.
  --all      every camera that answered the search
  --ip IP    the camera with this address (repeat, or list several)
  --wait S   wait at most S seconds (default 600) for the cameras' reports
  --interface NAME  search on this network card only (repeat for more)
Each status change is printed as it happens, with the summary line. The exit
status is 0 when every chosen camera reported success, 1 otherwise, and 2 for
input that is not understood.
)";
}

std::optional<UpgradeOptions> ParseUpgradeOptions(const std::vector<std::string>& args, std::string* error)
{
    UpgradeOptions options;
    bool sawIp = false;
    OptionReader reader(args);
    std::string value;
    while (reader.Next()) {
        const std::string& a = reader.Name();
        if (a == "--file") {
            if (!reader.TakeValue(value, error))
                return std::nullopt;
            options.file = value;
        } else if (a == "--seconds" || a == "--wait") {
            if (!reader.TakeValue(value, error))
                return std::nullopt;
            const std::optional<long long> n = platform::WholeNumber(value);
            if (!n || (a == "--wait" && *n < 0)) {
                *error = a + " takes a whole number" + (a == "--wait" ? " of at least 0" : "") + ", not '" + value + "'";
                return std::nullopt;
            }
            if (a == "--seconds")
                options.seconds = ClampSearchSeconds(*n);
            else
                options.waitSeconds = static_cast<int>(std::min<long long>(*n, 7 * 24 * 3600));
        } else if (a == "--interface") {
            if (!reader.TakeValue(value, error))
                return std::nullopt;
            options.interfaces.push_back(value);
        } else if (a == "--ip") {
            sawIp = true;
            if (!reader.TakeValue(value, error))
                return std::nullopt;
            // Further addresses may follow without repeating --ip.
            for (;;) {
                if (!IsDottedIpv4(value)) {
                    *error = "--ip takes an IPv4 address, not '" + value + "'";
                    return std::nullopt;
                }
                if (std::find(options.ips.begin(), options.ips.end(), value) == options.ips.end())
                    options.ips.push_back(value);
                if (reader.HasInlineValue() || !reader.TakeFollowing(value))
                    break;
            }
        } else if (reader.HasInlineValue()) {
            *error = a + " takes no value";
            return std::nullopt;
        } else if (a == "--all") {
            options.all = true;
        } else if (a == "--help" || a == "-h") {
            options.help = true;
        } else {
            *error = "unknown option '" + a + "'";
            return std::nullopt;
        }
    }
    if (options.help)
        return options;
    if (options.file.empty()) {
        *error = "--file is required";
        return std::nullopt;
    }
    struct stat status {};
    if (::stat(options.file.c_str(), &status) != 0 || !S_ISREG(status.st_mode) || ::access(options.file.c_str(), R_OK) != 0) {
        *error = "'" + options.file + "' is not a readable file";
        return std::nullopt;
    }
    if (!CheckInterfaceNames(options.interfaces, error))
        return std::nullopt;
    if (options.all == sawIp) {
        *error = options.all ? "--all and --ip exclude each other" : "choose the cameras with --all or --ip";
        return std::nullopt;
    }
    return options;
}

int RunUpgrade(const Arguments& args, std::ostream& out, std::ostream& err)
{
    std::string error;
    const std::optional<UpgradeOptions> options = ParseUpgradeOptions(args, &error);
    if (!options) {
        err << "lynx-cli upgrade: " << error << "\n" << UpgradeUsage();
        return kExitUsage;
    }
    if (options->help) {
        out << UpgradeUsage();
        return kExitOk;
    }

    // One session receives everything: the reports of the search, and the
    // replies and notifications on port 8025 and on each camera's client.
    protocol::InitTransport();
    protocol::DiscoverySession session;
    auto listOwner = std::make_unique<ConsoleList>(out);
    ConsoleList& list = *listOwner;
    upgrade::UpgradeRun run(std::move(listOwner), {});
    const auto toBatch = [&run](protocol::Datagram& datagram) {
        run.Batch().OnDatagram(datagram.header, datagram.body, datagram.peerAddress);
    };
    const protocol::DuplicateFilter filter;
    upgrade::UpgradeRun::FrontEnd frontEnd;
    frontEnd.replies = &protocol::DiscoverySession::ReceiveUpdate;
    frontEnd.pause = [&](int milliseconds) { session.CollectFor(std::chrono::milliseconds(milliseconds), filter, toBatch); };
    frontEnd.clientFailed = [&err] { err << upgrade::msg::kClientError << std::endl; };
    run.SetFrontEnd(std::move(frontEnd));

    upgrade::UpgradeFileServer::Options serverOptions;
    serverOptions.firstPort = 9000;
    serverOptions.notify = [&err](const std::string& text, std::stop_token) { err << text << std::endl; };
    if (!run.StartOwnServer(serverOptions)) {
        err << "lynx-cli upgrade: no port from 9000 up is free for the firmware server\n";
        return kExitFailed;
    }
    if (!session.StartServers()) {
        err << "lynx-cli upgrade: cannot receive on UDP port " << protocol::kReportPort << "\n";
        return kExitFailed;
    }
    session.SetInterfaces(options->interfaces);
    if (!session.Search()) {
        err << "lynx-cli upgrade: the search request went out on no network interface\n";
        return kExitFailed;
    }
    session.CollectFor(std::chrono::seconds(options->seconds), filter);
    const std::vector<protocol::DeviceRow> found = session.Table().Rows();

    std::vector<protocol::DeviceRow> chosen;
    int missing = 0;
    if (options->all) {
        chosen = found;
    } else {
        for (const std::string& ip : options->ips) {
            const auto row = std::find_if(found.begin(), found.end(),
                                          [&](const protocol::DeviceRow& r) { return ip == r.record.deviceIp; });
            if (row == found.end()) {
                err << "lynx-cli upgrade: no camera answered from " << ip << "\n";
                ++missing;
            } else {
                chosen.push_back(*row);
            }
        }
    }
    if (chosen.empty()) {
        err << "lynx-cli upgrade: no camera to upgrade\n";
        return kExitFailed;
    }

    list.SetRows(chosen);
    upgrade::DeviceLookup devices;
    devices.deviceIdOfNumber = [&session](int number) -> std::optional<std::string> {
        const DeviceRecord* record = session.Table().ByNumber(number);
        if (!record)
            return std::nullopt;
        return std::string(record->deviceId, strnlen(record->deviceId, sizeof record->deviceId));
    };
    run.Batch().Prepare(devices);
    run.Confirm(options->file);
    if (run.Batch().url().empty())
        err << "lynx-cli upgrade: no camera could be reached on TCP port 8021; the requests carry no download address\n";

    // Settled once every job has reported, or was refused or never sent:
    // neither of those will report.
    session.CollectUntil(protocol::DiscoverySession::Clock::now() + std::chrono::seconds(options->waitSeconds), filter,
                         toBatch, [&run] { return run.Batch().Settled(); });
    for (const UgInfo* job : run.Batch().pending()) {
        if (!upgrade::WillNotReport(job->state))
            out << job->ip << "\t" << "未报告升级结果" << std::endl;
    }
    out << list.Summary() << std::endl;
    const bool allSucceeded = missing == 0 && run.Batch().succeeded() == static_cast<int>(chosen.size());
    return allSucceeded ? kExitOk : kExitFailed;
}

int RunUpgradeCommand(const Arguments& args)
{
    return RunUpgrade(args, std::cout, std::cerr);
}

} // namespace lynx::cli
