#include "site/MqttPublisher.h"

#include "platform/Translation.h"

#include <mosquitto.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
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

// The broker's numeric addresses, in the order the system prefers them. A
// name is looked up on a thread of its own, left to finish by itself on a
// stop: a name server that does not answer holds that thread for its
// time-outs, never the publisher's end. None, with *reason set unless the
// publisher gave up, when the name has no address.
std::vector<std::string> NumericAddresses(const std::string& host, const std::function<bool()>& givingUp,
                                          std::string* reason)
{
    unsigned char bytes[sizeof(in6_addr)];
    if (::inet_pton(AF_INET, host.c_str(), bytes) == 1 || ::inet_pton(AF_INET6, host.c_str(), bytes) == 1)
        return {host};
    struct Lookup {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        std::vector<std::string> addresses;
        std::string error;
    };
    auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, host] {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        std::vector<std::string> addresses;
        std::string error = "no address";
        if (const int code = ::getaddrinfo(host.c_str(), nullptr, &hints, &found); code != 0) {
            error = ::gai_strerror(code);
        } else {
            for (const addrinfo* a = found; a; a = a->ai_next) {
                char text[INET6_ADDRSTRLEN] = {};
                if (::getnameinfo(a->ai_addr, a->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST) == 0)
                    addresses.emplace_back(text);
            }
            ::freeaddrinfo(found);
        }
        std::lock_guard lock(lookup->mutex);
        lookup->finished = true;
        lookup->addresses = std::move(addresses);
        lookup->error = std::move(error);
        lookup->done.notify_all();
    }).detach();
    std::unique_lock lock(lookup->mutex);
    while (!lookup->finished) {
        lock.unlock();
        if (givingUp())
            return {};
        lock.lock();
        lookup->done.wait_for(lock, milliseconds(20));
    }
    *reason = lookup->error;
    return lookup->addresses;
}

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
    const auto fail = [&](const char* message) -> std::optional<MqttUrl> {
        *error = Text(message, whole);
        return std::nullopt;
    };
    constexpr std::string_view scheme = "mqtt://";
    if (StartsWithNoCase(url, "mqtts://"))
        return fail("不支持加密的MQTT连接（mqtts://），请使用 mqtt://：%1");
    if (!StartsWithNoCase(url, scheme))
        return fail("MQTT地址应写作 mqtt://主机[:端口]/主题：%1");
    const std::string_view rest = url.substr(scheme.size());
    const size_t slash = rest.find('/');
    const std::string_view authority = rest.substr(0, slash);
    if (authority.find('@') != std::string_view::npos)
        return fail("MQTT地址不支持用户名和密码：%1");

    MqttUrl parsed;
    std::string_view port;
    bool hasPort = false;
    if (!authority.empty() && authority[0] == '[') {
        const size_t close = authority.find(']');
        if (close == std::string_view::npos)
            return fail("MQTT地址的主机无效：%1");
        parsed.host = std::string(authority.substr(1, close - 1));
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty() && after[0] != ':')
            return fail("MQTT地址的主机无效：%1");
        hasPort = !after.empty();
        port = hasPort ? after.substr(1) : after;
        if (parsed.host.empty() || parsed.host.find(':') == std::string::npos ||
            !std::all_of(parsed.host.begin(), parsed.host.end(), Ipv6Character))
            return fail("MQTT地址的主机无效：%1");
    } else {
        const size_t colon = authority.find(':');
        parsed.host = std::string(authority.substr(0, colon));
        hasPort = colon != std::string_view::npos;
        if (hasPort)
            port = authority.substr(colon + 1);
        if (parsed.host.empty())
            return fail("MQTT地址缺少主机：%1");
        if (!std::all_of(parsed.host.begin(), parsed.host.end(), HostCharacter) ||
            (hasPort && port.find(':') != std::string_view::npos))
            return fail("MQTT地址的主机无效：%1");
    }
    if (hasPort) {
        unsigned value = 0;
        bool digits = !port.empty() && port.size() <= 5;
        for (char c : port) {
            digits = digits && c >= '0' && c <= '9';
            value = value * 10 + static_cast<unsigned>(c - '0');
        }
        if (!digits || value < 1 || value > 65535)
            return fail("MQTT地址的端口应为1到65535的数字：%1");
        parsed.port = static_cast<uint16_t>(value);
    }
    if (slash == std::string_view::npos)
        return fail("MQTT地址缺少主题：%1");
    std::string topic(rest.substr(slash + 1));
    while (!topic.empty() && topic.back() == '/')
        topic.pop_back();
    if (topic.empty())
        return fail("MQTT地址缺少主题：%1");
    if (!UsableTopic(topic + "/x"))
        return fail("MQTT主题不能包含 +、#、控制字符或无效的UTF-8，也不能以 $ 开头：%1");
    parsed.topic = std::move(topic);
    return parsed;
}

std::string MqttTopicLevel(std::string_view mac)
{
    if (mac.empty())
        return "_";
    std::string level;
    for (char c : mac) {
        const bool plain = std::isalnum(static_cast<unsigned char>(c)) || c == ':' || c == '-' || c == '.' || c == '_';
        level += plain ? c : '_';
    }
    return level;
}

// One connection through the client library: the library's client object,
// and what its callbacks (run inside mosquitto_loop, on the publisher's
// thread) have said.
class MqttPublisher::Session {
public:
    explicit Session(MqttPublisher& owner) : m_owner(owner), m_client(mosquitto_new(nullptr, true, this))
    {
        if (!m_client)
            return;
        mosquitto_connect_callback_set(m_client, [](mosquitto*, void* self, int code) {
            auto* session = static_cast<Session*>(self);
            if (code == 0)
                session->connected = true;
            else
                session->refusal = code;
        });
        mosquitto_publish_callback_set(
            m_client, [](mosquitto*, void* self, int mid) { static_cast<Session*>(self)->m_owner.Acknowledged(mid); });
    }
    ~Session()
    {
        if (m_client)
            mosquitto_destroy(m_client);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    mosquitto* client() const { return m_client; }

    bool connected = false;
    int refusal = 0;  // the broker's CONNACK code when it refused

private:
    MqttPublisher& m_owner;
    mosquitto* m_client;
};

MqttPublisher::MqttPublisher(MqttUrl url, Options options) : m_url(std::move(url)), m_options(options)
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

void MqttPublisher::Start()
{
    if (!m_thread.joinable())
        m_thread = std::thread([this] { Run(); });
}

void MqttPublisher::Publish(const std::string& mac, const std::string& json)
{
    Event event{m_url.topic + "/" + MqttTopicLevel(mac), json};
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping) {
            ++m_dropped;
            return;
        }
        if (m_waiting.size() + m_inFlight.size() >= std::max<size_t>(m_options.queueLimit, 1)) {
            ++m_dropped;
            // The oldest waiting event makes room; one in flight may be on
            // the broker already.
            if (m_waiting.empty())
                return;
            m_waiting.pop_front();
        }
        m_waiting.push_back(std::move(event));
    }
    m_wake.notify_all();
}

bool MqttPublisher::Stop(milliseconds flushFor, Flush flush, int abandonFd)
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_stopping) {
            m_stopping = true;
            m_stopBy = Clock::now() + flushFor;
            m_flushWhileConnected = flush == Flush::WhileConnected;
        }
    }
    m_wake.notify_all();
    if (m_thread.joinable()) {
        AwaitThreadEnd(abandonFd);
        m_thread.join();
    }
    std::lock_guard lock(m_mutex);
    return m_waiting.empty() && m_inFlight.empty();
}

void MqttPublisher::AwaitThreadEnd(int abandonFd)
{
    std::unique_lock lock(m_mutex);
    while (!m_threadEnded) {
        if (abandonFd >= 0 && Readable(abandonFd) && m_stopBy > Clock::now()) {
            m_stopBy = Clock::now();
            m_wake.notify_all();
        }
        m_wake.wait_for(lock, abandonFd >= 0 ? milliseconds(20) : milliseconds(1000));
    }
}

MqttCounters MqttPublisher::Counters() const
{
    std::lock_guard lock(m_mutex);
    return {m_published, m_waiting.size() + m_inFlight.size(), m_inFlight.size(), m_dropped};
}

void MqttPublisher::Say(const std::string& line)
{
    if (m_status)
        m_status(line);
    else
        std::cerr << line << std::endl;
}

std::string MqttPublisher::Where() const
{
    return (m_url.host.find(':') != std::string::npos ? "[" + m_url.host + "]" : m_url.host) + ":" +
           std::to_string(m_url.port);
}

bool MqttPublisher::FlushOver() const
{
    return m_stopping && (Clock::now() >= m_stopBy || (m_flushWhileConnected && !m_connected.load()));
}

bool MqttPublisher::Finished() const
{
    std::lock_guard lock(m_mutex);
    return m_stopping && ((m_waiting.empty() && m_inFlight.empty()) || FlushOver());
}

bool MqttPublisher::Sleep(milliseconds delay)
{
    const auto until = Clock::now() + delay;
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (m_stopping && ((m_waiting.empty() && m_inFlight.empty()) || FlushOver()))
            return false;
        if (Clock::now() >= until)
            return true;
        const bool full = m_dropped > m_droppedSaid && !m_fullSaid;
        if (full) {
            lock.unlock();
            SayDrops();
            lock.lock();
            continue;
        }
        m_wake.wait_until(lock, m_stopping ? std::min(until, m_stopBy) : until);
    }
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

void MqttPublisher::Acknowledged(int mid)
{
    std::lock_guard lock(m_mutex);
    auto order = m_orderOfMessage.find(mid);
    if (order == m_orderOfMessage.end())
        return;
    m_inFlight.erase(order->second);
    m_orderOfMessage.erase(order);
    ++m_published;
    // A queue that has drained to half is full again only after a new report.
    if (m_fullSaid && !m_outage && 2 * (m_waiting.size() + m_inFlight.size()) < m_options.queueLimit)
        m_fullSaid = false;
}

void MqttPublisher::Requeue()
{
    std::lock_guard lock(m_mutex);
    for (auto it = m_inFlight.rbegin(); it != m_inFlight.rend(); ++it)
        m_waiting.push_front(std::move(it->second));
    m_inFlight.clear();
    m_orderOfMessage.clear();
}

bool MqttPublisher::GivingUp() const
{
    std::lock_guard lock(m_mutex);
    return FlushOver();
}

std::string MqttPublisher::Serve(bool* connected)
{
    std::string failure;
    const std::vector<std::string> addresses = NumericAddresses(m_url.host, [this] { return GivingUp(); }, &failure);
    // Each address in turn, as the system orders them, until one takes the connection.
    for (const std::string& address : addresses) {
        failure = ServeAt(address, connected);
        if (failure.empty() || *connected || GivingUp())
            break;
    }
    return GivingUp() && !*connected ? std::string() : failure;
}

std::string MqttPublisher::ServeAt(const std::string& address, bool* connected)
{
    const auto givingUp = [this] { return GivingUp(); };
    Session session(*this);
    if (!session.client())
        return LibraryError(MOSQ_ERR_NOMEM);
    // The library's blocking connect waits as long as the system does (over
    // two minutes) for a broker whose SYNs go unanswered, deaf to a stop: the
    // connection is started without waiting, and the loop below bounds it.
    int code = mosquitto_connect_async(session.client(), address.c_str(), m_url.port, m_options.keepAliveSeconds);
    if (code != MOSQ_ERR_SUCCESS)
        return LibraryError(code);
    const auto attempt = Clock::now();
    for (;;) {
        code = mosquitto_loop(session.client(), 20, 1);
        if (session.refusal)
            return mosquitto_connack_string(session.refusal);
        if (code != MOSQ_ERR_SUCCESS)
            return LibraryError(code);
        if (!session.connected) {
            if (givingUp())
                return {};
            if (Clock::now() - attempt > m_options.connectTimeout)
                return std::strerror(ETIMEDOUT);
            continue;
        }
        if (!*connected) {
            *connected = true;
            m_connected = true;
            SayBack();
        }
        if (std::string failed = SendWaiting(session.client()); !failed.empty())
            return failed;
        SayDrops();
        if (Finished()) {
            mosquitto_disconnect(session.client());
            for (int i = 0; i < 10 && mosquitto_loop(session.client(), 10, 1) == MOSQ_ERR_SUCCESS; ++i) {
            }
            return {};
        }
    }
}

void MqttPublisher::SayBack()
{
    uint64_t dropped = 0;
    {
        std::lock_guard lock(m_mutex);
        if (!m_outage)
            return;
        m_outage = false;
        dropped = m_dropped - m_droppedAtOutage;
        m_fullSaid = false;
        m_droppedSaid = m_dropped;
    }
    if (dropped == 0)
        Say(Text("MQTT服务器 %1 已重新连接", Where()));
    else
        Say(Text("MQTT服务器 %1 已重新连接；队列满时丢弃了 %2 条事件", Where(), std::to_string(dropped)));
}

std::string MqttPublisher::SendWaiting(mosquitto* client)
{
    for (;;) {
        const Event* event = nullptr;
        uint64_t order = 0;
        {
            std::lock_guard lock(m_mutex);
            if (m_waiting.empty() || m_inFlight.size() >= std::max<size_t>(m_options.inFlight, 1))
                return {};
            order = ++m_sendOrder;
            // The map's nodes stay where they are, and only this thread
            // changes the map: the event is read below without the lock.
            event = &(m_inFlight[order] = std::move(m_waiting.front()));
            m_waiting.pop_front();
        }
        int mid = 0;
        const int code = mosquitto_publish(client, &mid, event->topic.c_str(), static_cast<int>(event->payload.size()),
                                           event->payload.data(), 1, true);
        if (code == MOSQ_ERR_SUCCESS) {
            std::lock_guard lock(m_mutex);
            m_orderOfMessage[mid] = order;
            continue;
        }
        if (!EventRefused(code))
            return LibraryError(code);
        {
            std::lock_guard lock(m_mutex);
            m_inFlight.erase(order);
            ++m_dropped;
            m_droppedSaid = m_dropped;
        }
        Say(Text("MQTT：一条事件无法发送（%1），已丢弃", LibraryError(code)));
    }
}

void MqttPublisher::Run()
{
    // A write to a broker that has gone fails with EPIPE instead of ending
    // the program: the signal stays pending on this thread, unhandled.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);

    milliseconds delay = m_options.retryFirst;
    while (!Finished()) {
        bool connected = false;
        const std::string failure = Serve(&connected);
        m_connected = false;
        Requeue();
        if (failure.empty())
            break;
        if (connected)
            delay = m_options.retryFirst;
        bool first = false;
        {
            std::lock_guard lock(m_mutex);
            if (!m_outage) {
                m_outage = first = true;
                m_droppedAtOutage = m_dropped;
            }
        }
        if (first)
            Say(Text("MQTT服务器 %1 无法连接（%2），事件暂存在队列中，稍后重试", Where(), failure));
        if (!Sleep(delay))
            break;
        delay = std::min(delay * 2, m_options.retryLongest);
    }
    size_t left = 0;
    {
        std::lock_guard lock(m_mutex);
        left = m_waiting.size() + m_inFlight.size();
    }
    if (left > 0)
        Say(Text("MQTT：停止时仍有 %1 条事件未送达服务器 %2", std::to_string(left), Where()));
    {
        std::lock_guard lock(m_mutex);
        m_threadEnded = true;
    }
    m_wake.notify_all();
}

std::unique_ptr<MqttPublisher> OpenPublisher(std::string_view url, std::string* error,
                                             MqttPublisher::StatusCallback status)
{
    std::optional<MqttUrl> parsed = ParseMqttUrl(url, error);
    if (!parsed)
        return nullptr;
    auto publisher = std::make_unique<MqttPublisher>(std::move(*parsed));
    if (status)
        publisher->SetStatusCallback(std::move(status));
    publisher->Start();
    return publisher;
}

} // namespace lynx::site
