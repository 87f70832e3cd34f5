#include "site/SearchFlow.h"

#include <algorithm>

namespace lynx::site {

namespace {

// What arrives until the deadline or until done, in slices of the progress
// interval when there is a tick to call between them (a quiet LAN delivers
// nothing that would wake the collection).
void Collect(protocol::DiscoverySession& session, Clock::time_point deadline, protocol::DuplicateFilter filter,
             const std::function<void(protocol::Datagram&)>& other, const std::function<bool()>& done,
             const std::function<void()>& tick)
{
    if (!tick) {
        session.CollectUntil(deadline, filter, other, done);
        return;
    }
    for (;;) {
        tick();
        session.CollectUntil(std::min(deadline, Clock::now() + kProgressInterval), filter, other, done);
        if (Clock::now() >= deadline || (done && done()))
            return;
    }
}

} // namespace

int SecondsLeft(Clock::time_point deadline)
{
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero())
        return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::seconds>(left).count());
}

SearchResult Search(protocol::DiscoverySession& session, const SearchRequest& request, const SearchProgressFn& progress)
{
    SearchResult result;
    session.SetInterfaces(request.interfaces);
    session.Table().SetCapacity(request.capacity);
    result.failure = StartServers(session, request.serveUpdates);
    if (!result.ok())
        return result;
    if (!(request.keepTable ? session.SendSearch() : session.Search())) {
        result.failure = Failure::NoCard;
        return result;
    }
    result.deadline = Clock::now() + std::chrono::seconds(request.seconds);
    std::function<void()> tick;
    if (progress)
        tick = [&] { progress({session.Table().Size(), SecondsLeft(result.deadline)}); };
    Collect(session, result.deadline, request.filter, {}, {}, tick);
    result.ended = Clock::now();
    result.rows = session.Table().Rows();
    result.dropped = session.Table().Dropped();
    return result;
}

bool SearchUntil(protocol::DiscoverySession& session, Clock::time_point deadline, const std::function<bool()>& settled,
                 const std::function<void(protocol::Datagram&)>& other, const std::function<void()>& tick)
{
    // A round of a few seconds: a camera that was still restarting when one
    // search went out answers the next.
    constexpr auto kRound = std::chrono::seconds(3);
    // Only answers to these searches count: the rows held before are asked nothing.
    while (Clock::now() < deadline) {
        if (!session.Search())
            return false;
        Collect(session, std::min(deadline, Clock::now() + kRound), protocol::DuplicateFilter{false, false}, other,
                settled, tick);
        if (settled())
            break;
    }
    return true;
}

} // namespace lynx::site
