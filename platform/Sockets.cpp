#include "platform/Sockets.h"

namespace lynx::platform {

namespace {

SocketInitHandler& handler()
{
    static SocketInitHandler h;
    return h;
}

} // namespace

bool InitSockets()
{
    if (handler())
        return handler()();
    return true;
}

SocketInitHandler SetSocketInitHandler(SocketInitHandler h)
{
    SocketInitHandler previous = std::move(handler());
    handler() = std::move(h);
    return previous;
}

} // namespace lynx::platform
