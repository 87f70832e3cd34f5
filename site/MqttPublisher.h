// Publishes a site's events to an MQTT broker (lynx-cli watch --publish
// mqtt://HOST[:PORT]/TOPIC): each event to TOPIC/MAC, retained, so that a
// dashboard that connects later sees every camera's last state, at QoS 1.
//
// The caller's thread only puts an event in a bounded queue; a thread of the
// publisher's own connects, sends and waits for each acknowledgement. An
// event leaves the queue only when the broker has acknowledged it: a broker
// that is down, or goes away with events in flight, gets them all (again)
// once it is back, retried with a growing delay. A full queue drops its
// oldest event, and counts it. Built over libmosquitto in a library of its
// own (lynx_site_mqtt), so that only a front end that publishes links it.
#pragma once

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

struct mosquitto;

namespace lynx::site {

struct MqttUrl {
    std::string host;  // a name, an IPv4 address, or an IPv6 address without its brackets
    uint16_t port = 1883;
    std::string topic;  // the prefix of every event's topic, without a trailing '/'
};

// mqtt://HOST[:PORT]/TOPIC, [IPv6] as HOST; nullopt with *error set (a
// sentence in the selected language) for anything else.
std::optional<MqttUrl> ParseMqttUrl(std::string_view url, std::string* error);

// The last level of an event's topic for a MAC: the MAC's letters, digits
// and separators as they are, anything else (a topic's '/', '+', '#', bytes
// that are not plain ASCII) as '_'; "_" for an empty MAC.
std::string MqttTopicLevel(std::string_view mac);

struct MqttCounters {
    uint64_t published = 0;  // acknowledged by the broker
    uint64_t queued = 0;     // waiting now, in flight included
    uint64_t inFlight = 0;   // of those, sent and not yet acknowledged
    uint64_t dropped = 0;    // pushed out of a full queue, or refused by the client library
};

struct MqttOptions {
    size_t queueLimit = 10000;  // events waiting at most, in flight included
    size_t inFlight = 100;      // events sent and not yet acknowledged at most
    std::chrono::milliseconds retryFirst{500};  // the delay before a new connection, doubled
    std::chrono::milliseconds retryLongest{10000};  // after each failure up to this
    std::chrono::milliseconds connectTimeout{5000};  // for the TCP connection and the broker's answer
    int keepAliveSeconds = 10;  // a broker silent for 1.5 times this counts as gone
};

class MqttPublisher {
public:
    using Options = MqttOptions;
    // A line for the user: the broker lost, back, events dropped. Called on
    // the publisher's thread, once per outage and once at its end.
    using StatusCallback = std::function<void(const std::string& line)>;

    explicit MqttPublisher(MqttUrl url, Options options = {});
    // Stops without waiting for the queue (Stop first to flush it).
    ~MqttPublisher();
    MqttPublisher(const MqttPublisher&) = delete;
    MqttPublisher& operator=(const MqttPublisher&) = delete;

    // Before Start; without one the lines go to standard error.
    void SetStatusCallback(StatusCallback callback);
    // Starts the publisher's thread, which connects in the background: a
    // broker that cannot be reached yet is reported and retried, not an error.
    void Start();
    // Queues the event for TOPIC/MAC; never blocks on the network.
    void Publish(const std::string& mac, const std::string& json);
    // Whether the flush at the stop goes on while no broker is connected
    // (trying to reach one), or ends as soon as none is.
    enum class Flush { Always, WhileConnected };
    // Waits up to flushFor for every queued event to be acknowledged, then
    // disconnects and ends the thread; the flush ends at once when abandonFd
    // (-1: none) becomes readable. True when none was left; what was left is
    // said through the status callback.
    bool Stop(std::chrono::milliseconds flushFor = std::chrono::seconds(5), Flush flush = Flush::Always,
              int abandonFd = -1);

    MqttCounters Counters() const;
    bool Connected() const { return m_connected.load(); }
    const MqttUrl& Url() const { return m_url; }

private:
    struct Event {
        std::string topic;
        std::string payload;
    };
    class Session;

    void Run();
    // Connects and serves one connection until it fails or the publisher
    // ends; the reason it failed, empty when it ended in order. *connected:
    // whether the broker took the connection.
    std::string Serve(bool* connected);
    // The same at one of the broker's numeric addresses.
    std::string ServeAt(const std::string& address, bool* connected);
    bool GivingUp() const;  // FlushOver, taking the lock
    // Hands waiting events to the connection, up to the in-flight limit; the
    // reason when the connection failed.
    std::string SendWaiting(mosquitto* client);
    void Acknowledged(int mid);
    // Events in flight go back to the front of the queue, in their order.
    void Requeue();
    // Stopping, and the flush's time up (or no broker to flush to, when the
    // flush was only while connected). Called with m_mutex held.
    bool FlushOver() const;
    // Whether the thread is done: stopping, and the queue empty or the flush over.
    bool Finished() const;
    // Waits for the thread's end, cutting the flush short once abandonFd is readable.
    void AwaitThreadEnd(int abandonFd);
    // Waits until the time or a stop; false when the thread should end now.
    bool Sleep(std::chrono::milliseconds delay);
    void Say(const std::string& line);
    void SayDrops();  // once, when a full queue starts dropping
    void SayBack();   // once, when the broker is back after an outage
    std::string Where() const;  // HOST:PORT

    const MqttUrl m_url;
    const Options m_options;
    StatusCallback m_status;

    mutable std::mutex m_mutex;  // the queue, the counters and the stop
    std::condition_variable m_wake;
    std::deque<Event> m_waiting;              // not sent on this connection yet, oldest first
    std::map<uint64_t, Event> m_inFlight;     // by send order: sent, not acknowledged
    std::map<int, uint64_t> m_orderOfMessage; // the client library's message id -> send order
    uint64_t m_sendOrder = 0;
    uint64_t m_published = 0;
    uint64_t m_dropped = 0;
    uint64_t m_droppedSaid = 0;      // dropped when the last drop was said
    uint64_t m_droppedAtOutage = 0;  // dropped when the outage began
    bool m_fullSaid = false;         // said that the queue is full, not yet that it has room
    bool m_stopping = false;
    bool m_flushWhileConnected = false;
    bool m_threadEnded = false;
    std::chrono::steady_clock::time_point m_stopBy{};
    std::atomic<bool> m_connected{false};
    bool m_outage = false;  // said that the broker is away, not yet that it is back
    std::thread m_thread;
};

// The publisher for a --publish URL, started, its lines going to status
// (standard error without one); nullptr with *error set (a sentence in the
// selected language) when the URL cannot be used.
std::unique_ptr<MqttPublisher> OpenPublisher(std::string_view url, std::string* error,
                                             MqttPublisher::StatusCallback status = {});

} // namespace lynx::site
