#include "platform/Sockets.h"

#include "platform/Seam.h"

namespace lynx::platform {

using Handler = Seam<SocketInitHandler, struct SocketInitService>;

bool InitSockets()
{
    if (Handler::Current())
        return Handler::Current()();
    return true;
}

SocketInitHandler SetSocketInitHandler(SocketInitHandler h)
{
    return Handler::Replace(std::move(h));
}

} // namespace lynx::platform
