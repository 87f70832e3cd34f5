#include "site/WatchFlow.h"

#include "platform/MacKey.h"
#include "protocol/JsonMessages.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace lynx::site {

namespace {

using Clock = protocol::DiscoverySession::Clock;

} // namespace

RoundKeeper::RoundKeeper(protocol::DeviceTable& table) : m_table(table)
{
    Reindex();
}

void RoundKeeper::Reindex()
{
    m_rows.clear();
    for (const auto& [number, record] : m_table.Map())
        m_rows.emplace(platform::MacKey(protocol::FieldBytes(record->mac)), number);
}

int RoundKeeper::NumberOf(std::string_view mac) const
{
    const auto it = m_rows.find(platform::MacKey(mac));
    return it == m_rows.end() ? 0 : it->second;
}

RoundKeeper::Kept RoundKeeper::Keep(const protocol::Datagram& datagram, Watch& watch, WatchSink& sink)
{
    Kept kept;
    // The record the session's inbox parsed (an unparsable report is all zeros).
    auto record = std::make_unique<DeviceRecord>(protocol::ReportOf(datagram));
    if (!record->mac[0] || !record->deviceIp[0])
        return kept;
    // Anyone may send a report naming a camera: only the camera's own word
    // keeps it on the site, or a stranger could hide that it went dark.
    if (protocol::IsHearsay(*record, protocol::ArrivalOf(datagram))) {
        kept.hearsay = true;
        return kept;
    }
    watch.Heard(WallClock::now(), HeardFrom(*record), sink);
    std::string key = platform::MacKey(protocol::FieldBytes(record->mac));
    const auto it = m_rows.find(key);
    if (it == m_rows.end()) {
        // Every row is a camera of its own here: no duplicate rule hides it.
        kept.number =
            m_table.Add(std::move(record), protocol::DuplicateFilter{false, false}, protocol::ArrivalOf(datagram));
        kept.added = kept.number > 0;
        if (kept.added)
            m_rows.emplace(std::move(key), kept.number);
        return kept;
    }
    DeviceRecord* row = m_table.ByNumber(it->second);
    if (!row)
        return kept;
    kept.number = it->second;
    if (protocol::FieldBytes(row->deviceIp) != protocol::FieldBytes(record->deviceIp) ||
        protocol::FieldBytes(row->netMask) != protocol::FieldBytes(record->netMask) ||
        protocol::FieldBytes(row->gatewayIp) != protocol::FieldBytes(record->gatewayIp)) {
        m_table.Readdress(it->second, std::string(protocol::FieldBytes(record->deviceIp)),
                          std::string(protocol::FieldBytes(record->gatewayIp)),
                          std::string(protocol::FieldBytes(record->netMask)));
        kept.changed = true;
    }
    if (std::memcmp(row->softwareVersion, record->softwareVersion, sizeof row->softwareVersion) != 0 ||
        std::memcmp(row->productDate, record->productDate, sizeof row->productDate) != 0) {
        std::memcpy(row->softwareVersion, record->softwareVersion, sizeof row->softwareVersion);
        std::memcpy(row->productDate, record->productDate, sizeof row->productDate);
        kept.changed = true;
    }
    return kept;
}

std::size_t RoundKeeper::MakeRoom(Watch& watch)
{
    if (!watch.Full() && !m_table.Full())
        return 0;
    const std::vector<std::string> gone = watch.ForgetGone();
    if (gone.empty())
        return 0;
    std::unordered_set<std::string> goneKeys;
    for (const std::string& mac : gone)
        goneKeys.insert(platform::MacKey(mac));
    struct Row {
        std::unique_ptr<DeviceRecord> record;
        protocol::ReportArrival arrival;
    };
    std::vector<Row> kept;
    for (const auto& [number, record] : m_table.Map()) {
        if (!goneKeys.count(platform::MacKey(protocol::FieldBytes(record->mac))))
            kept.push_back({std::make_unique<DeviceRecord>(*record), m_table.ArrivalOf(number).value_or(protocol::ReportArrival{})});
    }
    const std::size_t removed = m_table.Size() - kept.size();
    if (removed == 0)
        return 0;
    // The table only grows or empties: it is filled again with the rows kept.
    m_table.Clear();
    for (Row& row : kept)
        m_table.Add(std::move(row.record), protocol::DuplicateFilter{false, false}, std::move(row.arrival));
    Reindex();
    return removed;
}

namespace {

bool Readable(int fd)
{
    if (fd < 0)
        return false;
    pollfd one{fd, POLLIN, 0};
    return ::poll(&one, 1, 0) > 0 && (one.revents & (POLLIN | POLLHUP | POLLERR));
}

// What arrives until deadline, or until the stop descriptor is readable;
// false when stopped. The reports and the stop are waited on together, so a
// stop is seen at once, whatever the interval.
bool CollectRound(protocol::DiscoverySession& session, RoundKeeper& round, Watch& watch, WatchSink& sink,
                  Clock::time_point deadline, const WatchRequest& request, WatchRun& run)
{
    const int stopFd = request.stopFd;
    protocol::DatagramInbox& inbox = session.Inbox();
    const auto apply = [&](protocol::Datagram& datagram) {
        if (datagram.port != protocol::kReportPort)
            return;
        if (round.Keep(datagram, watch, sink).hearsay) {
            ++run.hearsay;
            if (request.onHearsay)
                request.onHearsay(protocol::ReportOf(datagram), protocol::ArrivalOf(datagram));
        }
        if (!run.full && watch.NotTracked() > 0) {
            run.full = true;
            if (request.onFull)
                request.onFull(watch.Capacity());
        }
    };
    for (;;) {
        const auto now = Clock::now();
        if (now >= deadline)
            return true;
        const long long left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
        pollfd waits[2] = {{inbox.WakeFd(), POLLIN, 0}, {stopFd, POLLIN, 0}};
        // A session that wakes no descriptor is looked at every 100 ms instead.
        const long long most = inbox.WakeFd() >= 0 ? 60000 : 100;
        const int ready = ::poll(waits, stopFd >= 0 ? 2 : 1, static_cast<int>(std::min(left, most)));
        if (ready < 0 && errno != EINTR)
            return true;
        if (Readable(stopFd))
            return false;
        inbox.ClearWake();
        // In slices, so that a flood does not keep the stop and the deadline unseen.
        while (inbox.Apply(apply, std::chrono::milliseconds(20))) {
            if (Clock::now() >= deadline || Readable(stopFd))
                break;
        }
    }
}

} // namespace

WatchRun RunWatch(protocol::DiscoverySession& session, Watch& watch, WatchSink& sink, const WatchRequest& request)
{
    WatchRun run;
    session.SetInterfaces(request.interfaces);
    session.Table().Clear();
    session.Table().SetCapacity(Watch::kDefaultCapacity);
    run.failure = StartServers(session, false);
    if (!run.ok())
        return run;
    RoundKeeper round(session.Table());
    const auto start = Clock::now();
    const bool ends = request.duration.has_value();
    const Clock::time_point end = ends ? start + *request.duration : Clock::time_point::max();
    const auto interval = std::max(request.interval, std::chrono::milliseconds(1));
    bool first = true;
    for (auto roundStart = start;; roundStart += interval) {
        // A round that could not start in time (a long flood) starts now.
        roundStart = std::max(roundStart, Clock::now());
        if (ends && roundStart >= end)
            return run;
        const bool sent = session.SendSearch();
        if (!sent && first) {
            run.failure = Failure::NoCard;
            return run;
        }
        first = false;
        if (!sent)
            ++run.roundsUnsent;
        auto roundEnd = roundStart + interval;
        const bool cut = ends && end < roundEnd;
        if (cut)
            roundEnd = end;
        const bool ran = CollectRound(session, round, watch, sink, roundEnd, request, run);
        // A round whose search went out on no card heard nothing of the cameras:
        // they are not missing for it. One cut short says only whom it heard.
        watch.EndRound(WallClock::now(), ran && sent && !cut, sink);
        round.MakeRoom(watch);
        if (!ran) {
            run.stopped = true;
            return run;
        }
    }
}

} // namespace lynx::site
