#include "AddressManager.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cstdio>

namespace camsim {

std::set<std::string> LocalIpv4Addresses()
{
    std::set<std::string> out;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return out;
    for (ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET)
            continue;
        char text[INET_ADDRSTRLEN];
        auto* a = reinterpret_cast<sockaddr_in*>(i->ifa_addr);
        if (::inet_ntop(AF_INET, &a->sin_addr, text, sizeof text))
            out.insert(text);
    }
    ::freeifaddrs(list);
    return out;
}

namespace {

std::string FirstUpInterface()
{
    std::string found;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return found;
    for (ifaddrs* i = list; i && found.empty(); i = i->ifa_next) {
        if ((i->ifa_flags & IFF_UP) && !(i->ifa_flags & IFF_LOOPBACK) && i->ifa_name)
            found = i->ifa_name;
    }
    ::freeifaddrs(list);
    return found;
}

bool SafeInterfaceName(const std::string& name)
{
    if (name.empty() || name.size() >= IFNAMSIZ)
        return false;
    for (char c : name)
        if (!(isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.'))
            return false;
    return true;
}

} // namespace

AddressManager::AddressManager(std::string interface, const Log& log)
    : m_interface(interface.empty() ? FirstUpInterface() : std::move(interface)), m_log(log)
{
    // Without promotion, deleting the first address of a network deletes all
    // the others of that network too: one camera's move would silence many.
    if (SafeInterfaceName(m_interface))
        if (FILE* f = std::fopen(("/proc/sys/net/ipv4/conf/" + m_interface + "/promote_secondaries").c_str(), "w")) {
            std::fputs("1", f);
            std::fclose(f);
        }
}

AddressManager::~AddressManager()
{
    RemoveAdded();
}

bool AddressManager::RunBatch(const std::string& commands)
{
    if (!SafeInterfaceName(m_interface)) {
        m_log.Always("no usable interface for camera addresses");
        return false;
    }
    // -force: one address that is already there must not stop the others.
    FILE* ip = ::popen("ip -force -batch - >/dev/null 2>&1", "w");
    if (!ip)
        return false;
    std::fwrite(commands.data(), 1, commands.size(), ip);
    return ::pclose(ip) == 0;
}

bool AddressManager::Ensure(const std::vector<std::pair<std::string, int>>& addresses)
{
    std::set<std::string> have = LocalIpv4Addresses();
    std::string commands;
    std::vector<std::pair<std::string, int>> adding;
    for (const auto& [ip, prefix] : addresses) {
        if (have.count(ip))
            continue;
        have.insert(ip);
        commands += "addr add " + ip + "/" + std::to_string(prefix) + " dev " + m_interface + "\n";
        adding.emplace_back(ip, prefix);
    }
    if (commands.empty())
        return true;
    bool ok = RunBatch(commands);
    std::set<std::string> now = LocalIpv4Addresses();
    std::lock_guard lock(m_mutex);
    for (const auto& a : adding)
        if (now.count(a.first))
            m_added.insert(a);
    m_log.Event("added " + std::to_string(adding.size()) + " addresses on " + m_interface);
    return ok && [&] {
        for (const auto& a : adding)
            if (!now.count(a.first))
                return false;
        return true;
    }();
}

namespace {

// The interface that holds the address, empty when none does.
std::string InterfaceHolding(const std::string& ip)
{
    std::string found;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return found;
    for (ifaddrs* i = list; i && found.empty(); i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !i->ifa_name)
            continue;
        char text[INET_ADDRSTRLEN];
        if (::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr, text, sizeof text) && ip == text)
            found = i->ifa_name;
    }
    ::freeifaddrs(list);
    return found;
}

// The routing table a rule "from ip" sends the address's datagrams to, empty
// when there is none (netlab --own-macs gives a camera's card one).
std::string SourceTable(const std::string& ip)
{
    std::string table;
    FILE* rules = ::popen(("ip -o -4 rule show from " + ip + " 2>/dev/null").c_str(), "r");
    if (!rules)
        return table;
    char line[256];
    while (table.empty() && std::fgets(line, sizeof line, rules)) {
        const std::string text = line;
        const size_t at = text.find(" lookup ");
        if (at != std::string::npos)
            table = text.substr(at + 8, text.find_first_of(" \n", at + 8) - at - 8);
    }
    ::pclose(rules);
    return table;
}

bool SafeWord(const std::string& word)
{
    return !word.empty() && word.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_") == std::string::npos;
}

} // namespace

bool AddressManager::Move(const std::string& oldIp, bool keepOld, const std::string& newIp, int prefix)
{
    // A camera with a card of its own keeps it when its address changes, as
    // a real camera does: the new address goes where the old one was, with
    // the rule that sends its datagrams through that card.
    const std::string card = InterfaceHolding(oldIp);
    if (!card.empty() && card != m_interface && SafeInterfaceName(card))
        return MoveOnOwnCard(card, oldIp, keepOld, newIp, prefix);
    std::string commands;
    std::set<std::string> have = LocalIpv4Addresses();
    if (!keepOld && have.count(oldIp) && oldIp != newIp) {
        {
            std::lock_guard lock(m_mutex);
            std::erase_if(m_added, [&](const auto& a) { return a.first == oldIp; });
        }
        commands += "addr del " + oldIp + " dev " + m_interface + "\n";
    }
    bool adding = !have.count(newIp);
    if (adding)
        commands += "addr add " + newIp + "/" + std::to_string(prefix) + " dev " + m_interface + "\n";
    if (commands.empty())
        return true;
    bool ok = RunBatch(commands);
    if (adding && LocalIpv4Addresses().count(newIp)) {
        std::lock_guard lock(m_mutex);
        m_added.emplace(newIp, prefix);
    }
    return ok;
}

bool AddressManager::MoveOnOwnCard(const std::string& card, const std::string& oldIp, bool keepOld,
                                   const std::string& newIp, int prefix)
{
    // The new address first: a card left without any address loses its
    // routes, those of its own table included.
    const std::string table = SourceTable(oldIp);
    std::string commands;
    if (!LocalIpv4Addresses().count(newIp)) {
        commands += "addr add " + newIp + "/" + std::to_string(prefix) + " dev " + card + "\n";
        if (SafeWord(table))
            commands += "rule add from " + newIp + " lookup " + table + "\n";
    }
    if (!keepOld && oldIp != newIp) {
        commands += "addr del " + oldIp + " dev " + card + "\n";
        if (SafeWord(table))
            commands += "rule del from " + oldIp + " lookup " + table + "\n";
    }
    m_log.Event("moving " + oldIp + " to " + newIp + " on its own card " + card);
    return commands.empty() || RunBatch(commands);
}

void AddressManager::RemoveAdded()
{
    std::set<std::pair<std::string, int>> added;
    {
        std::lock_guard lock(m_mutex);
        added.swap(m_added);
    }
    if (added.empty())
        return;
    std::set<std::string> have = LocalIpv4Addresses();
    std::string commands;
    for (const auto& [ip, prefix] : added)
        if (have.count(ip))
            commands += "addr del " + ip + "/" + std::to_string(prefix) + " dev " + m_interface + "\n";
    if (!commands.empty())
        RunBatch(commands);
}

} // namespace camsim
