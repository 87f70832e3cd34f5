#include "site/MqttPublisher.h"

#include "platform/Translation.h"

#include <mosquitto.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <vector>

namespace lynx::site {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::string Text(const char* source, const std::string& first)
{
    return platform::Tr(source).arg(QString::fromStdString(first)).toStdString();
}

std::string Text(const char* source, const std::string& first, const std::string& second)
{
    return platform::Tr(source).arg(QString::fromStdString(first), QString::fromStdString(second)).toStdString();
}

void InitLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), text.begin(), [](char p, char t) {
               return p == std::tolower(static_cast<unsigned char>(t));
           });
}

bool HostCharacter(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
}

bool Ipv6Character(char c)
{
    return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
}

// A topic a broker takes for publishing: UTF-8 without control characters,
// no wildcard, not one of the broker's own ($SYS and the like).
bool UsableTopic(const std::string& topic)
{
    if (topic.empty() || topic[0] == '$' || topic.find_first_of("+#") != std::string::npos)
        return false;
    for (char c : topic)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return false;
    return mosquitto_validate_utf8(topic.c_str(), static_cast<int>(topic.size())) == MOSQ_ERR_SUCCESS;
}

std::string LibraryError(int code)
{
    if (code == MOSQ_ERR_ERRNO)
        return std::strerror(errno);
    return mosquitto_strerror(code);
}

bool Readable(int fd)
{
    pollfd one{fd, POLLIN, 0};
    return ::poll(&one, 1, 0) > 0;
}

// Looks the broker's name up on a thread of its own, left to finish by
// itself when the publisher gives up: a name server that does not answer
// holds that thread for its time-outs, never the publisher's end. False when
// it gave up; *failure set when the name has no address.
bool LookUp(const std::string& host, const std::function<bool()>& givingUp, std::string* failure)
{
    unsigned char bytes[sizeof(in6_addr)];
    if (::inet_pton(AF_INET, host.c_str(), bytes) == 1 || ::inet_pton(AF_INET6, host.c_str(), bytes) == 1)
        return true;
    struct Lookup {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        std::string error;
    };
    auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, host] {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        const int code = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
        if (found)
            ::freeaddrinfo(found);
        std::lock_guard lock(lookup->mutex);
        lookup->finished = true;
        lookup->error = code != 0 ? ::gai_strerror(code) : "";
        lookup->done.notify_all();
    }).detach();
    std::unique_lock lock(lookup->mutex);
    while (!lookup->finished) {
        lock.unlock();
        if (givingUp())
            return false;
        lock.lock();
        lookup->done.wait_for(lock, milliseconds(20));
    }
    *failure = lookup->error;
    return true;
}

// The library's thread may be cancelled (a stop while a connect hangs in the
// system): never inside the publisher's own code, which holds locks and
// writes lines.
class NoCancellation {
public:
    NoCancellation() { pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &m_before); }
    ~NoCancellation()
    {
        int ignored = 0;
        pthread_setcancelstate(m_before, &ignored);
    }
    NoCancellation(const NoCancellation&) = delete;
    NoCancellation& operator=(const NoCancellation&) = delete;

private:
    int m_before = 0;
};

// The library's delays are whole seconds, one at least.
unsigned WholeSeconds(milliseconds delay)
{
    return static_cast<unsigned>(std::max<long long>(1, (delay.count() + 999) / 1000));
}

// The CONNACK codes of a login the broker refuses: bad user name or password, not authorised.
bool LoginRefused(int code)
{
    return code == 4 || code == 5;
}

constexpr std::string_view kTlsErrorPrefix = "OpenSSL Error";

// What TOPIC/status says.
constexpr std::string_view kOnline = "online";
constexpr std::string_view kOffline = "offline";

// The errors of one event that no connection will ever send: it is dropped.
bool EventRefused(int code)
{
    return code == MOSQ_ERR_PAYLOAD_SIZE || code == MOSQ_ERR_MALFORMED_UTF8 || code == MOSQ_ERR_INVAL ||
           code == MOSQ_ERR_OVERSIZE_PACKET || code == MOSQ_ERR_QOS_NOT_SUPPORTED;
}

} // namespace

std::optional<MqttUrl> ParseMqttUrl(std::string_view url, std::string* error)
{
    const std::string whole(url);
    const auto fail = [&](const char* message, const std::string& shown) -> std::optional<MqttUrl> {
        *error = Text(message, shown);
        return std::nullopt;
    };
    const bool tls = StartsWithNoCase(url, "mqtts://");
    if (!tls && !StartsWithNoCase(url, "mqtt://"))
        return fail("MQTT地址应写作 mqtt://主机[:端口]/主题 或 mqtts://主机[:端口]/主题：%1", whole);
    const size_t schemeLength = tls ? 8 : 7;
    const std::string_view rest = url.substr(schemeLength);
    const size_t slash = rest.find('/');
    std::string_view authority = rest.substr(0, slash);
    if (const size_t at = authority.rfind('@'); at != std::string_view::npos) {
        // The user info is left out of the message: it may hold a password.
        const std::string shown = whole.substr(0, schemeLength) + "…" + whole.substr(schemeLength + at);
        return fail(
            "MQTT地址不能包含用户名或密码：%1。请用 --mqtt-user 给出用户名，密码放在环境变量 LYNX_MQTT_PASSWORD 或 --mqtt-password-file 指定的文件中",
            shown);
    }
    const auto failWith = [&](const char* message) { return fail(message, whole); };

    MqttUrl parsed;
    parsed.tls = tls;
    parsed.port = tls ? 8883 : 1883;
    std::string_view port;
    bool hasPort = false;
    if (!authority.empty() && authority[0] == '[') {
        const size_t close = authority.find(']');
        if (close == std::string_view::npos)
            return failWith("MQTT地址的主机无效：%1");
        parsed.host = std::string(authority.substr(1, close - 1));
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty() && after[0] != ':')
            return failWith("MQTT地址的主机无效：%1");
        hasPort = !after.empty();
        port = hasPort ? after.substr(1) : after;
        if (parsed.host.empty() || parsed.host.find(':') == std::string::npos ||
            !std::all_of(parsed.host.begin(), parsed.host.end(), Ipv6Character))
            return failWith("MQTT地址的主机无效：%1");
    } else {
        const size_t colon = authority.find(':');
        parsed.host = std::string(authority.substr(0, colon));
        hasPort = colon != std::string_view::npos;
        if (hasPort)
            port = authority.substr(colon + 1);
        if (parsed.host.empty())
            return failWith("MQTT地址缺少主机：%1");
        if (!std::all_of(parsed.host.begin(), parsed.host.end(), HostCharacter) ||
            (hasPort && port.find(':') != std::string_view::npos))
            return failWith("MQTT地址的主机无效：%1");
    }
    if (hasPort) {
        unsigned value = 0;
        bool digits = !port.empty() && port.size() <= 5;
        for (char c : port) {
            digits = digits && c >= '0' && c <= '9';
            value = value * 10 + static_cast<unsigned>(c - '0');
        }
        if (!digits || value < 1 || value > 65535)
            return failWith("MQTT地址的端口应为1到65535的数字：%1");
        parsed.port = static_cast<uint16_t>(value);
    }
    if (slash == std::string_view::npos)
        return failWith("MQTT地址缺少主题：%1");
    std::string topic(rest.substr(slash + 1));
    while (!topic.empty() && topic.back() == '/')
        topic.pop_back();
    if (topic.empty())
        return failWith("MQTT地址缺少主题：%1");
    if (!UsableTopic(topic + "/x"))
        return failWith("MQTT主题不能包含 +、#、控制字符或无效的UTF-8，也不能以 $ 开头：%1");
    parsed.topic = std::move(topic);
    return parsed;
}

std::string MqttTopicLevel(std::string_view mac)
{
    if (mac.empty())
        return "_";
    // The publisher's own state is not a camera's to overwrite.
    if (mac == kMqttStatusLevel)
        return "_" + std::string(mac);
    std::string level;
    for (char c : mac) {
        const bool plain = std::isalnum(static_cast<unsigned char>(c)) || c == ':' || c == '-' || c == '.' || c == '_';
        level += plain ? c : '_';
    }
    return level;
}

MqttPublisher::MqttPublisher(MqttUrl url, Options options) : m_url(std::move(url)), m_options(std::move(options))
{
    InitLibrary();
}

MqttPublisher::~MqttPublisher()
{
    Stop(milliseconds(0));
}

void MqttPublisher::SetStatusCallback(StatusCallback callback)
{
    m_status = std::move(callback);
}

void MqttPublisher::SetRefusedCallback(RefusedCallback callback)
{
    m_refused = std::move(callback);
}

bool MqttPublisher::Start(std::string* error)
{
    if (m_client)
        return true;
    std::string failure;
    if (m_url.tls && !(m_tls = MqttTlsContext::Make(m_url.host, m_options.tls, &failure))) {
        if (error)
            *error = failure;
        return false;
    }
    m_client = mosquitto_new(nullptr, true, this);
    if (!m_client) {
        if (error)
            *error = LibraryError(MOSQ_ERR_NOMEM);
        return false;
    }
    Listen();
    Configure();
    m_keeper = std::thread([this] { Keep(); });
    return true;
}

void MqttPublisher::Listen()
{
    mosquitto_connect_callback_set(m_client, [](mosquitto*, void* self, int code) {
        NoCancellation guard;
        static_cast<MqttPublisher*>(self)->OnConnect(code);
    });
    mosquitto_disconnect_callback_set(m_client, [](mosquitto*, void* self, int code) {
        NoCancellation guard;
        static_cast<MqttPublisher*>(self)->OnDisconnect(code);
    });
    mosquitto_publish_callback_set(m_client, [](mosquitto*, void* self, int mid) {
        NoCancellation guard;
        static_cast<MqttPublisher*>(self)->OnPublished(mid);
    });
    mosquitto_log_callback_set(m_client, [](mosquitto*, void* self, int level, const char* line) {
        NoCancellation guard;
        static_cast<MqttPublisher*>(self)->OnLog(level, line);
    });
}

void MqttPublisher::Configure()
{
    // One more than the events in flight: the status message.
    mosquitto_max_inflight_messages_set(m_client, static_cast<unsigned>(std::max<size_t>(m_options.inFlight, 1) + 1));
    const unsigned first = WholeSeconds(m_options.retryFirst);
    mosquitto_reconnect_delay_set(m_client, first, std::max(first, WholeSeconds(m_options.retryLongest)), true);
    if (m_tls) {
        mosquitto_int_option(m_client, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 0);
        mosquitto_void_option(m_client, MOSQ_OPT_SSL_CTX, m_tls->Get());
    }
    if (!m_options.user.empty())
        mosquitto_username_pw_set(m_client, m_options.user.c_str(),
                                  m_options.password.empty() ? nullptr : m_options.password.c_str());
    const std::string topic = StatusTopic();
    mosquitto_will_set(m_client, topic.c_str(), static_cast<int>(kOffline.size()), kOffline.data(), 1, true);
}

std::string MqttPublisher::StatusTopic() const
{
    return m_url.topic + "/" + std::string(kMqttStatusLevel);
}

void MqttPublisher::Keep()
{
    // A write to a broker that has gone fails with EPIPE instead of ending
    // the program: the library's threads, started here, inherit the mask.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    // The first connection is started with the loop running, so that the
    // library tries again by itself when it fails at once.
    mosquitto_loop_start(m_client);
    if (!Connect(true))
        return;
    for (;;) {
        std::string failure;
        {
            std::unique_lock lock(m_keeperMutex);
            m_keeperWake.wait(lock, [&] { return m_ending || m_loopEnded; });
            if (m_ending)
                return;
            m_loopEnded = false;
            failure = std::exchange(m_tlsFailure, {});
        }
        // A certificate refused: said once, then tried again quietly, so
        // that a renewed certificate is taken.
        const std::string refusal = m_tls ? m_tls->TakeRefusal() : std::string();
        if (refusal.empty() && failure.empty())
            failure = LibraryError(MOSQ_ERR_TLS);
        Outage(refusal.empty() ? failure : refusal, !refusal.empty());
        {
            std::unique_lock lock(m_keeperMutex);
            if (m_keeperWake.wait_for(lock, m_options.retryLongest, [&] { return m_ending; }))
                return;
        }
        mosquitto_loop_stop(m_client, true);
        // Again with no loop running, so that the two never share the
        // connection while it is made; the loop follows once it is under way.
        if (!Connect(false))
            return;
    }
}

bool MqttPublisher::Ending() const
{
    std::lock_guard lock(m_keeperMutex);
    return m_ending;
}

bool MqttPublisher::Connect(bool first)
{
    // The library looks the name up again itself, without a bound: only once
    // a lookup has answered.
    std::string failure;
    if (!LookUp(m_url.host, [this] { return Ending(); }, &failure))
        return false;
    const int code = first ? mosquitto_connect_async(m_client, m_url.host.c_str(), m_url.port,
                                                     std::max(m_options.keepAliveSeconds, 5))
                           : mosquitto_reconnect_async(m_client);
    // A TLS failure is told by the library's log.
    if (code != MOSQ_ERR_SUCCESS && code != MOSQ_ERR_TLS)
        Outage(failure.empty() ? LibraryError(code) : failure, false);
    if (first)
        return true;  // the loop tries again by itself
    if (code == MOSQ_ERR_SUCCESS) {
        mosquitto_loop_start(m_client);
    } else {
        // No loop to try again: the keeper does, after its delay.
        std::lock_guard lock(m_keeperMutex);
        m_loopEnded = true;
    }
    return true;
}

void MqttPublisher::OnLog(int level, const char* line)
{
    if (level != MOSQ_LOG_ERR || std::string_view(line).substr(0, kTlsErrorPrefix.size()) != kTlsErrorPrefix)
        return;
    // "OpenSSL Error[0]: error:0A000086:SSL routines::certificate verify failed"
    std::string_view text(line);
    const size_t colon = text.find(": ");
    {
        std::lock_guard lock(m_keeperMutex);
        m_loopEnded = true;
        if (m_tlsFailure.empty())
            m_tlsFailure = std::string(colon == std::string_view::npos ? text : text.substr(colon + 2));
    }
    m_keeperWake.notify_all();
}

void MqttPublisher::OnConnect(int code)
{
    const std::string reason = code ? mosquitto_connack_string(code) : "";
    if (LoginRefused(code)) {
        {
            std::lock_guard lock(m_mutex);
            m_refusal = reason;
        }
        // No retry can mend a login: the library's loop ends here.
        mosquitto_disconnect(m_client);
        m_wake.notify_all();
        Say(Text("MQTT服务器 %1 拒绝登录（%2），不再重试", Where(), reason));
        if (m_refused)
            m_refused();
        return;
    }
    if (code != 0) {
        Outage(reason, false);
        return;
    }
    std::vector<std::string> said;
    {
        std::lock_guard lock(m_mutex);
        m_connected = true;
        if (std::string back = BackLine(); !back.empty())
            said.push_back(std::move(back));
        const std::string topic = StatusTopic();
        mosquitto_publish(m_client, nullptr, topic.c_str(), static_cast<int>(kOnline.size()), kOnline.data(), 1, true);
        // The library sends the events in flight again after this callback:
        // a camera's newer event must not overtake them.
        m_resending = !m_inFlight.empty();
        HandOver(&said);
    }
    m_wake.notify_all();
    SayAll(said);
}

void MqttPublisher::OnDisconnect(int code)
{
    bool refused = false;
    {
        std::lock_guard lock(m_mutex);
        m_connected = false;
        m_disconnected = true;
        refused = !m_refusal.empty();
    }
    m_wake.notify_all();
    // A TLS failure ends the library's loop; the keeper says it, with
    // OpenSSL's reason from the log, and starts the loop again.
    if (code == MOSQ_ERR_TLS) {
        {
            std::lock_guard lock(m_keeperMutex);
            m_loopEnded = true;
        }
        m_keeperWake.notify_all();
    } else if (code != MOSQ_ERR_SUCCESS && !refused) {
        Outage(LibraryError(code), false);
    }
}

void MqttPublisher::OnPublished(int mid)
{
    std::vector<std::string> said;
    {
        std::lock_guard lock(m_mutex);
        if (mid == m_offlineMid) {
            m_offlineAcknowledged = true;
        } else if (const auto event = m_inFlight.find(mid); event != m_inFlight.end()) {
            m_inFlight.erase(event);
            ++m_published;
            if (m_inFlight.empty())
                m_resending = false;
            // A queue that has drained to half is full again only after a new report.
            if (m_fullSaid && !m_outage && 2 * (m_waiting.size() + m_inFlight.size()) < m_options.queueLimit)
                m_fullSaid = false;
            HandOver(&said);
        }
    }
    m_wake.notify_all();
    SayAll(said);
}

void MqttPublisher::HandOver(std::vector<std::string>* said)
{
    while (m_connected && !m_resending && !m_waiting.empty() &&
           m_inFlight.size() < std::max<size_t>(m_options.inFlight, 1)) {
        const Event& event = m_waiting.front();
        int mid = 0;
        const int code = mosquitto_publish(m_client, &mid, event.topic.c_str(), static_cast<int>(event.payload.size()),
                                           event.payload.data(), 1, true);
        // Without a connection (lost a moment ago) the library keeps the
        // event, and sends it once connected again.
        if (code == MOSQ_ERR_SUCCESS || code == MOSQ_ERR_NO_CONN) {
            m_inFlight.emplace(mid, std::move(m_waiting.front()));
            m_waiting.pop_front();
            continue;
        }
        if (!EventRefused(code))
            return;  // tried again with the next acknowledgement or connection
        m_waiting.pop_front();
        ++m_dropped;
        m_droppedSaid = m_dropped;
        said->push_back(Text("MQTT：一条事件无法发送（%1），已丢弃", LibraryError(code)));
    }
}

void MqttPublisher::Publish(const std::string& mac, const std::string& json)
{
    Event event{m_url.topic + "/" + MqttTopicLevel(mac), json};
    std::vector<std::string> said;
    bool dropping = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping) {
            ++m_dropped;
            return;
        }
        const bool full = m_waiting.size() + m_inFlight.size() >= std::max<size_t>(m_options.queueLimit, 1);
        if (full) {
            ++m_dropped;
            dropping = m_dropped > m_droppedSaid && !m_fullSaid;
        }
        // The oldest waiting event makes room; one in flight may be on the
        // broker already, and then the new one is dropped.
        if (!full || !m_waiting.empty()) {
            if (full)
                m_waiting.pop_front();
            m_waiting.push_back(std::move(event));
            HandOver(&said);
        }
    }
    SayAll(said);
    if (dropping)
        SayDrops();
}

void MqttPublisher::SayDrops()
{
    size_t limit = 0;
    {
        std::lock_guard lock(m_mutex);
        if (m_dropped <= m_droppedSaid || m_fullSaid)
            return;
        m_fullSaid = true;
        m_droppedSaid = m_dropped;
        limit = m_options.queueLimit;
    }
    Say(Text("MQTT队列已满（%1 条），最早的事件被丢弃", std::to_string(limit)));
}

void MqttPublisher::Outage(const std::string& reason, bool certificate)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_outage || m_stopped)
            return;
        m_outage = true;
        m_droppedAtOutage = m_dropped;
    }
    if (certificate)
        Say(Text("MQTT服务器 %1 的证书未通过验证（%2），不向它发送任何事件；事件暂存在队列中，稍后重试", Where(), reason));
    else
        Say(Text("MQTT服务器 %1 无法连接（%2），事件暂存在队列中，稍后重试", Where(), reason));
}

std::string MqttPublisher::BackLine()
{
    if (!m_outage)
        return {};
    m_outage = false;
    const uint64_t dropped = m_dropped - m_droppedAtOutage;
    m_fullSaid = false;
    m_droppedSaid = m_dropped;
    if (dropped == 0)
        return Text("MQTT服务器 %1 已重新连接", Where());
    return Text("MQTT服务器 %1 已重新连接；队列满时丢弃了 %2 条事件", Where(), std::to_string(dropped));
}

bool MqttPublisher::Stop(milliseconds flushFor, Flush flush, int abandonFd)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_stopped)
            return m_waiting.empty() && m_inFlight.empty();
        if (!m_stopping) {
            m_stopping = true;
            m_stopBy = Clock::now() + flushFor;
            m_flushWhileConnected = flush == Flush::WhileConnected;
        }
    }
    m_wake.notify_all();
    const bool abandoned = m_client && !AwaitFlush(abandonFd);
    {
        std::lock_guard lock(m_keeperMutex);
        m_ending = true;
    }
    m_keeperWake.notify_all();
    if (m_keeper.joinable())
        m_keeper.join();
    if (m_client) {
        Disconnect(abandoned);
        mosquitto_destroy(m_client);
        m_client = nullptr;
    }
    size_t left = 0;
    {
        std::lock_guard lock(m_mutex);
        m_stopped = true;
        m_connected = false;
        left = m_waiting.size() + m_inFlight.size();
    }
    if (left > 0)
        Say(Text("MQTT：停止时仍有 %1 条事件未送达服务器 %2", std::to_string(left), Where()));
    return left == 0;
}

bool MqttPublisher::FlushOver() const
{
    return m_stopping && (Clock::now() >= m_stopBy || (m_flushWhileConnected && !m_connected.load()) ||
                          !m_refusal.empty());
}

bool MqttPublisher::AwaitFlush(int abandonFd)
{
    std::unique_lock lock(m_mutex);
    while ((!m_waiting.empty() || !m_inFlight.empty()) && !FlushOver()) {
        if (abandonFd >= 0 && Readable(abandonFd))
            return false;
        m_wake.wait_until(lock, std::min(m_stopBy, Clock::now() + (abandonFd >= 0 ? milliseconds(20) : milliseconds(1000))));
    }
    return true;
}

void MqttPublisher::Disconnect(bool abandoned)
{
    // How long a broker is given for "offline" and the goodbye, when the flush left it no time.
    constexpr milliseconds kGoodbye{500};
    std::unique_lock lock(m_mutex);
    if (m_connected && !abandoned) {
        const std::string topic = StatusTopic();
        if (mosquitto_publish(m_client, &m_offlineMid, topic.c_str(), static_cast<int>(kOffline.size()), kOffline.data(), 1,
                          true) == MOSQ_ERR_SUCCESS) {
            const auto until = std::max(m_stopBy, Clock::now() + kGoodbye);
            if (m_wake.wait_until(lock, until, [&] { return m_offlineAcknowledged || !m_connected; }) &&
                m_offlineAcknowledged) {
                m_disconnected = false;
                lock.unlock();
                mosquitto_disconnect(m_client);
                lock.lock();
                m_wake.wait_for(lock, kGoodbye, [&] { return m_disconnected; });
            }
        }
    }
    lock.unlock();
    // A loop still trying (a connect that hangs in the system) is cancelled;
    // a connection left without a goodbye makes the broker give out the
    // last will, "offline".
    mosquitto_loop_stop(m_client, true);
}

MqttCounters MqttPublisher::Counters() const
{
    std::lock_guard lock(m_mutex);
    return {m_published, m_waiting.size() + m_inFlight.size(), m_inFlight.size(), m_dropped};
}

std::string MqttPublisher::Refusal() const
{
    std::lock_guard lock(m_mutex);
    return m_refusal;
}

void MqttPublisher::Say(const std::string& line)
{
    if (m_status)
        m_status(line);
    else
        std::cerr << line << std::endl;
}

void MqttPublisher::SayAll(const std::vector<std::string>& lines)
{
    for (const std::string& line : lines)
        Say(line);
}

std::string MqttPublisher::Where() const
{
    return (m_url.host.find(':') != std::string::npos ? "[" + m_url.host + "]" : m_url.host) + ":" +
           std::to_string(m_url.port);
}

std::unique_ptr<MqttPublisher> OpenPublisher(std::string_view url, std::string* error,
                                             MqttPublisher::StatusCallback status, MqttOptions options,
                                             MqttPublisher::RefusedCallback refused)
{
    std::optional<MqttUrl> parsed = ParseMqttUrl(url, error);
    if (!parsed)
        return nullptr;
    auto publisher = std::make_unique<MqttPublisher>(std::move(*parsed), std::move(options));
    if (status)
        publisher->SetStatusCallback(std::move(status));
    if (refused)
        publisher->SetRefusedCallback(std::move(refused));
    if (!publisher->Start(error))
        return nullptr;
    return publisher;
}

} // namespace lynx::site
