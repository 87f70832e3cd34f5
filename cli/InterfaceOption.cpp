#include "cli/InterfaceOption.h"

#include "cli/OptionReader.h"
#include "platform/NetworkInterfaces.h"

#include <algorithm>

namespace lynx::cli {

bool CheckInterfaceNames(const std::vector<std::string>& names, std::string* error)
{
    std::vector<std::string> known;
    for (const platform::Ipv4Interface& card : platform::Ipv4Interfaces().value_or(std::vector<platform::Ipv4Interface>{}))
        if (std::find(known.begin(), known.end(), card.name) == known.end())
            known.push_back(card.name);
    for (const std::string& name : names) {
        if (std::find(known.begin(), known.end(), name) != known.end())
            continue;
        std::string list;
        for (const std::string& k : known)
            list += (list.empty() ? "" : ", ") + k;
        *error = list.empty() ? OptionMessage("no network interface called '%1' (this PC has none)", name)
                              : OptionMessage("no network interface called '%1' (this PC has: %2)", name, list);
        return false;
    }
    return true;
}

} // namespace lynx::cli
