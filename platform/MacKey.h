// How two MAC texts are compared wherever Lynx asks whether they name one
// camera: the device table's duplicate rule, the IP-conflict mark, address
// plans and the version check after a batch.
#pragma once

#include <string>
#include <string_view>

namespace lynx::platform {

// A MAC as compared: its twelve hex digits in upper case, whatever the
// separators ("00-1a-2b-..." is "00:1A:2B:..."); text that does not hold
// twelve hex digits is compared as given, in upper case.
std::string MacKey(std::string_view mac);

} // namespace lynx::platform
