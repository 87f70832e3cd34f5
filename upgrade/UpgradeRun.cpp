#include "upgrade/UpgradeRun.h"

#include "protocol/DiscoverySession.h"
#include "protocol/JsonMessages.h"
#include "protocol/Transport.h"
#include "upgrade/LocalAddress.h"

namespace lynx::upgrade {

namespace {

DownloadProgress ProgressOf(const Download& download)
{
    DownloadProgress progress;
    progress.bytes = download.taken;
    progress.size = download.size;
    progress.complete = download.complete;
    progress.served = download.served;
    if (download.complete && download.finished >= download.began)
        progress.took = std::chrono::duration_cast<std::chrono::milliseconds>(download.finished - download.began);
    return progress;
}

} // namespace

UpgradeRun::UpgradeRun(std::unique_ptr<UpgradeView> view, FrontEnd frontEnd)
    : m_view(view.get()), m_batch(std::move(view)), m_frontEnd(std::move(frontEnd))
{
    // The server the batch's file comes from, whichever it is when asked.
    m_batch.SetDownloadWitness([this](const std::string& ip) {
        return (m_ownServer ? m_ownServer->DownloadOf(ip) : UpgradeDownloadOf(ip)).complete;
    });
    m_batch.SetDownloadAccount([this](const std::string& ip) {
        return ProgressOf(m_ownServer ? m_ownServer->DownloadOf(ip) : UpgradeDownloadOf(ip));
    });
}

void UpgradeRun::Tick(UpgradeBatch::TimePoint now)
{
    m_batch.Review(now);
    for (const std::string& ip : m_batch.TrackDownloads(now, m_stall)) {
        if (m_ownServer)
            m_ownServer->Cut(ip);
        else
            CutUpgradeDownload(ip);
    }
    // A stalled camera given up frees its place of a parallel batch.
    m_batch.SendDue(now);
    if (m_batch.InFlight() > 0)
        m_view->ReviewAfter(kTickMs);
}

std::optional<UpgradeBatch::TimePoint> UpgradeRun::NextDeadline(UpgradeBatch::TimePoint now) const
{
    std::optional<UpgradeBatch::TimePoint> next = m_batch.NextSendAt();
    if (m_batch.InFlight() > 0 || m_batch.Holding()) {
        const auto tick = now + std::chrono::milliseconds(kTickMs);
        if (!next || tick < *next)
            next = tick;
    }
    return next;
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
    // A batch's file is served to the cameras it asks, and to no one else: the
    // previous batch's cameras are forgotten when its file is published, and
    // each camera is admitted just before it is told to download.
    std::function<bool(const std::string& ip)> admit;
    if (UpgradeFileServer* server = m_ownServer.get()) {
        hooks.publishFile = [server](const std::string& path, const std::string& name) {
            server->ForgetAdmitted();
            server->SetFile(path, name);
        };
        hooks.httpPort = [server] { return server->Port(); };
        admit = [server](const std::string& ip) { return server->Admit(ip); };
    } else {
        hooks.publishFile = [](const std::string& path, const std::string& name) {
            ForgetUpgradeCameras();
            SetUpgradeFile(path, name);
        };
        hooks.httpPort = [] { return g_nHttpPort.load(); };
        admit = AdmitUpgradeCamera;
    }
    hooks.startClient = [](const std::string& ip, uint16_t& handle) {
        return tarn_StartUDPClient(&handle, ip.c_str(), protocol::kUpdatePort, &protocol::DiscoverySession::ReceiveUpdate) ==
               1;
    };
    hooks.clientFailed = m_frontEnd.clientFailed;
    // Learnt afresh for each batch, once per network card.
    hooks.localAddress = [finder = std::make_shared<LocalAddressFinder>()](const std::string& ip) {
        return finder->Towards(ip);
    };
    hooks.sendUpdate = [admit, view = m_view](const std::string& url, const std::string& deviceId, uint16_t handle,
                                              const std::string& ip, uint32_t tag) {
        admit(ip);
        // The URL stays UTF-8: the request writer escapes what is not ASCII.
        const bool sent =
            protocol::SendToDevice(BuildJsonRequest("update", url.c_str(), deviceId.c_str()), handle, ip.c_str(), tag);
        // The camera downloads from now on: the ticks follow it.
        if (sent)
            view->ReviewAfter(kTickMs);
        return sent;
    };
    hooks.stopped = m_frontEnd.stopped;
    return hooks;
}

int UpgradeRun::DownloadsOpen() const
{
    return m_ownServer ? m_ownServer->Open() : 0;
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
