#include "cli/UpgradeCommand.h"

#include "cli/OptionReader.h"
#include "cli/SearchCommand.h"
#include "cli/SearchSession.h"
#include "protocol/JsonMessages.h"
#include "protocol/Transport.h"
#include "upgrade/LocalAddress.h"
#include "upgrade/UpgradeBatch.h"
#include "upgrade/UpgradeFileServer.h"

#include <arpa/inet.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <iostream>
#include <map>
#include <mutex>

namespace lynx::cli {

namespace {

using Clock = std::chrono::steady_clock;
using upgrade::UpgradeBatch;

std::optional<long long> WholeNumber(const std::string& text)
{
    long long n = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, n);
    if (text.empty() || ptr != end)
        return std::nullopt;
    if (ec == std::errc::result_out_of_range)
        return text[0] == '-' ? LLONG_MIN : LLONG_MAX;
    if (ec != std::errc())
        return std::nullopt;
    return n;
}

bool IsDottedIpv4(const std::string& text)
{
    in_addr address{};
    return ::inet_pton(AF_INET, text.c_str(), &address) == 1;
}

// The replies and notifications that arrive on the transport's threads, handed
// to the thread that runs the batch, as the window hands them to its UI thread.
class UpdateInbox {
public:
    static UpdateInbox& Instance()
    {
        static UpdateInbox inbox;
        return inbox;
    }
    static int OnDatagram(uint32_t, uint32_t, PacketHeader header, uint32_t length, const char* body)
    {
        UpdateInbox& inbox = Instance();
        std::lock_guard lock(inbox.m_mutex);
        if (inbox.m_open) {
            inbox.m_queue.push_back({header, std::string(body, length)});
            inbox.m_ready.notify_all();
        }
        return 0;
    }
    void Open()
    {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_queue.clear();
    }
    void Close()
    {
        std::lock_guard lock(m_mutex);
        m_open = false;
        m_queue.clear();
    }
    // Applies what arrives until deadline, or until done() answers true.
    void ApplyUntil(Clock::time_point deadline, UpgradeBatch& batch, const std::function<bool()>& done = {})
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            while (!m_queue.empty()) {
                Datagram datagram = std::move(m_queue.front());
                m_queue.pop_front();
                lock.unlock();
                batch.OnDatagram(datagram.header, datagram.body);
                lock.lock();
            }
            if ((done && done()) || Clock::now() >= deadline)
                return;
            m_ready.wait_until(lock, deadline);
        }
    }

private:
    struct Datagram {
        PacketHeader header;
        std::string body;
    };
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<Datagram> m_queue;
    bool m_open = false;
};

// The chosen devices as the rows of a list, every one ticked; status changes
// and the summary line are printed as they happen.
class ConsoleList : public upgrade::UpgradeListView {
public:
    ConsoleList(std::vector<DeviceRow> rows, std::ostream& out) : m_rows(std::move(rows)), m_out(out)
    {
        m_status.resize(m_rows.size());
    }

    int RowCount() const override { return static_cast<int>(m_rows.size()); }
    bool IsChecked(int) const override { return true; }
    std::string CellText(int row, int column) const override
    {
        const DeviceRow& device = m_rows.at(static_cast<size_t>(row));
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
        m_status[static_cast<size_t>(row)] = text;
        m_out << CellText(row, UpgradeBatch::kIpColumn) << "\t" << (text.empty() ? "(状态已清空)" : text) << std::endl;
    }
    void SetSummaryText(const std::string& text) override
    {
        if (text != m_summary)
            m_out << text << std::endl;
        m_summary = text;
    }
    void SetUpgrading(bool) override {}
    void AnnounceComplete() override { m_out << "升级完成" << std::endl; }

    const std::string& Status(int row) const { return m_status.at(static_cast<size_t>(row)); }
    const std::string& Summary() const { return m_summary; }

private:
    std::vector<DeviceRow> m_rows;
    std::ostream& m_out;
    std::vector<std::string> m_status;
    std::string m_summary;
};

std::optional<std::string> DeviceIdOf(const std::vector<DeviceRow>& rows, const std::function<bool(const DeviceRow&)>& match)
{
    for (const DeviceRow& row : rows) {
        if (match(row))
            return std::string(row.record.deviceId, strnlen(row.record.deviceId, sizeof row.record.deviceId));
    }
    return std::nullopt;
}

} // namespace

const char* UpgradeUsage()
{
    return R"(usage: lynx-cli upgrade --file FW.zip [--seconds N] [--wait S] (--all | --ip IP ...)
Searches the LAN for N seconds (default 12, brought into 1..3600), then tells
each chosen camera to download and install FW.zip from this tool's own HTTP
server (port 9000 upward), one camera every 3 seconds, without asking.
  --all      every camera that answered the search
  --ip IP    the camera with this address (repeat, or list several)
  --wait S   wait at most S seconds (default 600) for the cameras' reports
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
            const std::optional<long long> n = WholeNumber(value);
            if (!n || (a == "--wait" && *n < 0)) {
                *error = a + " takes a whole number" + (a == "--wait" ? " of at least 0" : "") + ", not '" + value + "'";
                return std::nullopt;
            }
            if (a == "--seconds")
                options.seconds = ClampSearchSeconds(*n);
            else
                options.waitSeconds = static_cast<int>(std::min<long long>(*n, 7 * 24 * 3600));
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

    upgrade::UpgradeFileServer::Options serverOptions;
    serverOptions.firstPort = 9000;
    serverOptions.onPortTried = [](int port) { g_nHttpPort = port; };
    serverOptions.notify = [&err](const std::string& text, std::stop_token) { err << text << std::endl; };
    upgrade::UpgradeFileServer server(serverOptions);
    if (!server.Start()) {
        err << "lynx-cli upgrade: no port from 9000 up is free for the firmware server\n";
        return kExitFailed;
    }

    SearchSession session;
    if (!session.Start(&error)) {
        err << "lynx-cli upgrade: " << error << "\n";
        return kExitFailed;
    }
    UpdateInbox& inbox = UpdateInbox::Instance();
    inbox.Open();
    struct InboxCloser {
        UpdateInbox& inbox;
        ~InboxCloser() { inbox.Close(); }
    } closer{inbox};
    // Replies also come to the clients of the send loop; this server takes
    // those sent to our port 8025, as the window's does.
    uint16_t updateServer = 0;
    tarn_StartUDPServer(&updateServer, &UpdateInbox::OnDatagram, 0, 0, protocol::kUpdatePort);

    if (!session.Search())
        err << "lynx-cli upgrade: the search request could not be sent\n";
    session.CollectFor(std::chrono::seconds(options->seconds));
    const std::vector<DeviceRow> found = session.Rows();

    std::vector<DeviceRow> chosen;
    int missing = 0;
    if (options->all) {
        chosen = found;
    } else {
        for (const std::string& ip : options->ips) {
            const auto row = std::find_if(found.begin(), found.end(),
                                          [&](const DeviceRow& r) { return ip == r.record.deviceIp; });
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

    auto listOwner = std::make_unique<ConsoleList>(chosen, out);
    ConsoleList& list = *listOwner;
    UpgradeBatch batch(std::move(listOwner));
    upgrade::DeviceLookup devices;
    devices.deviceIdOfNumber = [&found](int number) {
        return DeviceIdOf(found, [number](const DeviceRow& r) { return r.number == number; });
    };
    batch.Prepare(devices);

    upgrade::UpgradeSendHooks hooks;
    hooks.publishFile = [&server](const std::string& path, const std::string& name) { server.SetFile(path, name); };
    hooks.httpPort = [&server] { return server.Port(); };
    hooks.startClient = [](const std::string& ip, uint16_t& handle) {
        return tarn_StartUDPClient(&handle, ip.c_str(), protocol::kUpdatePort, &UpdateInbox::OnDatagram) == 1;
    };
    hooks.clientFailed = [&err] { err << "udp client error" << std::endl; };
    hooks.localAddress = [](const std::string& ip) { return upgrade::LocalAddressTowards(ip, protocol::kProbePort); };
    hooks.sendUpdate = [](const std::string& url, const std::string& deviceId, uint16_t handle, const std::string& ip,
                          uint32_t tag) {
        return protocol::SendToDevice(BuildJsonRequest("update", url.c_str(), deviceId.c_str()), handle, ip.c_str(), tag);
    };
    hooks.pause = [&](int milliseconds) {
        inbox.ApplyUntil(Clock::now() + std::chrono::milliseconds(milliseconds), batch);
    };
    batch.Confirm(options->file, hooks);
    if (batch.url().empty())
        err << "lynx-cli upgrade: no camera could be reached on TCP port 8021; the requests carry no download address\n";

    // A job is settled once it has reported, or when it was refused or never
    // sent: neither of those will report.
    inbox.ApplyUntil(Clock::now() + std::chrono::seconds(options->waitSeconds), batch, [&] { return batch.Settled(); });
    for (const UgInfo* job : batch.pending()) {
        if (job->state != UgState::Refused && job->state != UgState::SendFailed)
            out << job->ip << "\t" << "未报告升级结果" << std::endl;
    }
    out << list.Summary() << std::endl;
    const bool allSucceeded = missing == 0 && batch.succeeded() == static_cast<int>(chosen.size());
    return allSucceeded ? kExitOk : kExitFailed;
}

int RunUpgradeCommand(const Arguments& args)
{
    return RunUpgrade(args, std::cout, std::cerr);
}

} // namespace lynx::cli
