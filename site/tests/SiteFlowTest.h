// The fixture of the site flow tests: a session of the test's own in the
// virtual LAN, the transport started.
#pragma once

#include "NetlabFixture.h"
#include "protocol/DiscoverySession.h"

namespace lynx::test {

class SiteFlowTest : public NetlabTest {
protected:
    void SetUp() override
    {
        NetlabTest::SetUp();
        if (IsSkipped())
            return;
        protocol::InitTransport();
    }
    protocol::DiscoverySession session;
};

} // namespace lynx::test
