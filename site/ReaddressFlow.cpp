#include "site/ReaddressFlow.h"

#include "platform/MacKey.h"
#include "protocol/JsonMessages.h"
#include "site/SearchFlow.h"

#include <algorithm>
#include <cstring>

namespace lynx::site {

addressing::ChangeIpSender SessionSender(protocol::DiscoverySession& session)
{
    return [&session](const std::string& mac, const std::string& ip, const std::string& gateway,
                      const std::string& mask) {
        return session.SendChangeIp(protocol::MakeChangeIpRecord(mac, ip, gateway, mask));
    };
}

ReaddressSteps::ReaddressSteps(addressing::ChangeIpSender send, std::function<bool()> searchAgain,
                               int confirmSeconds)
    : m_send(std::move(send)), m_searchAgain(std::move(searchAgain)), m_confirmSeconds(std::max(confirmSeconds, 0))
{
}

std::size_t ReaddressSteps::Add(const AddressChange& change, Clock::time_point now)
{
    const std::size_t index = m_changes.size();
    Entry& entry = m_changes.emplace_back();
    entry.change = change;
    entry.macKey = platform::MacKey(change.mac);
    entry.deadline = now + std::chrono::seconds(m_confirmSeconds);
    const bool sent = m_send(change.mac, change.ip, change.gateway, change.mask);
    if (!sent)
        entry.outcome = Outcome::SendFailed;
    else if (m_confirmSeconds == 0)
        entry.outcome = Outcome::Sent;
    else {
        ++m_sentCount;
        // The first change awaited starts the rounds: the next Tick asks.
        if (m_awaited++ == 0)
            m_nextSearch = now;
    }
    Tell(Event::Kind::Sent, index);
    return index;
}

std::optional<std::size_t> ReaddressSteps::OnReport(const DeviceRecord& report)
{
    if (report.mac[0] == '\0' || m_changes.empty())
        return std::nullopt;
    const std::string mac = platform::MacKey(protocol::FieldText(report.mac));
    const std::string ip = protocol::FieldText(report.deviceIp);
    std::optional<std::size_t> ours;
    for (std::size_t i = 0; i < m_changes.size(); ++i) {
        Entry& entry = m_changes[i];
        if (entry.macKey != mac)
            continue;
        ours = i;
        if (entry.outcome == Outcome::Waiting && ip == entry.change.ip)
            Settle(i, Outcome::Confirmed);
    }
    return ours;
}

void ReaddressSteps::Tick(Clock::time_point now)
{
    for (std::size_t i = 0; i < m_changes.size(); ++i) {
        if (m_changes[i].outcome == Outcome::Waiting && now >= m_changes[i].deadline)
            Settle(i, Outcome::Away);
    }
    if (!Waiting() || now < m_nextSearch)
        return;
    m_nextSearch = now + kRound;
    if (m_searchAgain && !m_searchAgain()) {
        // Asked on no card, no camera can answer: the waiting stops here.
        for (std::size_t i = 0; i < m_changes.size(); ++i)
            if (m_changes[i].outcome == Outcome::Waiting)
                Settle(i, Outcome::Away);
    }
}

std::optional<ReaddressSteps::Clock::time_point> ReaddressSteps::NextDeadline() const
{
    if (!Waiting())
        return std::nullopt;
    Clock::time_point next = m_nextSearch;
    for (const Entry& entry : m_changes)
        if (entry.outcome == Outcome::Waiting)
            next = std::min(next, entry.deadline);
    return next;
}

ReaddressProgress ReaddressSteps::Progress(Clock::time_point now) const
{
    ReaddressProgress progress;
    progress.awaited = m_sentCount;
    Clock::time_point last = now;
    for (const Entry& entry : m_changes) {
        progress.answered += entry.outcome == Outcome::Confirmed ? 1 : 0;
        if (entry.outcome == Outcome::Waiting)
            last = std::max(last, entry.deadline);
    }
    progress.secondsLeft = static_cast<int>(std::chrono::ceil<std::chrono::seconds>(last - now).count());
    return progress;
}

void ReaddressSteps::Tell(Event::Kind kind, std::size_t index)
{
    if (m_sink)
        m_sink(Event{kind, index});
}

void ReaddressSteps::Settle(std::size_t index, Outcome outcome)
{
    m_changes[index].outcome = outcome;
    --m_awaited;
    Tell(outcome == Outcome::Confirmed ? Event::Kind::Answered : Event::Kind::Away, index);
    if (m_awaited == 0)
        Tell(Event::Kind::Ended, index);
}

ReaddressResult Readdress(protocol::DiscoverySession& session, const ReaddressRequest& request,
                          const ReaddressEvents& events)
{
    ReaddressResult result;
    session.SetInterfaces(request.interfaces);
    result.failure = StartServers(session, false);
    if (!result.ok())
        return result;
    // Every round starts a new list without duplicate filter: every answer
    // counts, and the rows held before are asked nothing.
    std::size_t fed = 0;  // the rows of the round's list already shown to the steps
    ReaddressSteps steps(
        SessionSender(session),
        [&session, &fed] {
            fed = 0;
            return session.Search();
        },
        request.confirmSeconds);
    steps.SetSink([&events, &steps](const ReaddressSteps::Event& event) {
        if (event.kind == ReaddressSteps::Event::Kind::Sent && events.sent)
            events.sent(event.index, steps.OutcomeOf(event.index) != ReaddressSteps::Outcome::SendFailed);
        else if (event.kind == ReaddressSteps::Event::Kind::Answered && events.answered)
            events.answered(event.index);
    });
    for (const AddressChange& change : request.changes)
        steps.Add(change, Clock::now());
    const auto feed = [&] {
        for (; fed < session.Table().Size(); ++fed)
            if (const DeviceRecord* record = session.Table().ByNumber(static_cast<int>(fed) + 1))
                steps.OnReport(*record);
        return !steps.Waiting();
    };
    while (steps.Waiting()) {
        steps.Tick(Clock::now());
        if (events.progress)
            events.progress(steps.Progress(Clock::now()));
        const auto next = steps.NextDeadline();
        if (!next)
            break;
        const auto until = events.progress ? std::min(*next, Clock::now() + kProgressInterval) : *next;
        session.CollectUntil(until, protocol::DuplicateFilter{false, false}, {}, feed);
        feed();
    }
    result.cameras.resize(steps.Size());
    for (std::size_t i = 0; i < steps.Size(); ++i) {
        result.cameras[i].sent = steps.OutcomeOf(i) != ReaddressSteps::Outcome::SendFailed;
        result.cameras[i].confirmed = steps.OutcomeOf(i) == ReaddressSteps::Outcome::Confirmed;
    }
    return result;
}

} // namespace lynx::site
