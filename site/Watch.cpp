#include "site/Watch.h"

#include "platform/MacKey.h"
#include "protocol/DeviceRecord.h"

#include <json/writer.h>

#include <algorithm>
#include <ctime>
#include <utility>

namespace lynx::site {

HeardCamera HeardFrom(const DeviceRecord& record)
{
    using protocol::FieldText;
    return {FieldText(record.mac), FieldText(record.deviceIp), FieldText(record.netMask), FieldText(record.gatewayIp),
            FieldText(record.softwareVersion)};
}

const char* WatchEventName(WatchEventKind kind)
{
    switch (kind) {
    case WatchEventKind::Appeared:
        return "appeared";
    case WatchEventKind::Disappeared:
        return "disappeared";
    case WatchEventKind::Returned:
        return "returned";
    case WatchEventKind::Address:
        return "address";
    case WatchEventKind::Version:
        return "version";
    case WatchEventKind::Missing:
        return "missing";
    case WatchEventKind::Unexpected:
        return "unexpected";
    }
    return "";
}

std::string UtcTimeText(WallClock::time_point time)
{
    const auto millis = std::chrono::floor<std::chrono::milliseconds>(time.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(millis >= 0 ? millis / 1000 : (millis - 999) / 1000);
    const int rest = static_cast<int>(millis - static_cast<long long>(seconds) * 1000);
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, rest);
    return text;
}

std::string WatchEventJson(const WatchEvent& event)
{
    // Written member by member: a reader of the stream sees time, event, mac
    // and ip first, in that order, as JsonCpp's own objects (sorted by name)
    // would not keep them.
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    std::string line = "{";
    const auto member = [&](const char* name, const std::string& value) {
        if (line.size() > 1)
            line += ',';
        line += '"';
        line += name;
        line += "\":";
        line += Json::writeString(builder, Json::Value(value));
    };
    const auto optional = [&](const char* name, const std::string& value) {
        if (!value.empty())
            member(name, value);
    };
    member("time", UtcTimeText(event.time));
    member("event", WatchEventName(event.kind));
    member("mac", event.mac);
    member("ip", event.ip);
    optional("label", event.label);
    optional("softwareVersion", event.softwareVersion);
    if (event.kind == WatchEventKind::Address) {
        member("previousIp", event.previousIp);
        member("previousMask", event.previousMask);
        member("previousGateway", event.previousGateway);
        member("mask", event.mask);
        member("gateway", event.gateway);
    }
    if (event.kind == WatchEventKind::Version)
        member("previousVersion", event.previousVersion);
    if (event.kind == WatchEventKind::Disappeared)
        member("lastHeard", UtcTimeText(event.lastHeard));
    line += '}';
    return line;
}

Watch::Watch(int missedRounds, const std::vector<ExpectedCamera>& expected, std::size_t capacity)
    : m_missedRounds(std::max(1, missedRounds)), m_knowsSite(!expected.empty()), m_capacity(capacity)
{
    for (const ExpectedCamera& camera : expected) {
        std::string key = platform::MacKey(camera.mac);
        auto [it, added] = m_cameras.try_emplace(key);
        if (!added)
            continue;
        it->second.last.mac = camera.mac;
        it->second.label = camera.label;
        it->second.expected = true;
        m_expected.push_back(std::move(key));
    }
}

void Watch::Emit(WatchEvent event, WatchSink& sink)
{
    ++m_events[static_cast<std::size_t>(event.kind)];
    sink.Event(event);
}

void Watch::Round(WallClock::time_point time, const std::vector<HeardCamera>& heard, bool complete, WatchSink& sink)
{
    for (const HeardCamera& camera : heard)
        Heard(time, camera, sink);
    EndRound(time, complete, sink);
}

void Watch::EndRound(WallClock::time_point time, bool complete, WatchSink& sink)
{
    const std::uint64_t ending = m_round++;
    if (!complete)
        return;
    // In MAC order, so that one round's events come out the same way each run.
    std::vector<std::pair<const std::string*, Camera*>> missed;
    for (auto& [key, camera] : m_cameras) {
        if (camera.heardInRound != ending && !Settled(camera))
            missed.emplace_back(&key, &camera);
    }
    std::sort(missed.begin(), missed.end(), [](const auto& a, const auto& b) { return *a.first < *b.first; });
    for (auto& [key, camera] : missed)
        Missed(time, *camera, sink);
}

void Watch::Heard(WallClock::time_point time, const HeardCamera& heard, WatchSink& sink)
{
    if (heard.mac.empty())
        return;
    std::string key = platform::MacKey(heard.mac);
    auto it = m_cameras.find(key);
    if (it == m_cameras.end()) {
        if (m_capacity != 0 && m_cameras.size() >= m_capacity) {
            ++m_notTracked;
            return;
        }
        it = m_cameras.try_emplace(std::move(key)).first;
    }
    Camera& camera = it->second;
    // A camera that answers twice in a round is heard once; of two hosts
    // claiming one MAC, the first to answer speaks for the round.
    if (camera.heardInRound == m_round)
        return;
    const bool everHeard = camera.heardInRound != 0;
    camera.heardInRound = m_round;
    camera.lastHeard = time;
    camera.missed = 0;

    WatchEvent event;
    event.time = time;
    event.mac = heard.mac;
    event.ip = heard.ip;
    event.mask = heard.mask;
    event.gateway = heard.gateway;
    event.softwareVersion = heard.softwareVersion;
    event.label = camera.label;
    if (!everHeard || camera.gone) {
        event.kind = everHeard                             ? WatchEventKind::Returned
                     : m_knowsSite && !camera.expected ? WatchEventKind::Unexpected
                                                       : WatchEventKind::Appeared;
        camera.gone = false;
        Emit(event, sink);
        if (!everHeard) {
            camera.last = heard;
            return;
        }
    }
    // A camera back from the dark at a new address or version: that is said too.
    const HeardCamera before = std::exchange(camera.last, heard);
    if (before.ip != heard.ip || before.mask != heard.mask || before.gateway != heard.gateway) {
        event.kind = WatchEventKind::Address;
        event.previousIp = before.ip;
        event.previousMask = before.mask;
        event.previousGateway = before.gateway;
        Emit(event, sink);
    }
    if (before.softwareVersion != heard.softwareVersion) {
        event.kind = WatchEventKind::Version;
        event.previousVersion = before.softwareVersion;
        Emit(event, sink);
    }
}

bool Watch::Settled(const Camera& camera)
{
    return camera.gone || (camera.heardInRound == 0 && camera.missingTold);
}

void Watch::Missed(WallClock::time_point time, Camera& camera, WatchSink& sink)
{
    const bool everHeard = camera.heardInRound != 0;
    if (Settled(camera))
        return;
    if (++camera.missed < m_missedRounds)
        return;
    WatchEvent event;
    event.time = time;
    event.mac = camera.last.mac;
    event.ip = camera.last.ip;
    event.mask = camera.last.mask;
    event.gateway = camera.last.gateway;
    event.softwareVersion = camera.last.softwareVersion;
    event.label = camera.label;
    if (everHeard) {
        camera.gone = true;
        event.kind = WatchEventKind::Disappeared;
        event.lastHeard = camera.lastHeard;
    } else {
        camera.missingTold = true;
        event.kind = WatchEventKind::Missing;
    }
    Emit(std::move(event), sink);
}

std::vector<std::string> Watch::ForgetGone()
{
    std::vector<std::string> forgotten;
    for (auto it = m_cameras.begin(); it != m_cameras.end();) {
        if (it->second.gone && !it->second.expected) {
            forgotten.push_back(std::move(it->second.last.mac));
            it = m_cameras.erase(it);
        } else {
            ++it;
        }
    }
    return forgotten;
}

WatchSummary Watch::Summary() const
{
    WatchSummary summary;
    summary.rounds = m_round - 1;
    summary.events = m_events;
    summary.notTracked = m_notTracked;
    for (const auto& [key, camera] : m_cameras) {
        if (camera.heardInRound == 0)
            continue;
        if (camera.gone)
            ++summary.disappeared;
        else
            ++summary.present;
    }
    for (const std::string& key : m_expected) {
        const Camera& camera = m_cameras.at(key);
        if (camera.heardInRound == 0 || camera.gone)
            summary.absent.push_back({camera.last.mac, camera.label});
    }
    summary.expectedAbsent = summary.absent.size();
    return summary;
}

bool Watch::AllExpectedPresent() const
{
    return std::all_of(m_expected.begin(), m_expected.end(), [&](const std::string& key) {
        const Camera& camera = m_cameras.at(key);
        return camera.heardInRound != 0 && !camera.gone;
    });
}

} // namespace lynx::site
