// --interface NAME, which every command that sends limits its broadcasts
// with: a name no interface of this PC has is invalid input.
#pragma once

#include <string>
#include <vector>

namespace lynx::cli {

// False, with a message naming the interfaces that exist, when a name is not
// one of this PC's IPv4 interfaces.
bool CheckInterfaceNames(const std::vector<std::string>& names, std::string* error);

} // namespace lynx::cli
