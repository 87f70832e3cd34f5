// The flows the engine runs over its devices: what arrives routed in one
// place, the address changes confirmed, the version check after a batch and
// the watch's rounds, each moved on by what arrives and by the engine's tick.
#include "site/Site.h"

#include "protocol/Transport.h"
#include "site/VersionCheck.h"
#include "site/WatchFlow.h"

#include <algorithm>

namespace lynx::site {

bool Site::Drain(protocol::DuplicateFilter filter, std::optional<std::chrono::milliseconds> budget, int64_t nowMs)
{
    const auto take = [&](protocol::Datagram& datagram) {
        if (datagram.port == protocol::kReportPort) {
            TakeReport(datagram, filter, nowMs);
            return;
        }
        // A reply or a notification: the devices kept so far are listed first.
        AnnounceAdded();
        m_upgrade.Batch().OnDatagram(datagram.header, datagram.body, datagram.peerAddress);
    };
    const bool more = budget ? m_discovery.Inbox().Apply(take, *budget) : m_discovery.Inbox().Apply(take);
    AnnounceAdded();
    return more;
}

void Site::TakeReport(const protocol::Datagram& datagram, protocol::DuplicateFilter filter, int64_t nowMs)
{
    if (TakeReaddressReport(datagram))
        return;
    if (m_versionCheck) {
        m_versionCheck->Take(datagram);
        if (m_versionCheck->Done())
            CancelVersionCheck();
        return;
    }
    if (TakeWatchReport(datagram, nowMs))
        return;
    if (const int number = AddReport(datagram, filter))
        Tell([&](SiteObserver& observer) { observer.DeviceAnswered(number, nowMs); });
}

bool Site::TakeReaddressReport(const protocol::Datagram& datagram)
{
    if (!m_readdress)
        return false;
    // A camera being readdressed is not listed again: its row follows it
    // (unless the list was emptied meanwhile). The other cameras answer the
    // confirmation's searches too: they are listed only by a search or the
    // watch of the user's own.
    const std::optional<std::size_t> index = m_readdress->OnReport(protocol::ReportOf(datagram));
    if (index && m_changed[*index].device != 0)
        return true;
    return !m_listening && !m_keeper;
}

bool Site::TakeWatchReport(const protocol::Datagram& datagram, int64_t nowMs)
{
    if (!m_keeper)
        return false;
    const RoundKeeper::Kept kept = m_keeper->Keep(datagram, *m_watch, *m_watchSink);
    if (kept.number == 0)
        return true;
    Tell([&](SiteObserver& observer) { observer.DeviceAnswered(kept.number, nowMs); });
    if (kept.changed) {
        Changed(kept.number);
        // Its old address's conflict marks go with it, its new one's come.
        for (int other : Table().IpConflictsOf(kept.number).first)
            Changed(other);
    }
    return true;
}

void Site::Tick(Clock::time_point now)
{
    if (m_searchEnds && now >= *m_searchEnds) {
        StopSearch();
        Tell([](SiteObserver& observer) { observer.SearchEnded(); });
    }
    if (m_readdress)
        m_readdress->Tick(now);
    if (m_versionCheck && now >= m_versionNext) {
        if (m_versionSearchesLeft-- > 0) {
            // The search request alone: the list stays as it is.
            m_discovery.SendSearch();
            m_versionNext = now + m_versionTiming.every;
        } else {
            m_versionCheck->Finish();
            m_versionCheck.reset();
        }
    }
    if (m_keeper && now >= m_watchNext)
        EndWatchRound(now);
    m_upgrade.Tick();
}

std::optional<std::chrono::milliseconds> Site::NextTick(Clock::time_point now) const
{
    std::optional<Clock::time_point> next;
    const auto earliest = [&next](Clock::time_point at) { next = next ? std::min(*next, at) : at; };
    if (const auto at = m_readdress ? m_readdress->NextDeadline() : std::nullopt)
        earliest(*at);
    if (m_versionCheck)
        earliest(m_versionNext);
    if (m_searchEnds)
        earliest(*m_searchEnds);
    if (m_keeper)
        earliest(m_watchNext);
    // The batch keeps a clock of its own.
    if (const auto at = m_upgrade.NextDeadline(m_upgrade.Batch().Now()))
        earliest(now + (*at - m_upgrade.Batch().Now()));
    if (!next)
        return std::nullopt;
    return std::max(std::chrono::ceil<std::chrono::milliseconds>(*next - now), std::chrono::milliseconds(0));
}

void Site::BeginReaddress(addressing::ChangeIpSender send, int confirmSeconds, std::function<bool()> searchAgain)
{
    // Each search asks the LAN again without emptying the list.
    if (!searchAgain)
        searchAgain = [this] { return m_discovery.SendSearch(); };
    m_readdress = std::make_unique<ReaddressSteps>(std::move(send), std::move(searchAgain), confirmSeconds);
    m_readdress->SetSink([this](const ReaddressSteps::Event& event) { ReaddressEvent(event); });
    m_changed.clear();
}

bool Site::AddReaddress(int device, std::string oldIp, const AddressChange& change, Clock::time_point now)
{
    if (!m_readdress)
        return false;
    // The device is known before its change is sent: the send's own event names it.
    m_changed.push_back({device, std::move(oldIp), change.mac});
    const std::size_t index = m_readdress->Add(change, now);
    return m_readdress->OutcomeOf(index) != ReaddressSteps::Outcome::SendFailed;
}

void Site::ReaddressEvent(const ReaddressSteps::Event& event)
{
    using Kind = ReaddressSteps::Event::Kind;
    if (event.kind == Kind::Ended) {
        Tell([](SiteObserver& observer) { observer.ReaddressEnded(); });
        return;
    }
    const int device = m_changed[event.index].device;
    const AddressChange& change = m_readdress->Change(event.index);
    switch (event.kind) {
    case Kind::Sent:
        if (m_readdress->OutcomeOf(event.index) != ReaddressSteps::Outcome::SendFailed)
            SetStatus(device, {DeviceState::AwaitingAddress});
        break;
    case Kind::Answered:
        // Only now does the device take its new address.
        Readdress(device, change.ip, change.gateway, change.mask);
        SetStatus(device, {DeviceState::Readdressed});
        break;
    case Kind::Away:
        SetStatus(device, FailureOf(FailureReason::NotAtNewAddress));
        break;
    case Kind::Ended:
        break;
    }
}

void Site::EndReaddress()
{
    m_readdress.reset();
    m_changed.clear();
}

bool Site::StartVersionCheck(const VersionCheckTiming& timing, Clock::time_point now)
{
    CancelVersionCheck();
    m_versionCheck = VersionCheck::Begin(*this);
    if (!m_versionCheck)
        return false;
    m_versionTiming = timing;
    m_versionSearchesLeft = timing.searches;
    m_versionNext = now + timing.reboot;
    return true;
}

void Site::CancelVersionCheck()
{
    m_versionCheck.reset();
}

bool Site::StartWatch(Watch& watch, WatchSink& sink, std::chrono::milliseconds interval, Clock::time_point now)
{
    m_watch = &watch;
    m_watchSink = &sink;
    m_keeper = std::make_unique<RoundKeeper>(Table());
    m_watchInterval = std::max(interval, std::chrono::milliseconds(1));
    m_watchNext = now + m_watchInterval;
    m_watchSent = m_discovery.SendSearch();
    return m_watchSent;
}

void Site::EndWatchRound(Clock::time_point now)
{
    // The round that ends heard whom it heard, the reports waiting included;
    // one whose search went out on no card says nothing of those it did not hear.
    // A slice at most, as a turn of a front end's loop takes: a flood must
    // not hold the round's end.
    Drain({}, std::chrono::milliseconds(2), std::chrono::duration_cast<std::chrono::milliseconds>(
                                                std::chrono::system_clock::now().time_since_epoch()).count());
    if (!m_keeper)
        return;
    const bool sent = m_watchSent;
    m_watch->EndRound(std::chrono::system_clock::now(), sent, *m_watchSink);
    m_watchSent = m_discovery.SendSearch();
    m_watchNext = now + m_watchInterval;
    Tell([sent](SiteObserver& observer) { observer.WatchRoundEnded(sent); });
}

int Site::WatchedNumberOf(std::string_view mac) const
{
    return m_keeper ? m_keeper->NumberOf(mac) : 0;
}

void Site::StopWatch()
{
    m_keeper.reset();
    m_watch = nullptr;
    m_watchSink = nullptr;
}

} // namespace lynx::site
