#include "site/Acceptance.h"

#include "platform/MacKey.h"
#include "platform/Translation.h"
#include "site/Unreachable.h"

#include <array>
#include <optional>
#include <unordered_map>
#include <unordered_set>

namespace lynx::site {

namespace {

// An address the plan does not give is not checked. Dotted IPv4 has one way
// of writing each address (the file's are checked so), so texts compare.
bool SameAddress(const std::string& planned, const std::string& found)
{
    return planned.empty() || planned == found;
}

void Found(CameraAcceptance& camera, const protocol::DeviceTable& table, int number, const CardSubnets& cards)
{
    const DeviceRecord& record = *table.ByNumber(number);
    camera.unreachable = cards.UnreachableReason(record, table.ArrivalOf(number).value_or(protocol::ReportArrival{}));
    camera.ip = protocol::FieldText(record.deviceIp);
    camera.mask = protocol::FieldText(record.netMask);
    camera.gateway = protocol::FieldText(record.gatewayIp);
    camera.softwareVersion = protocol::FieldText(record.softwareVersion);
    camera.versionText = protocol::SoftwareVersionText(record);
}

void Conflicts(CameraAcceptance& camera, const protocol::DeviceTable& table, int number)
{
    const protocol::DeviceTable::IpConflicts conflicts = table.IpConflictsOf(number);
    camera.conflicts = conflicts.count;
    for (const int other : conflicts.first)
        if (const DeviceRecord* record = table.ByNumber(other))
            camera.conflictWith.push_back(protocol::FieldText(record->mac));
}

// The reports of one MAC: the camera's own, and what other hosts said of it.
struct ReportsOfMac {
    std::vector<int> own, hearsay;
    int First() const { return own.empty() ? hearsay.front() : own.front(); }
};

void Hearsay(CameraAcceptance& camera, const protocol::DeviceTable& table, const std::vector<int>& numbers)
{
    std::unordered_set<std::string> senders;
    for (const int number : numbers) {
        const std::optional<protocol::ReportArrival> arrival = table.ArrivalOf(number);
        if (!arrival || !senders.insert(arrival->sourceAddress).second)
            continue;
        if (camera.hearsayFrom.size() < kListedByName)
            camera.hearsayFrom.push_back(arrival->sourceAddress);
    }
    camera.hearsaySenders = senders.size();
}

// Each state's count, in the order of the enumeration.
constexpr std::array<std::size_t AcceptanceSummary::*, 6> kCountOf{
    &AcceptanceSummary::ok,      &AcceptanceSummary::address,    &AcceptanceSummary::version,
    &AcceptanceSummary::missing, &AcceptanceSummary::unexpected, &AcceptanceSummary::conflict};

} // namespace

bool VersionMatches(const std::string& expected, const DeviceRecord& record)
{
    return expected.empty() || expected == protocol::FieldText(record.softwareVersion) ||
           expected == protocol::SoftwareVersionText(record);
}

bool AcceptanceResult::Passed(bool allowUnexpected) const
{
    return summary.ok == summary.expected && (allowUnexpected || summary.unexpected == 0);
}

AcceptanceResult CheckAcceptance(const SiteFile& site, const protocol::DeviceTable& table, const std::string& expectVersion,
                                 const std::function<bool(int)>& present)
{
    const auto heard = [&present](int number) { return !present || present(number); };
    // The devices by MAC, in number order: a camera that answered more than
    // once (from two addresses) is one camera.
    std::unordered_map<std::string, ReportsOfMac> numbersOfMac;
    for (const auto& [number, record] : table.Map())
        if (heard(number)) {
            ReportsOfMac& reports = numbersOfMac[platform::MacKey(protocol::FieldText(record->mac))];
            (table.Hearsay(number) ? reports.hearsay : reports.own).push_back(number);
        }

    const CardSubnets cards;
    AcceptanceResult result;
    std::unordered_set<std::string> planned;
    for (const PlannedCamera& plan : site.cameras) {
        const std::string key = platform::MacKey(plan.mac);
        planned.insert(key);
        CameraAcceptance camera;
        camera.line = plan.line;
        camera.mac = plan.mac;
        camera.label = plan.label;
        camera.plannedIp = plan.ip;
        camera.plannedMask = plan.mask;
        camera.plannedGateway = plan.gateway;
        camera.plannedVersion = plan.softwareVersion.empty() ? expectVersion : plan.softwareVersion;
        const auto found = numbersOfMac.find(key);
        if (found != numbersOfMac.end())
            Hearsay(camera, table, found->second.hearsay);
        if (found == numbersOfMac.end() || found->second.own.empty()) {
            camera.state = AcceptanceState::Missing;
        } else {
            // Of its answers, the one from its planned address when there is one.
            camera.number = found->second.own.front();
            for (const int number : found->second.own)
                if (!plan.ip.empty() && plan.ip == protocol::FieldText(table.ByNumber(number)->deviceIp)) {
                    camera.number = number;
                    break;
                }
            const DeviceRecord& record = *table.ByNumber(camera.number);
            Found(camera, table, camera.number, cards);
            Conflicts(camera, table, camera.number);
            if (camera.conflicts != 0)
                camera.state = AcceptanceState::Conflict;
            else if (!SameAddress(plan.ip, camera.ip) || !SameAddress(plan.mask, camera.mask) ||
                     !SameAddress(plan.gateway, camera.gateway))
                camera.state = AcceptanceState::Address;
            else if (!VersionMatches(camera.plannedVersion, record))
                camera.state = AcceptanceState::Version;
            else
                camera.state = AcceptanceState::Ok;
        }
        result.cameras.push_back(std::move(camera));
    }
    result.summary.expected = result.cameras.size();
    for (const auto& [number, record] : table.Map()) {
        const std::string key = platform::MacKey(protocol::FieldText(record->mac));
        if (!heard(number) || planned.count(key))
            continue;
        const ReportsOfMac& reports = numbersOfMac[key];
        if (reports.First() != number)
            continue;
        CameraAcceptance camera;
        camera.state = AcceptanceState::Unexpected;
        camera.number = number;
        camera.mac = protocol::FieldText(record->mac);
        Found(camera, table, number, cards);
        Conflicts(camera, table, number);
        Hearsay(camera, table, reports.hearsay);
        result.cameras.push_back(std::move(camera));
    }
    for (const CameraAcceptance& camera : result.cameras)
        ++(result.summary.*kCountOf[static_cast<std::size_t>(camera.state)]);
    return result;
}

const char* StateName(AcceptanceState state)
{
    switch (state) {
    case AcceptanceState::Ok:
        return "ok";
    case AcceptanceState::Address:
        return "address";
    case AcceptanceState::Version:
        return "version";
    case AcceptanceState::Missing:
        return "missing";
    case AcceptanceState::Unexpected:
        return "unexpected";
    case AcceptanceState::Conflict:
        return "conflict";
    }
    return "";
}

std::string StateText(AcceptanceState state)
{
    switch (state) {
    case AcceptanceState::Ok:
        return platform::TrUtf8("正常");
    case AcceptanceState::Address:
        return platform::TrUtf8("地址不符");
    case AcceptanceState::Version:
        return platform::TrUtf8("版本不符");
    case AcceptanceState::Missing:
        return platform::TrUtf8("未找到");
    case AcceptanceState::Unexpected:
        return platform::TrUtf8("多余");
    case AcceptanceState::Conflict:
        return platform::TrUtf8("地址冲突");
    }
    return {};
}

std::string ListedText(const std::vector<std::string>& first, std::size_t count, const char* separator)
{
    std::string text;
    for (const std::string& item : first)
        text += (text.empty() ? "" : separator) + item;
    if (count > first.size())
        text = platform::Tr("%1 及另外 %2 个")
                   .arg(QString::fromStdString(text))
                   .arg(count - first.size())
                   .toStdString();
    return text;
}

std::string HearsayText(const CameraAcceptance& camera)
{
    if (camera.hearsaySenders == 0)
        return {};
    const QString hosts = QString::fromStdString(ListedText(camera.hearsayFrom, camera.hearsaySenders, ", "));
    return platform::Tr(camera.hearsaySenders == 1 ? "另一台主机 %1 替这台摄像机应答" : "其他主机 %1 替这台摄像机应答")
        .arg(hosts)
        .toStdString();
}

std::string SummaryText(const AcceptanceSummary& s)
{
    return platform::Tr("应有 %1 台，正常 %2，地址不符 %3，版本不符 %4，未找到 %5，多余 %6，地址冲突 %7")
        .arg(s.expected)
        .arg(s.ok)
        .arg(s.address)
        .arg(s.version)
        .arg(s.missing)
        .arg(s.unexpected)
        .arg(s.conflict)
        .toStdString();
}

} // namespace lynx::site
