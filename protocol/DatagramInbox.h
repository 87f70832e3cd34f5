// The hand-off from the transport's receive threads to the one thread that
// owns the device table and the upgrade jobs (the window's UI thread,
// lynx-cli's main thread). A receive callback only posts the datagram; the
// owner applies what waits in arrival order, a burst in slices when it asks
// for them, so that a window keeps painting.
//
// An inbox given a preparation runs it on the posting thread, before the
// datagram is queued: a report is parsed into its record on the receive
// thread, so that the owner's share of a burst is only what needs its state.
#pragma once

#include "protocol/DeviceRecord.h"
#include "tarn.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace lynx::protocol {

struct Datagram {
    uint16_t port = 0;  // the local port it came to: 19027 reports, 8025 replies and notifications
    PacketHeader header{};
    std::string body;   // as received (UTF-8); a parsed report's is released
    std::string interfaceName;  // where it arrived ("eth1"); empty when not known
    std::string localAddress;   // the local address it came to
    uint32_t peerAddress = 0;   // the sender's IPv4 address (host byte order); 0 when not known
    // The card it came from, as the PC's neighbour table knows the sender (0:
    // not known), and whether that card contradicts the MAC a report claims.
    uint64_t peerHardware = 0;
    bool hardwareDisowns = false;
    // A report as the inbox's preparation parsed it from the body (zero-filled
    // when the body does not parse); null when nothing parsed it.
    std::shared_ptr<const DeviceRecord> report = nullptr;
};

class DatagramInbox {
public:
    using Clock = std::chrono::steady_clock;
    // Run on the posting thread for each datagram, outside the inbox's lock.
    using Prepare = std::function<void(Datagram&)>;
    // What may wait to be taken by the owner; beyond it, datagrams are dropped.
    static constexpr size_t kMaxQueuedBytes = 64 * 1024 * 1024;
    // How the owner learns that datagrams wait: an eventfd that its event loop
    // watches (WakeFd), or the condition that WaitUntil waits on.
    enum class Wake { Condition, EventFd };

    explicit DatagramInbox(Wake wake = Wake::Condition, Prepare prepare = {});
    ~DatagramInbox();
    DatagramInbox(const DatagramInbox&) = delete;
    DatagramInbox& operator=(const DatagramInbox&) = delete;

    // Any thread: prepares the datagram, then queues it. The first datagram of
    // a burst wakes the owner once.
    void Post(Datagram datagram);

    // The owner's side.
    int WakeFd() const { return m_wakeFd; }  // -1 for Wake::Condition
    // Reads the eventfd, so that it signals the next burst again.
    void ClearWake();
    // Waits until a datagram waits or the deadline passes; true when one waits.
    bool WaitUntil(Clock::time_point deadline);
    // Applies the waiting datagrams in arrival order until none is left or the
    // budget is spent (at least one is applied); true when some still wait.
    bool Apply(const std::function<void(Datagram&)>& apply,
               std::chrono::nanoseconds budget = std::chrono::nanoseconds::max());
    // Forgets the waiting datagrams for which drop answers true, those being
    // prepared at this moment included: none of them is queued.
    void Drop(const std::function<bool(const Datagram&)>& drop);
    // Datagrams dropped because the queue was full.
    uint64_t Dropped() const;

private:
    // What a datagram holds of the queue's bound.
    static size_t Charge(const Datagram& datagram);

    mutable std::mutex m_mutex;  // guards everything below up to m_taken
    std::condition_variable m_ready;
    std::vector<Datagram> m_queue;
    size_t m_queuedBytes = 0;
    uint64_t m_dropped = 0;
    // Each Drop is a generation. A datagram is stamped with the generation
    // its preparation began in; one that ends after a Drop is tested against
    // the drops made since, as it would have been had it been queued.
    uint64_t m_generation = 0;
    int m_preparing = 0;  // preparations under way; the drops are kept while any is
    std::vector<std::pair<uint64_t, std::function<bool(const Datagram&)>>> m_drops;

    std::deque<Datagram> m_taken;  // the owner's: taken from the queue, not applied yet
    int m_wakeFd = -1;
    const Prepare m_prepare;
};

} // namespace lynx::protocol
