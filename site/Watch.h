// Watching a live site: the cameras each search round heard go in, and what
// changed comes out, each change once: a camera heard for the first time,
// one gone dark for some rounds in a row, one back again, a new address, a
// new software version, an expected camera never heard. Pure logic over the
// rounds' results, so that it is tested without a network and any front end
// (lynx-cli watch, the window) can drive it.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

struct DeviceRecord;

namespace lynx::site {

using WallClock = std::chrono::system_clock;

// A camera as one round heard it (UTF-8 texts).
struct HeardCamera {
    std::string mac, ip, mask, gateway, softwareVersion;
};
HeardCamera HeardFrom(const DeviceRecord& record);

// A camera the site should have, by MAC, with the name the site gives it.
struct ExpectedCamera {
    std::string mac, label;
};

// Unexpected takes Appeared's place for a camera heard for the first time that
// the site does not have, when there is a site: a stranger on the site is a
// finding, not one more camera coming up.
enum class WatchEventKind { Appeared, Disappeared, Returned, Address, Version, Missing, Unexpected };
inline constexpr std::size_t kWatchEventKinds = 7;
// The event's name as printed and published: "appeared", "disappeared", ...
const char* WatchEventName(WatchEventKind kind);

struct WatchEvent {
    WallClock::time_point time{};
    WatchEventKind kind = WatchEventKind::Appeared;
    std::string mac;  // as last heard; as expected for a camera never heard
    // The camera's address and version as last heard (empty when never heard).
    std::string ip, mask, gateway, softwareVersion;
    // Address: the address before; Version: the version before.
    std::string previousIp, previousMask, previousGateway, previousVersion;
    std::string label;                 // from the expected cameras; empty when none
    WallClock::time_point lastHeard{};  // Disappeared: the round that heard it last
};

// An event as one JSON object on one line (no newline): "time" (UTC, ISO 8601
// with milliseconds), "event", "mac", "ip", then "label", "softwareVersion",
// "previousIp", "previousMask", "previousGateway", "previousVersion" and
// "lastHeard" where they apply. Every sink that prints or publishes events
// renders them with this.
std::string WatchEventJson(const WatchEvent& event);
// "2026-12-10T03:41:07.123Z".
std::string UtcTimeText(WallClock::time_point time);

// Where events go as they happen: a printer, a publisher.
class WatchSink {
public:
    virtual ~WatchSink() = default;
    virtual void Event(const WatchEvent& event) = 0;
};

// Several sinks as one (the printer, a publisher): each hears every event, in
// the order they were added. The sinks are not owned.
class WatchSinks : public WatchSink {
public:
    void Add(WatchSink& sink) { m_sinks.push_back(&sink); }
    void Event(const WatchEvent& event) override
    {
        for (WatchSink* sink : m_sinks)
            sink->Event(event);
    }

private:
    std::vector<WatchSink*> m_sinks;
};

struct WatchSummary {
    std::size_t rounds = 0;          // rounds ended, complete or not
    std::size_t present = 0;         // cameras heard and not gone
    std::size_t disappeared = 0;     // cameras heard once and gone now
    std::size_t expectedAbsent = 0;  // expected cameras not present (gone or never heard)
    std::vector<ExpectedCamera> absent;  // those, in the order they were given
    std::array<std::uint64_t, kWatchEventKinds> events{};  // by WatchEventKind
    std::uint64_t notTracked = 0;    // hearings of cameras beyond the capacity, not followed
};

class Watch {
public:
    static constexpr int kDefaultMissedRounds = 3;
    // The most cameras followed at once: made-up reports under ever new MACs
    // must not grow the state without end. The device table's limit.
    static constexpr std::size_t kDefaultCapacity = 65536;

    // missedRounds: the rounds in a row a camera must miss to count as gone
    // (at least 1). expected: the cameras the site should have (none: the
    // watch knows no site, and every camera heard first appears); a MAC given
    // twice keeps its first label.
    explicit Watch(int missedRounds = kDefaultMissedRounds, const std::vector<ExpectedCamera>& expected = {},
                   std::size_t capacity = kDefaultCapacity);

    // A camera heard in the round at hand, as its report arrives: what its
    // hearing changes goes to sink at once. A camera heard twice in a round
    // counts once, the first time.
    void Heard(WallClock::time_point time, const HeardCamera& heard, WatchSink& sink);
    // Ends the round at hand. A complete round ran its whole interval and
    // counts the cameras it did not hear as missing one round more; a round
    // cut short (stopped, or ended by the run's duration, or whose search
    // went out on no card) only told whom it heard.
    void EndRound(WallClock::time_point time, bool complete, WatchSink& sink);
    // A whole round at once: each camera heard, then its end.
    void Round(WallClock::time_point time, const std::vector<HeardCamera>& heard, bool complete, WatchSink& sink);

    WatchSummary Summary() const;
    // Whether every expected camera is present now (true without any).
    bool AllExpectedPresent() const;
    // Cameras followed: those heard and the expected ones.
    std::size_t Tracked() const { return m_cameras.size(); }
    std::size_t Capacity() const { return m_capacity; }  // 0: no limit
    // Whether a camera not yet followed would be turned away now.
    bool Full() const { return m_capacity != 0 && m_cameras.size() >= m_capacity; }
    // Hearings of cameras beyond the capacity so far, not followed.
    std::uint64_t NotTracked() const { return m_notTracked; }
    // Makes room: forgets every camera that has disappeared and is not
    // expected, so that a flood of made-up cameras, gone once it stops, does
    // not keep a camera plugged in later out for good. One heard recently,
    // or expected, is never forgotten. Their MACs as last heard, in no order.
    std::vector<std::string> ForgetGone();

private:
    struct Camera {
        HeardCamera last;
        std::string label;
        WallClock::time_point lastHeard{};
        std::uint64_t heardInRound = 0;  // the round number that heard it last (0: never)
        int missed = 0;                  // complete rounds in a row not heard
        bool expected = false;
        bool gone = false;               // heard once, then missed missedRounds rounds
        bool missingTold = false;        // expected, never heard, and said so
    };

    // Gone, or expected and said to be missing: a round it misses changes nothing.
    static bool Settled(const Camera& camera);
    void Missed(WallClock::time_point time, Camera& camera, WatchSink& sink);
    void Emit(WatchEvent event, WatchSink& sink);

    int m_missedRounds;
    bool m_knowsSite;
    std::size_t m_capacity;
    std::uint64_t m_round = 1;  // the round at hand; a camera's heardInRound 0 is never
    std::unordered_map<std::string, Camera> m_cameras;  // by MacKey
    std::vector<std::string> m_expected;                 // the expected cameras' keys, in the order given
    std::array<std::uint64_t, kWatchEventKinds> m_events{};
    std::uint64_t m_notTracked = 0;
};

} // namespace lynx::site
