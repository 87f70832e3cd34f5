// `lynx-cli watch`: its options, and its printing of events, apart from
// running it, so they can be checked.
#pragma once

#include "site/MqttPublisher.h"
#include "site/Watch.h"

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace lynx::cli {

enum class WatchFormat { Table, Json };

struct WatchOptions {
    int intervalSeconds = 10;
    int missedRounds = site::Watch::kDefaultMissedRounds;
    std::optional<long long> durationSeconds;  // none: until SIGINT or SIGTERM
    WatchFormat format = WatchFormat::Table;
    std::vector<std::string> interfaces;       // --interface, repeatable; empty: every card
    std::string site;                          // --site FILE: the cameras expected; empty: none
    std::string publish;                       // --publish mqtt[s]://HOST[:PORT]/TOPIC; empty: none
    std::string mqttUser;                      // --mqtt-user; empty: no login
    std::string mqttPasswordFile;              // --mqtt-password-file; empty: LYNX_MQTT_PASSWORD
    std::string mqttCaFile;                    // --mqtt-cafile; empty: the system's authorities
    std::string mqttCert;                      // --mqtt-cert, with --mqtt-key
    std::string mqttKey;
    int mqttKeepAliveSeconds = 10;             // --mqtt-keepalive
    bool help = false;
};

// nullopt and a message in *error for an option that is not understood (a
// --publish URL that cannot be used among them, MQTT options that do not go
// together).
std::optional<WatchOptions> ParseWatchOptions(const std::vector<std::string>& args, std::string* error);

const char* WatchUsage();

// The publisher's options from the watch's: the TLS files, the login with
// its password (the first line of --mqtt-password-file, or else
// LYNX_MQTT_PASSWORD), the keep-alive; nullopt with *error set when the
// password file cannot be read.
std::optional<site::MqttOptions> PublisherOptions(const WatchOptions& options, std::string* error);

// One event as a line of the table (no newline), in the selected language:
// time, event, MAC, IP aligned in columns, then what else it says.
std::string WatchEventLine(const site::WatchEvent& event);

// Prints each event on its own line, flushed at once so that a reader of a
// pipe sees it live; tells onFailure once when the output cannot be written.
class WatchPrinter : public site::WatchSink {
public:
    WatchPrinter(std::ostream& out, WatchFormat format, std::function<void()> onFailure = {})
        : m_out(out), m_format(format), m_onFailure(std::move(onFailure))
    {
    }
    void Event(const site::WatchEvent& event) override;
    bool Failed() const { return m_failed; }

private:
    std::ostream& m_out;
    WatchFormat m_format;
    std::function<void()> m_onFailure;
    bool m_failed = false;
};

// The MAC under which a camera's events are published: 00:1A:2B:3C:4D:5E,
// whatever the separators and letter case a site file or the camera wrote it
// with, so that each camera keeps one retained state on the broker (an
// expected camera's "missing" and its later "appeared" land on one topic).
// Text that is not twelve hex digits is kept as given.
std::string PublishedMac(const std::string& mac);

// Publishes each event, as --format json prints it, under the camera's MAC.
class WatchPublisherSink : public site::WatchSink {
public:
    explicit WatchPublisherSink(site::MqttPublisher& publisher) : m_publisher(publisher) {}
    void Event(const site::WatchEvent& event) override;

private:
    site::MqttPublisher& m_publisher;
};

// The summary printed at the end, one line each, in the selected language.
std::string WatchSummaryText(const site::WatchSummary& summary);

} // namespace lynx::cli
