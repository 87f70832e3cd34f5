// Readdressing cameras by MAC, confirmed: each change is broadcast on the
// chosen cards, and the LAN is searched again until every camera sent a change
// answers at its new address, or the confirmation time is up.
#pragma once

#include "addressing/BatchAssignment.h"
#include "protocol/DiscoverySession.h"
#include "site/Failure.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace lynx::site {

// How long a camera is given to restart and answer at its new address.
inline constexpr int kDefaultConfirmSeconds = 60;

struct AddressChange {
    std::string mac;  // as the camera reports it
    std::string ip;
    std::string mask;
    std::string gateway;
};

struct ChangeResult {
    bool sent = false;       // the request went out on at least one card
    bool confirmed = false;  // the camera answered at its new address
};

struct ReaddressRequest {
    std::vector<AddressChange> changes;
    protocol::InterfaceNames interfaces;  // empty: every card that can broadcast
    int confirmSeconds = kDefaultConfirmSeconds;  // 0: send only
};

struct ReaddressProgress {
    std::size_t answered = 0;  // cameras heard at their new address so far
    std::size_t awaited = 0;   // cameras whose change went out
    int secondsLeft = 0;
};

// What a front end hears while the flow runs; each is optional. index is the
// change's place in the request.
struct ReaddressEvents {
    std::function<void(std::size_t index, bool sent)> sent;
    std::function<void(std::size_t index)> answered;
    std::function<void(const ReaddressProgress&)> progress;
};

struct ReaddressResult {
    Failure failure = Failure::None;    // the servers did not start: nothing was sent
    std::vector<ChangeResult> cameras;  // one per change, in order
    bool ok() const { return failure == Failure::None; }
};

// The confirmed readdress as steps, moved on by the reports that arrive and by
// Tick(now), never by waiting itself: a front end with an event loop feeds it
// its reports and its timer; one without runs it in a small loop (Readdress).
// Each change is sent as it is added and is awaited for the confirmation time
// from then; meanwhile the LAN is asked again every few seconds.
class ReaddressSteps {
public:
    using Clock = std::chrono::steady_clock;
    // A search round: a camera still restarting when one went out answers the next.
    static constexpr std::chrono::seconds kRound{3};

    // Sent: it went out and, with no confirmation time, is not awaited.
    enum class Outcome { Waiting, Sent, SendFailed, Confirmed, Away };
    struct Event {
        enum class Kind {
            Sent,      // the change went out (or not: OutcomeOf says SendFailed)
            Answered,  // the camera answered at its new address
            Away,      // the confirmation time passed without an answer
            Ended,     // no change is awaited any more
        };
        Kind kind = Kind::Ended;
        std::size_t index = 0;  // the change's place, in the order added
    };
    using EventSink = std::function<void(const Event&)>;
    // searchAgain asks the LAN for reports once more; false when it went out
    // on no card, which ends the waiting (nothing can answer).
    ReaddressSteps(addressing::ChangeIpSender send, std::function<bool()> searchAgain,
                   int confirmSeconds = kDefaultConfirmSeconds);

    void SetSink(EventSink sink) { m_sink = std::move(sink); }
    // Sends the change now; its index. With a confirmation time of 0 a change
    // that went out is not awaited.
    std::size_t Add(const AddressChange& change, Clock::time_point now);
    // A report: the index of the change of its camera when this flow changes
    // it (whatever it says); the camera answering from its new address
    // confirms its change.
    std::optional<std::size_t> OnReport(const DeviceRecord& report);
    // Searches again when a round is due, and ends the changes whose time is up.
    void Tick(Clock::time_point now);
    // When Tick has something to do; nullopt when nothing is awaited.
    std::optional<Clock::time_point> NextDeadline() const;

    bool Waiting() const { return m_awaited > 0; }
    std::size_t Size() const { return m_changes.size(); }
    const AddressChange& Change(std::size_t index) const { return m_changes[index].change; }
    Outcome OutcomeOf(std::size_t index) const { return m_changes[index].outcome; }
    ReaddressProgress Progress(Clock::time_point now) const;

private:
    struct Entry {
        AddressChange change;
        std::string macKey;
        Outcome outcome = Outcome::Waiting;
        Clock::time_point deadline{};
    };
    void Tell(Event::Kind kind, std::size_t index);
    void Settle(std::size_t index, Outcome outcome);

    addressing::ChangeIpSender m_send;
    std::function<bool()> m_searchAgain;
    int m_confirmSeconds;
    EventSink m_sink;
    std::vector<Entry> m_changes;
    std::size_t m_awaited = 0;
    std::size_t m_sentCount = 0;
    Clock::time_point m_nextSearch{};
};

// The session's broadcast of a changeIp request, as the batch assignment sends it.
addressing::ChangeIpSender SessionSender(protocol::DiscoverySession& session);

// Sends every change in order, then (unless confirmSeconds is 0) searches
// until each camera whose change went out answers at its new address.
ReaddressResult Readdress(protocol::DiscoverySession& session, const ReaddressRequest& request,
                          const ReaddressEvents& events = {});

} // namespace lynx::site
