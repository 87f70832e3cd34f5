#include "upgrade/UpgradeRun.h"

#include "protocol/JsonMessages.h"
#include "protocol/Transport.h"
#include "upgrade/LocalAddress.h"

namespace lynx::upgrade {

UpgradeRun::UpgradeRun(std::unique_ptr<UpgradeListView> view, FrontEnd frontEnd)
    : m_batch(std::move(view)), m_frontEnd(std::move(frontEnd))
{
}

UpgradeRun::~UpgradeRun() = default;

bool UpgradeRun::StartOwnServer(UpgradeFileServer::Options options)
{
    m_ownServer = std::make_unique<UpgradeFileServer>(std::move(options));
    if (m_ownServer->Start())
        return true;
    m_ownServer.reset();
    return false;
}

UpgradeSendHooks UpgradeRun::Hooks() const
{
    UpgradeSendHooks hooks;
    if (UpgradeFileServer* server = m_ownServer.get()) {
        hooks.publishFile = [server](const std::string& path, const std::string& name) { server->SetFile(path, name); };
        hooks.httpPort = [server] { return server->Port(); };
    } else {
        hooks.publishFile = [](const std::string& path, const std::string& name) { SetUpgradeFile(path, name); };
        hooks.httpPort = [] { return g_nHttpPort.load(); };
    }
    hooks.startClient = [replies = m_frontEnd.replies](const std::string& ip, uint16_t& handle) {
        return tarn_StartUDPClient(&handle, ip.c_str(), protocol::kUpdatePort, replies) == 1;
    };
    hooks.clientFailed = m_frontEnd.clientFailed;
    // Learnt afresh for each batch, once per network card.
    hooks.localAddress = [finder = std::make_shared<LocalAddressFinder>()](const std::string& ip) {
        return finder->Towards(ip);
    };
    hooks.sendUpdate = [](const std::string& url, const std::string& deviceId, uint16_t handle, const std::string& ip,
                          uint32_t tag) {
        // The URL stays UTF-8: the request writer escapes what is not ASCII.
        return protocol::SendToDevice(BuildJsonRequest("update", url.c_str(), deviceId.c_str()), handle, ip.c_str(),
                                      tag);
    };
    hooks.pause = m_frontEnd.pause;
    hooks.giveUp = m_frontEnd.giveUp;
    return hooks;
}

void UpgradeRun::SendUpdateCommands(const std::string& firmwarePath)
{
    m_batch.SendUpdateCommands(firmwarePath, Hooks());
}

void UpgradeRun::Confirm(const std::string& firmwarePath)
{
    m_batch.Confirm(firmwarePath, Hooks());
}

} // namespace lynx::upgrade
