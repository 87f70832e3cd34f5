#include "site/ReaddressFlow.h"

#include "platform/MacKey.h"
#include "protocol/JsonMessages.h"
#include "site/SearchFlow.h"

#include <cstring>
#include <map>

namespace lynx::site {

addressing::ChangeIpSender SessionSender(protocol::DiscoverySession& session)
{
    return [&session](const std::string& mac, const std::string& ip, const std::string& gateway,
                      const std::string& mask) {
        return session.SendChangeIp(protocol::MakeChangeIpRecord(mac, ip, gateway, mask));
    };
}

ReaddressResult Readdress(protocol::DiscoverySession& session, const ReaddressRequest& request,
                          const ReaddressEvents& events)
{
    ReaddressResult result;
    session.SetInterfaces(request.interfaces);
    result.failure = StartServers(session, false);
    if (!result.ok())
        return result;
    result.cameras.resize(request.changes.size());
    const addressing::ChangeIpSender send = SessionSender(session);
    std::map<std::string, std::size_t> waiting;  // MacKey -> index of the change
    for (std::size_t i = 0; i < request.changes.size(); ++i) {
        const AddressChange& change = request.changes[i];
        result.cameras[i].sent = send(change.mac, change.ip, change.gateway, change.mask);
        if (result.cameras[i].sent)
            waiting[platform::MacKey(change.mac)] = i;
        if (events.sent)
            events.sent(i, result.cameras[i].sent);
    }
    if (request.confirmSeconds <= 0 || waiting.empty())
        return result;

    // Each camera restarts at its new address: its answer from there, under
    // its MAC, confirms the change.
    const std::size_t awaited = waiting.size();
    const auto deadline = Clock::now() + std::chrono::seconds(request.confirmSeconds);
    const auto settled = [&] {
        for (const protocol::DeviceRow& row : session.Table().Rows()) {
            const auto it = waiting.find(platform::MacKey(protocol::FieldText(row.record.mac)));
            if (it == waiting.end() || protocol::FieldText(row.record.deviceIp) != request.changes[it->second].ip)
                continue;
            const std::size_t index = it->second;
            waiting.erase(it);
            result.cameras[index].confirmed = true;
            if (events.answered)
                events.answered(index);
        }
        return waiting.empty();
    };
    std::function<void()> tick;
    if (events.progress)
        tick = [&] { events.progress({awaited - waiting.size(), awaited, SecondsLeft(deadline)}); };
    SearchUntil(session, deadline, settled, {}, tick);
    return result;
}

} // namespace lynx::site
