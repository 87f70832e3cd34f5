#include "cli/WatchCommand.h"

#include "cli/Commands.h"
#include "cli/DeviceOutput.h"
#include "cli/OptionReader.h"
#include "platform/Translation.h"
#include "site/WatchFlow.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

namespace lynx::cli {

const char* WatchUsage()
{
    return R"(usage: lynx-cli watch [--interval S] [--missed N] [--duration S]
                      [--format table|json] [--interface NAME ...]

Searches the LAN every S seconds and prints, one line each, what changed:
  appeared     a camera answered for the first time
  disappeared  a camera did not answer N searches in a row
  returned     a camera that disappeared answers again
  address      a camera answers with another IP address, mask or gateway
  version      a camera answers with another software version
Cameras are told apart by MAC; a camera that misses fewer than N searches
and answers again is not reported.
  --interval S     seconds from one search to the next (default 10, 1..3600)
  --missed N       searches in a row a camera must miss to count as gone
                   (default 3, 1..1000)
  --duration S     stop after S seconds; by default it runs until Ctrl+C
                   (SIGINT) or SIGTERM
  --format         table (default) or json: one JSON object per line with
                   "time" (UTC), "event", "mac", "ip" and, as they apply,
                   "softwareVersion", "previousIp", "previousMask",
                   "previousGateway", "previousVersion", "lastHeard"
  --interface NAME search on this network card only (repeat for more); by
                   default every card that can broadcast
A summary goes to standard error at the end. The exit status is 0 when the
watch ended at its duration or on a signal, 1 when the first search went out
on no network card or the output could not be written, 2 for bad options.
)";
}

std::optional<WatchOptions> ParseWatchOptions(const std::vector<std::string>& args, std::string* error)
{
    WatchOptions options;
    OptionReader reader(args);
    std::string format;
    while (reader.Next()) {
        if (reader.Shared(options.interfaces, options.help))
            continue;
        if (reader.Is("--interval")) {
            reader.Number(options.intervalSeconds, 1, 3600);
        } else if (reader.Is("--missed")) {
            reader.Number(options.missedRounds, 1, 1000);
        } else if (reader.Is("--duration")) {
            long long seconds = 0;
            // A year: a longer one is a typing error, and its end must not overflow the clock.
            if (reader.Number(seconds, 1, 366LL * 24 * 3600))
                options.durationSeconds = seconds;
        } else if (reader.Is("--format")) {
            if (reader.Value(format)) {
                if (format == "table")
                    options.format = WatchFormat::Table;
                else if (format == "json")
                    options.format = WatchFormat::Json;
                else
                    reader.Fail("--format takes table or json, not '" + format + "'");
            }
        } else {
            reader.Unknown();
        }
    }
    return reader.Result(options, error);
}

namespace {

const char* EventWord(site::WatchEventKind kind)
{
    switch (kind) {
    case site::WatchEventKind::Appeared:
        return "appeared";
    case site::WatchEventKind::Disappeared:
        return "disappeared";
    case site::WatchEventKind::Returned:
        return "returned";
    case site::WatchEventKind::Address:
        return "address changed";
    case site::WatchEventKind::Version:
        return "version changed";
    case site::WatchEventKind::Missing:
        return "never answered";
    }
    return "";
}

// text, then spaces up to width terminal columns (at least one).
std::string Padded(const std::string& text, size_t width)
{
    const size_t taken = DisplayWidth(text);
    return text + std::string(taken < width ? width - taken + 1 : 1, ' ');
}

// The end of a watch asked by a signal: the handler only writes a byte into a
// pipe, which the watch waits on beside the reports.
class StopSignals {
public:
    StopSignals()
    {
        if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
            m_pipe[0] = m_pipe[1] = -1;
            return;
        }
        s_write = m_pipe[1];
        struct sigaction action {};
        action.sa_handler = &StopSignals::Handle;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGINT, &action, &m_oldInt);
        ::sigaction(SIGTERM, &action, &m_oldTerm);
    }
    ~StopSignals()
    {
        if (m_pipe[0] < 0)
            return;
        ::sigaction(SIGINT, &m_oldInt, nullptr);
        ::sigaction(SIGTERM, &m_oldTerm, nullptr);
        s_write = -1;
        ::close(m_pipe[0]);
        ::close(m_pipe[1]);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    bool Ready() const { return m_pipe[0] >= 0; }
    int ReadFd() const { return m_pipe[0]; }
    // Stops the watch from inside the program (the output failed).
    void Stop() const { Handle(0); }
    // Whether a signal (not the program itself) asked for the end.
    static bool Signalled() { return s_signal != 0; }

private:
    static void Handle(int signal)
    {
        const int saved = errno;
        if (signal != 0)
            s_signal = signal;
        const char byte = 1;
        if (s_write >= 0)
            [[maybe_unused]] ssize_t written = ::write(s_write, &byte, 1);
        errno = saved;
    }

    static inline volatile sig_atomic_t s_write = -1;
    static inline volatile sig_atomic_t s_signal = 0;
    int m_pipe[2] = {-1, -1};
    struct sigaction m_oldInt {};
    struct sigaction m_oldTerm {};
};

} // namespace

std::string WatchEventLine(const site::WatchEvent& event)
{
    std::string line = Padded(site::UtcTimeText(event.time), 24) + Padded(platform::TrUtf8(EventWord(event.kind)), 15) +
                       Padded(event.mac, 17) + Padded(event.ip.empty() ? "-" : event.ip, 15);
    const auto more = [&](const std::string& text) {
        if (!text.empty())
            line += text + "  ";
    };
    more(event.label);
    switch (event.kind) {
    case site::WatchEventKind::Address:
        more(platform::Tr("was %1 mask %2 gateway %3, now mask %4 gateway %5")
                 .arg(QString::fromStdString(event.previousIp), QString::fromStdString(event.previousMask),
                      QString::fromStdString(event.previousGateway), QString::fromStdString(event.mask),
                      QString::fromStdString(event.gateway))
                 .toStdString());
        break;
    case site::WatchEventKind::Version:
        more(event.previousVersion + " -> " + event.softwareVersion);
        break;
    case site::WatchEventKind::Disappeared:
        more(platform::Tr("last heard %1").arg(QString::fromStdString(site::UtcTimeText(event.lastHeard))).toStdString());
        break;
    default:
        more(event.softwareVersion);
        break;
    }
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line;
}

void WatchPrinter::Event(const site::WatchEvent& event)
{
    if (m_failed)
        return;
    m_out << (m_format == WatchFormat::Json ? site::WatchEventJson(event) : WatchEventLine(event)) << '\n'
          << std::flush;
    if (!m_out.good()) {
        m_failed = true;
        if (m_onFailure)
            m_onFailure();
    }
}

std::string WatchSummaryText(const site::WatchSummary& summary)
{
    const auto n = [](auto value) { return QString::number(static_cast<qulonglong>(value)); };
    const auto count = [&](site::WatchEventKind kind) { return n(summary.events[static_cast<size_t>(kind)]); };
    using site::WatchEventKind;
    std::string text =
        platform::Tr("watch ended after %1 searches: %2 cameras present, %3 disappeared, %4 expected but absent")
            .arg(n(summary.rounds), n(summary.present), n(summary.disappeared), n(summary.expectedAbsent))
            .toStdString() +
        "\n" +
        platform::Tr("events: %1 appeared, %2 disappeared, %3 returned, %4 address changes, %5 version changes, "
                     "%6 never answered")
            .arg(count(WatchEventKind::Appeared), count(WatchEventKind::Disappeared), count(WatchEventKind::Returned),
                 count(WatchEventKind::Address), count(WatchEventKind::Version), count(WatchEventKind::Missing))
            .toStdString() +
        "\n";
    for (const site::ExpectedCamera& camera : summary.absent)
        text += platform::Tr("absent: %1 %2")
                    .arg(QString::fromStdString(camera.mac), QString::fromStdString(camera.label))
                    .trimmed()
                    .toStdString() +
                "\n";
    if (summary.notTracked)
        text += platform::Tr("%1 answers of cameras beyond the first %2 were not followed")
                    .arg(n(summary.notTracked), n(site::Watch::kDefaultCapacity))
                    .toStdString() +
                "\n";
    return text;
}

int RunWatchCommand(const Arguments& args)
{
    std::string error;
    auto options = ParseWatchOptions(args, &error);
    if (!options)
        return BadOptions(std::cerr, "watch", error, WatchUsage());
    if (options->help)
        return ShowUsage(std::cout, WatchUsage());
    StopSignals stop;
    if (!stop.Ready())
        return Failed(std::cerr, "watch", std::string("cannot make a pipe: ") + std::strerror(errno));
    protocol::InitTransport();
    protocol::DiscoverySession session(protocol::DatagramInbox::Wake::EventFd);
    site::Watch watch(options->missedRounds);
    WatchPrinter printer(std::cout, options->format, [&] { stop.Stop(); });
    site::WatchRequest request;
    request.interval = std::chrono::seconds(options->intervalSeconds);
    if (options->durationSeconds)
        request.duration = std::chrono::seconds(*options->durationSeconds);
    request.interfaces = options->interfaces;
    request.stopFd = stop.ReadFd();
    // Every sink hears each event: the printer now, a publisher beside it later.
    site::WatchSinks sinks;
    sinks.Add(printer);
    const site::WatchRun run = site::RunWatch(session, watch, sinks, request);
    if (!run.ok())
        return Failed(std::cerr, "watch", site::FailureText(run.failure));
    std::cerr << WatchSummaryText(watch.Summary());
    if (run.roundsUnsent)
        std::cerr << platform::Tr("%1 searches went out on no network card").arg(run.roundsUnsent).toStdString()
                  << "\n";
    if (printer.Failed())
        return Failed(std::cerr, "watch",
                      std::string("cannot write to standard output: ") + std::strerror(errno ? errno : EIO));
    return watch.AllExpectedPresent() ? kExitOk : kExitFailed;
}

} // namespace lynx::cli
