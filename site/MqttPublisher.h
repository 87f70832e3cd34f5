// Publishes a site's events to an MQTT broker (lynx-cli watch --publish
// mqtt://HOST[:PORT]/TOPIC, or mqtts:// over TLS): each event to TOPIC/MAC,
// retained, so that a dashboard that connects later sees every camera's last
// state, at QoS 1; and the watch's own state on TOPIC/status: "online",
// retained, on each connection, and "offline" at its end, left with the
// broker as the last will too, so that a watch killed or cut off shows as
// offline once the keep-alive runs out.
//
// The caller's thread only puts an event in a bounded queue; libmosquitto's
// own thread connects, reconnects with its back-off, sends and takes each
// acknowledgement. An event leaves the queue only when the broker has
// acknowledged it: a broker that is down, or goes away with events in
// flight, gets them all (again) once it is back. A full queue drops its
// oldest event, and counts it. Built over libmosquitto in a library of its
// own (lynx_site_mqtt), so that only a front end that publishes links it.
#pragma once

#include "site/MqttTlsContext.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

struct mosquitto;

namespace lynx::site {

struct MqttUrl {
    std::string host;  // a name, an IPv4 address, or an IPv6 address without its brackets
    uint16_t port = 1883;
    std::string topic;  // the prefix of every event's topic, without a trailing '/'
    bool tls = false;   // mqtts://
};

// mqtt://HOST[:PORT]/TOPIC or mqtts://HOST[:PORT]/TOPIC (port 8883 by
// default), [IPv6] as HOST; nullopt with *error set (a sentence in the
// selected language) for anything else. A user name or password in the URL
// is refused, and never repeated in the error.
std::optional<MqttUrl> ParseMqttUrl(std::string_view url, std::string* error);

// The last level of an event's topic for a MAC: the MAC's letters, digits
// and separators as they are, anything else (a topic's '/', '+', '#', bytes
// that are not plain ASCII) as '_'; "_" for an empty MAC, and "_status" for
// "status", the level of the publisher's own state.
std::string MqttTopicLevel(std::string_view mac);

// The level under TOPIC of the publisher's "online" / "offline".
inline constexpr std::string_view kMqttStatusLevel = "status";

struct MqttCounters {
    uint64_t published = 0;  // acknowledged by the broker
    uint64_t queued = 0;     // waiting now, in flight included
    uint64_t inFlight = 0;   // of those, sent and not yet acknowledged
    uint64_t dropped = 0;    // pushed out of a full queue, or refused by the client library
};

struct MqttOptions {
    size_t queueLimit = 10000;  // events waiting at most, in flight included
    size_t inFlight = 100;      // events sent and not yet acknowledged at most
    // The library's reconnect delay, in whole seconds (at least one): the
    // first, growing after each failure up to the longest.
    std::chrono::milliseconds retryFirst{1000};
    std::chrono::milliseconds retryLongest{10000};
    // A broker silent for 1.5 times this counts as gone, and so does one
    // that has not taken a connection within it; the broker gives out the
    // last will as long after losing the watch. 5 at least.
    int keepAliveSeconds = 10;
    MqttTlsFiles tls;      // for mqtts://
    std::string user;      // empty: no login
    std::string password;  // with user; empty: none
};

class MqttPublisher {
public:
    using Options = MqttOptions;
    // A line for the user: the broker lost, back, refused, events dropped.
    // Called on the client library's thread (or the caller's), once per
    // outage and once at its end.
    using StatusCallback = std::function<void(const std::string& line)>;
    // The broker refused the login, which no retry can mend; called once, on
    // the client library's thread, after the line that says so.
    using RefusedCallback = std::function<void()>;

    explicit MqttPublisher(MqttUrl url, Options options = {});
    // Stops without waiting for the queue (Stop first to flush it).
    ~MqttPublisher();
    MqttPublisher(const MqttPublisher&) = delete;
    MqttPublisher& operator=(const MqttPublisher&) = delete;

    // Before Start; without one the lines go to standard error.
    void SetStatusCallback(StatusCallback callback);
    void SetRefusedCallback(RefusedCallback callback);
    // Starts connecting in the background: a broker that cannot be reached
    // yet is reported and retried, not an error. False, with *error set,
    // when the TLS files cannot be used or the client library fails.
    bool Start(std::string* error = nullptr);
    // Queues the event for TOPIC/MAC; never blocks on the network.
    void Publish(const std::string& mac, const std::string& json);
    // Whether the flush at the stop goes on while no broker is connected
    // (trying to reach one), or ends as soon as none is.
    enum class Flush { Always, WhileConnected };
    // Waits up to flushFor for every queued event to be acknowledged, says
    // "offline" and disconnects; the flush ends at once when abandonFd (-1:
    // none) becomes readable, or when the broker refused the login. True when
    // no event was left; what was left is said through the status callback.
    bool Stop(std::chrono::milliseconds flushFor = std::chrono::seconds(5), Flush flush = Flush::Always,
              int abandonFd = -1);

    MqttCounters Counters() const;
    bool Connected() const { return m_connected.load(); }
    // The broker's reason for refusing the login; empty while it has not.
    std::string Refusal() const;
    const MqttUrl& Url() const { return m_url; }

private:
    struct Event {
        std::string topic;
        std::string payload;
    };

    // The client library's callbacks, set by Listen, on its thread.
    void Listen();
    // The library's limits and delays, the TLS context, the login and the last will.
    void Configure();
    void OnConnect(int code);
    void OnDisconnect(int code);
    void OnPublished(int mid);
    void OnLog(int level, const char* line);

    // The keeper's thread: starts the library's loop and its connection, and
    // starts them again after a TLS failure, which ends that loop.
    void Keep();
    // Looks the broker's name up, without holding the end, and starts the
    // connection (the first, or again); false when the publisher is ending.
    bool Connect(bool first);
    bool Ending() const;
    // Hands waiting events to the library, up to the in-flight limit, in their
    // order. Called with m_mutex held; the lines to say go to *said.
    void HandOver(std::vector<std::string>* said);
    // Stopping, and the flush's time up (or no broker to flush to, when the
    // flush was only while connected, or a refused login). With m_mutex held.
    bool FlushOver() const;
    // Waits for the flush's end, cutting it short once abandonFd is readable;
    // false when it was abandoned.
    bool AwaitFlush(int abandonFd);
    // Says "offline" and disconnects when a broker is connected, then ends
    // the library's loop; a broker that does not acknowledge "offline" in
    // time is left without a word, so that it gives out the last will.
    void Disconnect(bool abandoned);
    void Say(const std::string& line);
    void SayAll(const std::vector<std::string>& lines);
    // The outage's line, once, when it begins.
    void Outage(const std::string& reason, bool certificate);
    void SayDrops();  // once, when a full queue starts dropping
    std::string BackLine();  // once, when the broker is back after an outage; with m_mutex held
    std::string Where() const;  // HOST:PORT
    std::string StatusTopic() const;

    const MqttUrl m_url;
    const Options m_options;
    StatusCallback m_status;
    RefusedCallback m_refused;
    std::unique_ptr<MqttTlsContext> m_tls;
    mosquitto* m_client = nullptr;

    mutable std::mutex m_mutex;  // all below, but the atomics
    std::condition_variable m_wake;
    std::deque<Event> m_waiting;         // not handed to the library yet, oldest first
    std::map<int, Event> m_inFlight;     // by the library's message id: sent, not acknowledged
    bool m_resending = false;  // the library sends the events in flight again before any new one
    int m_offlineMid = -1;     // the message id of the closing "offline"
    bool m_offlineAcknowledged = false;
    bool m_disconnected = false;  // the closing disconnect done
    uint64_t m_published = 0;
    uint64_t m_dropped = 0;
    uint64_t m_droppedSaid = 0;      // dropped when the last drop was said
    uint64_t m_droppedAtOutage = 0;  // dropped when the outage began
    bool m_fullSaid = false;         // said that the queue is full, not yet that it has room
    bool m_stopping = false;
    bool m_stopped = false;  // Stop has run
    bool m_flushWhileConnected = false;
    std::string m_refusal;
    std::chrono::steady_clock::time_point m_stopBy{};
    std::atomic<bool> m_connected{false};
    bool m_outage = false;  // said that the broker is away, not yet that it is back

    // The keeper's own: never held while calling into the library, whose
    // log callback takes it.
    mutable std::mutex m_keeperMutex;
    std::condition_variable m_keeperWake;
    bool m_ending = false;     // the flush over: the keeper ends
    bool m_loopEnded = false;  // the library's loop ended after a TLS failure
    std::string m_tlsFailure;  // OpenSSL's line for it
    std::thread m_keeper;
};

// The publisher for a --publish URL, started, its lines going to status
// (standard error without one); nullptr with *error set (a sentence in the
// selected language) when the URL or the TLS files cannot be used.
std::unique_ptr<MqttPublisher> OpenPublisher(std::string_view url, std::string* error,
                                             MqttPublisher::StatusCallback status = {}, MqttOptions options = {},
                                             MqttPublisher::RefusedCallback refused = {});

} // namespace lynx::site
