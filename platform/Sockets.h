// The socket layer's start-up step, behind a seam: on this platform sockets
// need no initialisation, but tests make it fail to check what the user sees.
#pragma once

#include <functional>

namespace lynx::platform {

bool InitSockets();

using SocketInitHandler = std::function<bool()>;
SocketInitHandler SetSocketInitHandler(SocketInitHandler handler);

} // namespace lynx::platform
