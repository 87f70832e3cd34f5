// A discovery session of the test's own in the virtual LAN, the transport
// started (for tests that link the protocol library).
#pragma once

#include "NetlabFixture.h"
#include "protocol/DiscoverySession.h"

namespace lynx::test {

class SessionInLan : public NetlabTest {
protected:
    void SetUpInLan() override { protocol::InitTransport(); }
    protocol::DiscoverySession session;
};

} // namespace lynx::test
