// Readdressing cameras by MAC, confirmed: each change is broadcast on the
// chosen cards, and the LAN is searched again until every camera sent a change
// answers at its new address, or the confirmation time is up.
#pragma once

#include "addressing/BatchAssignment.h"
#include "protocol/DiscoverySession.h"
#include "site/Failure.h"

#include <cstddef>
#include <functional>
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

// The session's broadcast of a changeIp request, as the batch assignment sends it.
addressing::ChangeIpSender SessionSender(protocol::DiscoverySession& session);

// Sends every change in order, then (unless confirmSeconds is 0) searches
// until each camera whose change went out answers at its new address.
ReaddressResult Readdress(protocol::DiscoverySession& session, const ReaddressRequest& request,
                          const ReaddressEvents& events = {});

} // namespace lynx::site
