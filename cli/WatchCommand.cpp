#include "cli/WatchCommand.h"

#include "cli/Commands.h"
#include "cli/DeviceOutput.h"
#include "cli/OptionReader.h"
#include "cli/TerminalText.h"
#include "cli/TextTable.h"
#include "platform/MacKey.h"
#include "platform/Translation.h"
#include "site/HearsaySenders.h"
#include "site/WatchFlow.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>

namespace lynx::cli {

const char* WatchUsage()
{
    return R"(usage: lynx-cli watch [--interval S] [--missed N] [--duration S]
                      [--format table|json] [--site FILE]
                      [--publish mqtt[s]://HOST[:PORT]/TOPIC [--mqtt-user NAME]
                       [--mqtt-password-file FILE] [--mqtt-cafile FILE]
                       [--mqtt-cert FILE --mqtt-key FILE] [--mqtt-keepalive S]]
                      [--interface NAME ...]

Searches the LAN every S seconds and prints, one line each, what changed:
  appeared     a camera answered for the first time
  disappeared  a camera did not answer N searches in a row
  returned     a camera that disappeared answers again
  address      a camera answers with another IP address, mask or gateway
  version      a camera answers with another software version
  missing      a camera of the site file did not answer the first N searches
  unexpected   a camera not in the site file answered for the first time
Cameras are told apart by MAC; a camera that misses fewer than N searches
and answers again is not reported.
  --interval S     seconds from one search to the next (default 10, 1..3600)
  --missed N       searches in a row a camera must miss to count as gone
                   (default 3, 1..1000)
  --duration S     stop after S seconds; by default it runs until Ctrl+C
                   (SIGINT) or SIGTERM
  --format         table (default) or json: one JSON object per line with
                   "time" (UTC), "event", "mac", "ip" and, as they apply,
                   "label", "softwareVersion", "previousIp", "previousMask",
                   "previousGateway", "previousVersion", "lastHeard"
  --site FILE      the cameras the site should have, by MAC, in a file that
                   check --site reads (an address plan or a list the window
                   exported; an optional column label names each camera):
                   each event of theirs carries its "label". A file with
                   faults is refused, each fault named, and nothing is sent
  --publish URL    also publish each event, the JSON object --format json
                   prints, to the MQTT broker at mqtt://HOST[:PORT]/TOPIC
                   (port 1883 by default), or over TLS at
                   mqtts://HOST[:PORT]/TOPIC (port 8883 by default): on
                   TOPIC/MAC (MAC written 00:1A:2B:3C:4D:5E), retained, at
                   QoS 1. TOPIC/status holds "online" (retained) while the
                   watch is connected, and "offline" once it has ended or
                   been lost (left with the broker as its last will). A
                   broker that is away is said and tried again, its events
                   kept meanwhile (the oldest dropped beyond 10000); at the
                   end it is given 5 seconds to take the rest
  --mqtt-cafile FILE
                   the certificate authorities (PEM) that vouch for an
                   mqtts:// broker; by default the system's (/etc/ssl/certs).
                   The broker's certificate must name the URL's host or
                   address: a broker whose certificate does not verify is
                   said once, and nothing is sent to it
  --mqtt-cert FILE --mqtt-key FILE
                   a client certificate (PEM) and its key, for a broker that
                   asks for one
  --mqtt-user NAME log in to the broker as NAME; the password is the first
                   line of --mqtt-password-file FILE, or else the environment
                   variable LYNX_MQTT_PASSWORD, never on the command line,
                   where every user of the PC sees it. A login the broker
                   refuses ends the watch
  --mqtt-keepalive S
                   seconds between the watch's signs of life to the broker
                   (default 10, 5..3600): a watch killed or cut off shows as
                   "offline" within 1.5 times this
  --interface NAME search on this network card only (repeat for more); by
                   default every card that can broadcast
The watch follows 65536 cameras at most; when a new one would be more, that
is said once, and cameras that disappeared (not those of the site file) are
forgotten to make room.
A summary goes to standard error at the end, with the events published. The
exit status is 0 when the watch ended at its duration or on a signal; 1 when
the first search went out on no network card, the output could not be
written, a camera of the site file was not present at the end, answers of
cameras beyond the 65536 were not followed, or events to publish were
dropped or left unsent; 2 for bad options, a bad site file, or a login the
broker refused. After a
signal, events not yet published are given to the broker only while it is
connected (up to 5 seconds); a second signal ends that at once.
)";
}

namespace {

// The MQTT options that do not go together, or not with the URL.
void CheckMqttOptions(const WatchOptions& options, const std::optional<site::MqttUrl>& url, OptionReader& reader)
{
    const bool tlsFiles = !options.mqttCaFile.empty() || !options.mqttCert.empty() || !options.mqttKey.empty();
    if (!url && (tlsFiles || !options.mqttUser.empty() || !options.mqttPasswordFile.empty()))
        reader.Fail("the --mqtt-... options go with --publish");
    else if (tlsFiles && !url->tls)
        reader.Fail("--mqtt-cafile, --mqtt-cert and --mqtt-key need an mqtts:// URL");
    else if (options.mqttCert.empty() != options.mqttKey.empty())
        reader.Fail("--mqtt-cert and --mqtt-key go together");
    else if (!options.mqttPasswordFile.empty() && options.mqttUser.empty())
        reader.Fail("--mqtt-password-file needs --mqtt-user");
}

} // namespace

std::optional<WatchOptions> ParseWatchOptions(const std::vector<std::string>& args, std::string* error)
{
    WatchOptions options;
    OptionReader reader(args);
    std::string format;
    while (reader.Next()) {
        if (reader.Shared(options.interfaces, options.help) ||
            reader.ValueOf({{"--site", &options.site},
                            {"--publish", &options.publish},
                            {"--mqtt-user", &options.mqttUser},
                            {"--mqtt-password-file", &options.mqttPasswordFile},
                            {"--mqtt-cafile", &options.mqttCaFile},
                            {"--mqtt-cert", &options.mqttCert},
                            {"--mqtt-key", &options.mqttKey}}))
            continue;
        if (reader.Is("--mqtt-password")) {
            reader.Fail("--mqtt-password is not taken: a password on the command line is seen by every user of the "
                        "PC; put it in LYNX_MQTT_PASSWORD or in a file named by --mqtt-password-file");
        } else if (reader.Is("--mqtt-keepalive")) {
            reader.Number(options.mqttKeepAliveSeconds, 5, 3600);
        } else
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
                    reader.Fail(OptionMessage("--format takes table or json, not '%1'", format));
            }
        } else {
            reader.Unknown();
        }
    }
    // A URL that cannot be used is a bad option: nothing is searched or sent.
    std::string urlError;
    std::optional<site::MqttUrl> url;
    if (!reader.Failed() && !options.publish.empty() && !(url = site::ParseMqttUrl(options.publish, &urlError)))
        reader.Fail("--publish: " + urlError);
    if (!reader.Failed())
        CheckMqttOptions(options, url, reader);
    return reader.Result(options, error);
}

std::optional<site::MqttOptions> PublisherOptions(const WatchOptions& options, std::string* error)
{
    site::MqttOptions mqtt;
    mqtt.keepAliveSeconds = options.mqttKeepAliveSeconds;
    mqtt.tls = {options.mqttCaFile, options.mqttCert, options.mqttKey};
    mqtt.user = options.mqttUser;
    if (mqtt.user.empty())
        return mqtt;
    if (options.mqttPasswordFile.empty()) {
        if (const char* password = std::getenv("LYNX_MQTT_PASSWORD"))
            mqtt.password = password;
        return mqtt;
    }
    std::ifstream file(options.mqttPasswordFile, std::ios::binary);
    std::getline(file, mqtt.password);
    if (!file && !file.eof()) {
        *error = "--mqtt-password-file " + options.mqttPasswordFile + ": " + std::strerror(errno ? errno : EIO);
        return std::nullopt;
    }
    if (!mqtt.password.empty() && mqtt.password.back() == '\r')
        mqtt.password.pop_back();
    return mqtt;
}

std::string PublishedMac(const std::string& mac)
{
    const std::string key = platform::MacKey(mac);
    if (key.size() != 12 || key.find_first_not_of("0123456789ABCDEF") != std::string::npos)
        return mac;
    std::string text;
    for (size_t at = 0; at < key.size(); at += 2)
        text += (at ? ":" : "") + key.substr(at, 2);
    return text;
}

void WatchPublisherSink::Event(const site::WatchEvent& event)
{
    m_publisher.Publish(PublishedMac(event.mac), site::WatchEventJson(event));
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
    case site::WatchEventKind::Unexpected:
        return "unexpected";
    }
    return "";
}

// text as a table cell shows it, then spaces up to width terminal columns
// (at least one).
std::string Padded(const std::string& text, size_t width)
{
    const std::string shown = TerminalCell(text, TextTable::kCellWidth);
    const size_t taken = DisplayWidth(shown);
    return shown + std::string(taken < width ? width - taken + 1 : 1, ' ');
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
    // Takes the bytes written so far, so that the descriptor tells of the next stop only.
    void Drain() const
    {
        char bytes[64];
        while (::read(m_pipe[0], bytes, sizeof bytes) > 0) {
        }
    }
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
    // The label in a cell's width; what the event says after it may take more.
    const auto more = [&](const std::string& text, size_t width = TextTable::kLastCellWidth) {
        if (!text.empty())
            line += TerminalCell(text, width) + "  ";
    };
    more(event.label, TextTable::kCellWidth);
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
    m_out << (m_format == WatchFormat::Json ? TerminalJson(site::WatchEventJson(event)) : WatchEventLine(event)) << '\n'
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
                     "%6 never answered, %7 unexpected")
            .arg(count(WatchEventKind::Appeared), count(WatchEventKind::Disappeared), count(WatchEventKind::Returned),
                 count(WatchEventKind::Address), count(WatchEventKind::Version), count(WatchEventKind::Missing),
                 count(WatchEventKind::Unexpected))
            .toStdString() +
        "\n";
    for (const site::ExpectedCamera& camera : summary.absent)
        text += platform::Tr("absent: %1 %2")
                    .arg(QString::fromStdString(TerminalText(camera.mac)),
                         QString::fromStdString(TerminalCell(camera.label, TextTable::kCellWidth)))
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

namespace {

// The cameras of the site file, for the watch: by MAC, with their labels.
std::vector<site::ExpectedCamera> ExpectedCameras(const std::optional<site::SiteFile>& file)
{
    std::vector<site::ExpectedCamera> expected;
    if (file) {
        for (const site::PlannedCamera& camera : file->cameras)
            expected.push_back({camera.mac, camera.label});
    }
    return expected;
}

// How long the broker is given at the end to take the events still queued.
constexpr std::chrono::seconds kPublishFlush{5};

// Stops the publisher with a bounded flush and says what reached the broker:
// false when any event was dropped or left unsent. After a signal the flush
// lasts only while a broker is connected; a signal during it ends it at once.
bool FinishPublishing(site::MqttPublisher& publisher, const std::string& url, const StopSignals& stop)
{
    const bool signalled = StopSignals::Signalled();
    stop.Drain();
    publisher.Stop(kPublishFlush,
                   signalled ? site::MqttPublisher::Flush::WhileConnected : site::MqttPublisher::Flush::Always,
                   stop.ReadFd());
    const site::MqttCounters counters = publisher.Counters();
    const auto n = [](uint64_t value) { return QString::number(static_cast<qulonglong>(value)); };
    std::cerr << "lynx-cli watch: "
              << platform::Tr("%1 events published to %2").arg(n(counters.published), QString::fromStdString(url)).toStdString()
              << "\n";
    if (counters.dropped == 0 && counters.queued == 0)
        return true;
    std::cerr << "lynx-cli watch: "
              << platform::Tr("%1 events were dropped and %2 left unsent: the broker does not have every event")
                     .arg(n(counters.dropped), n(counters.queued))
                     .toStdString()
              << "\n";
    return false;
}

// The publisher of --publish, started; null, with why in error, when its
// options or URL cannot be used.
std::unique_ptr<site::MqttPublisher> StartPublisher(const WatchOptions& options, std::mutex& statusLock,
                                                    StopSignals& stop, std::string* error)
{
    std::optional<site::MqttOptions> mqtt = PublisherOptions(options, error);
    if (!mqtt)
        return nullptr;
    const auto status = [&statusLock](const std::string& line) {
        const std::string text = "lynx-cli watch: " + TerminalText(line) + "\n";
        std::lock_guard lock(statusLock);
        std::cerr << text << std::flush;
    };
    // A login the broker refuses ends the watch: no retry can mend it.
    std::unique_ptr<site::MqttPublisher> publisher =
        site::OpenPublisher(options.publish, error, status, std::move(*mqtt), [&stop] { stop.Stop(); });
    if (!publisher) {
        *error = "--publish: " + *error;
        return nullptr;
    }
    if (!options.mqttUser.empty() && !publisher->Url().tls)
        status(platform::Tr("the password of %1 goes to %2 unencrypted, readable on the way: use mqtts://")
                   .arg(QString::fromStdString(options.mqttUser), QString::fromStdString(publisher->Url().host))
                   .toStdString());
    return publisher;
}

} // namespace

int RunWatchCommand(const Arguments& args)
{
    std::string error;
    auto options = ParseWatchOptions(args, &error);
    if (!options)
        return BadOptions(std::cerr, "watch", error);
    if (options->help)
        return ShowUsage(std::cout, WatchUsage());
    std::optional<site::SiteFile> siteFile;
    if (!options->site.empty() && !(siteFile = ReadSiteFileOrSayFaults(options->site, std::cerr, "watch")))
        return kExitUsage;
    StopSignals stop;
    if (!stop.Ready())
        return Failed(std::cerr, "watch", std::string("cannot make a pipe: ") + std::strerror(errno));
    // The publisher's lines (broker lost, back, events dropped) come from its
    // own thread: each written whole, under a lock of their own.
    std::mutex statusLock;
    std::unique_ptr<site::MqttPublisher> publisher;
    if (!options->publish.empty() && !(publisher = StartPublisher(*options, statusLock, stop, &error)))
        return BadOptions(std::cerr, "watch", error);
    protocol::InitTransport();
    protocol::DiscoverySession session(protocol::DatagramInbox::Wake::EventFd);
    site::Watch watch(options->missedRounds, ExpectedCameras(siteFile));
    WatchPrinter printer(std::cout, options->format, [&] { stop.Stop(); });
    site::WatchRequest request;
    request.interval = std::chrono::seconds(options->intervalSeconds);
    if (options->durationSeconds)
        request.duration = std::chrono::seconds(*options->durationSeconds);
    request.interfaces = options->interfaces;
    request.stopFd = stop.ReadFd();
    request.onFull = [&statusLock](std::size_t capacity) {
        const std::string text =
            "lynx-cli watch: " +
            platform::Tr("%1 cameras are followed, as many as the watch can: a camera new to it is not followed "
                         "until cameras that disappeared are forgotten")
                .arg(QString::number(static_cast<qulonglong>(capacity)))
                .toStdString() +
            "\n";
        std::lock_guard lock(statusLock);
        std::cerr << text << std::flush;
    };
    site::HearsaySenders hearsay;
    request.onHearsay = [&](const DeviceRecord& record, const protocol::ReportArrival& arrival) {
        const std::string note = hearsay.Note(record, arrival);
        if (note.empty())
            return;
        std::lock_guard lock(statusLock);
        std::cerr << "lynx-cli watch: " << TerminalText(note) << "\n" << std::flush;
    };
    // Every sink hears each event: the printer, then the publisher.
    site::WatchSinks sinks;
    sinks.Add(printer);
    std::optional<WatchPublisherSink> published;
    if (publisher)
        sinks.Add(published.emplace(*publisher));
    const site::WatchRun run = site::RunWatch(session, watch, sinks, request);
    if (!run.ok())
        return Failed(std::cerr, "watch", site::FailureText(run.failure));
    {
        std::lock_guard lock(statusLock);
        std::cerr << WatchSummaryText(watch.Summary());
        if (run.roundsUnsent)
            std::cerr << platform::Tr("%1 searches went out on no network card").arg(run.roundsUnsent).toStdString()
                      << "\n";
    }
    const int outputError = errno ? errno : EIO;
    const bool allPublished = !publisher || FinishPublishing(*publisher, options->publish, stop);
    if (printer.Failed())
        return Failed(std::cerr, "watch", std::string("cannot write to standard output: ") + std::strerror(outputError));
    if (publisher && !publisher->Refusal().empty())
        return kExitUsage;
    // Answers the watch could not follow may hide a camera: never a success.
    const bool allFollowed = watch.NotTracked() == 0;
    return watch.AllExpectedPresent() && allPublished && allFollowed ? kExitOk : kExitFailed;
}

} // namespace lynx::cli
