// The upgrade-file server against a real HTTP client (libcurl) and raw sockets
// on 127.0.0.1.
#include "NetlabFixture.h"
#include "upgrade/UpgradeFileServer.h"

#include <arpa/inet.h>
#include <curl/curl.h>

#include "upgrade/UrlPath.h"
#include <malloc.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using lynx::upgrade::UpgradeFileServer;

namespace {

const char* const kHeaderPrefix = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: ";

// Test servers start away from 9000, spread by process so that test programs
// running side by side rarely meet (the server moves up past a taken port).
uint16_t TestPortBase()
{
    return static_cast<uint16_t>(31000 + (::getpid() % 200) * 40);
}

std::string RandomBytes(size_t size, unsigned seed)
{
    std::mt19937 engine(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(engine() & 0xFF);
    return bytes;
}

std::string ExpectedResponse(const std::string& content)
{
    return kHeaderPrefix + std::to_string(content.size()) + "\r\n\r\n" + content;
}

using lynx::test::TempDir;
using lynx::test::WaitUntil;

// A connection to the loopback server, from another loopback address when
// from is given (127.0.0.0/8 is this host's throughout).
int Connect(int port, const char* from = nullptr)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (from) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, from, &local.sin_addr);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            ::close(fd);
            return -1;
        }
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void SendText(int fd, const std::string& text)
{
    size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += static_cast<size_t>(n);
    }
}

// Everything the server sends until it closes; closed tells whether it did
// within the time allowed.
std::string ReadToEnd(int fd, bool* closed = nullptr, std::chrono::milliseconds limit = 20s)
{
    std::string data;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    char buffer[65536];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd wait{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&wait, 1, static_cast<int>(left.count())) <= 0) {
            if (closed)
                *closed = false;
            return data;
        }
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            if (closed)
                *closed = true;
            return data;
        }
        data.append(buffer, static_cast<size_t>(n));
    }
}

bool CanConnect(int port)
{
    return lynx::test::CanConnect("127.0.0.1", static_cast<uint16_t>(port));
}

std::string Exchange(int port, const std::string& request, bool* closed = nullptr)
{
    const int fd = Connect(port);
    if (fd < 0)
        return "<no connection>";
    SendText(fd, request);
    std::string answer = ReadToEnd(fd, closed);
    ::close(fd);
    return answer;
}

std::string GetRequest(const std::string& path)
{
    return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: */*\r\n\r\n";
}

struct CurlAnswer {
    CURLcode code = CURLE_OK;
    long status = 0;
    curl_off_t contentLength = -1;
    std::string body;
};

size_t AppendBody(char* data, size_t size, size_t count, void* target)
{
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

CurlAnswer CurlGet(int port, const std::string& path)
{
    static std::once_flag init;
    std::call_once(init, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    CurlAnswer answer;
    CURL* curl = curl_easy_init();
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + path;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer.body);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    answer.code = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer.status);
    curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &answer.contentLength);
    curl_easy_cleanup(curl);
    return answer;
}

// A loopback server on the test ports that records every message it would show;
// the camera it serves is 127.0.0.1.
class ServerFixture : public ::testing::Test {
protected:
    void StartServer(std::chrono::milliseconds ioTimeout = 10s, uint16_t firstPort = 0,
                     const std::function<void(UpgradeFileServer::Options&)>& adjust = {})
    {
        UpgradeFileServer::Options options;
        options.firstPort = firstPort ? firstPort : TestPortBase();
        options.bindAddress = "127.0.0.1";
        options.ioTimeout = ioTimeout;
        options.requestTimeout = ioTimeout;
        if (adjust)
            adjust(options);
        options.notify = [this](const std::string& text, std::stop_token) {
            std::lock_guard lock(m_mutex);
            m_messages.push_back(text);
        };
        m_server = std::make_unique<UpgradeFileServer>(options);
        ASSERT_TRUE(m_server->Start());
        ASSERT_GT(m_server->Port(), 0);
        ASSERT_TRUE(m_server->Admit("127.0.0.1"));
    }
    void Choose(const fs::path& file)
    {
        m_server->SetFile(file.string(), file.filename().string());
    }
    std::vector<std::string> Messages()
    {
        std::lock_guard lock(m_mutex);
        return m_messages;
    }
    int port() const { return m_server->Port(); }

    TempDir m_dir;
    std::unique_ptr<UpgradeFileServer> m_server;
    std::mutex m_mutex;
    std::vector<std::string> m_messages;
};

// ---- Which requests are answered ----

TEST_F(ServerFixture, RequestBeforeAnyBatchIsClosedWithoutAnswer)
{
    StartServer();
    bool closed = false;
    EXPECT_EQ(Exchange(port(), GetRequest("/fw.zip"), &closed), "");
    EXPECT_TRUE(closed);
    EXPECT_EQ(m_server->Served(), 0u);
}

TEST_F(ServerFixture, AnyFileNameIsFetchedThroughItsPercentEncodedUrl)
{
    // As the cameras are told: the name percent-encoded in the URL; curl, as
    // the simulator's cameras use it, sends the path as given.
    StartServer();
    for (const char* name : {"固件 V2#1.zip", "FW 100%.zip", "fw?v=2&x.zip", "cam-2.1_final~.zip"}) {
        Choose(m_dir.Write(name, std::string("firmware of ") + name));
        const CurlAnswer answer = CurlGet(port(), "/" + lynx::upgrade::PercentEncoded(name));
        EXPECT_EQ(answer.code, CURLE_OK) << name;
        EXPECT_EQ(answer.body, std::string("firmware of ") + name);
    }
    EXPECT_EQ(lynx::upgrade::PercentEncoded("cam-2.1_final~.zip"), "cam-2.1_final~.zip");
    // A target that decodes to another name is still refused.
    Choose(m_dir.Write("fw.zip", "firmware"));
    EXPECT_EQ(CurlGet(port(), "/f%77x.zip").code, CURLE_GOT_NOTHING);
    EXPECT_EQ(CurlGet(port(), "/f%77.zip").body, "firmware");
}

TEST_F(ServerFixture, RequestForAnotherPathIsClosedWithoutAnswer)
{
    StartServer();
    Choose(m_dir.Write("fw.zip", "firmware"));
    const CurlAnswer answer = CurlGet(port(), "/other.zip");
    EXPECT_EQ(answer.code, CURLE_GOT_NOTHING);
    EXPECT_EQ(answer.body, "");
}

TEST_F(ServerFixture, NameIsMatchedCaseSensitively)
{
    StartServer();
    Choose(m_dir.Write("FW.zip", "firmware"));
    bool closed = false;
    EXPECT_EQ(Exchange(port(), GetRequest("/fw.zip"), &closed), "");
    EXPECT_TRUE(closed);
}

TEST_F(ServerFixture, NameInAHeaderLineIsServed)
{
    StartServer();
    const std::string content = RandomBytes(5000, 1);
    Choose(m_dir.Write("camera-2.1.zip", content));
    const std::string request = "GET /download HTTP/1.1\r\nHost: x\r\nX-Firmware: camera-2.1.zip\r\n\r\n";
    EXPECT_EQ(Exchange(port(), request), ExpectedResponse(content));
}

TEST_F(ServerFixture, LongRequestIsJudgedOnItsFirst1024Bytes)
{
    StartServer();
    const std::string content = "zip bytes";
    Choose(m_dir.Write("fw.zip", content));
    const std::string padding = "X-Pad: " + std::string(3000, 'a') + "\r\n";

    // Name early, more than a kilobyte after it: served, and the unread rest of
    // the request does not cut the response short.
    EXPECT_EQ(Exchange(port(), "GET /fw.zip HTTP/1.1\r\n" + padding + "\r\n"), ExpectedResponse(content));

    // Name only after the first 1024 bytes: not seen.
    std::string late = "GET / HTTP/1.1\r\nX-Pad: " + std::string(1100, 'b') + "\r\nX-Name: fw.zip\r\n\r\n";
    bool closed = false;
    EXPECT_EQ(Exchange(port(), late, &closed), "");
    EXPECT_TRUE(closed);
}

// ---- What an answer consists of ----

TEST_F(ServerFixture, EmptyFileGivesContentLengthZeroAndNoBody)
{
    StartServer();
    Choose(m_dir.Write("empty.zip", ""));
    bool closed = false;
    EXPECT_EQ(Exchange(port(), GetRequest("/empty.zip"), &closed), std::string(kHeaderPrefix) + "0\r\n\r\n");
    EXPECT_TRUE(closed);
    const CurlAnswer answer = CurlGet(port(), "/empty.zip");
    EXPECT_EQ(answer.code, CURLE_OK);
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.contentLength, 0);
}

TEST_F(ServerFixture, FileOfNBytesArrivesExactlyThenTheConnectionCloses)
{
    StartServer();
    for (size_t size : {1u, 1023u, 65537u, 3u * 1024 * 1024 + 17}) {
        const std::string content = RandomBytes(size, static_cast<unsigned>(size));
        Choose(m_dir.Write("fw.zip", content));
        const CurlAnswer answer = CurlGet(port(), "/fw.zip");
        EXPECT_EQ(answer.code, CURLE_OK) << size;
        EXPECT_EQ(answer.status, 200) << size;
        EXPECT_EQ(answer.contentLength, static_cast<curl_off_t>(size));
        EXPECT_TRUE(answer.body == content) << "body differs for " << size << " bytes";

        bool closed = false;
        EXPECT_TRUE(Exchange(port(), GetRequest("/fw.zip"), &closed) == ExpectedResponse(content)) << size;
        EXPECT_TRUE(closed) << size;
    }
    EXPECT_EQ(m_server->Served(), 8u);
}

TEST_F(ServerFixture, FileIsReadAnewForEveryRequest)
{
    StartServer();
    const fs::path file = m_dir.Write("fw.zip", "first version");
    Choose(file);
    EXPECT_EQ(CurlGet(port(), "/fw.zip").body, "first version");
    m_dir.Write("fw.zip", "the second, longer version");
    EXPECT_EQ(CurlGet(port(), "/fw.zip").body, "the second, longer version");
}

TEST_F(ServerFixture, FileOfMoreThan2GiBHasItsFullLengthAndEveryByte)
{
    StartServer();
    const fs::path file = m_dir.File("big.zip");
    const uint64_t size = (uint64_t{2} << 30) + 10;
    {
        std::ofstream out(file, std::ios::binary);
    }
    fs::resize_file(file, size);  // sparse: costs no disk
    {
        std::fstream tail(file, std::ios::binary | std::ios::in | std::ios::out);
        tail.seekp(static_cast<std::streamoff>(size - 4));
        tail.write("TAIL", 4);
    }
    Choose(file);

    const int fd = Connect(port());
    ASSERT_GE(fd, 0);
    SendText(fd, GetRequest("/big.zip"));
    const std::string header = std::string(kHeaderPrefix) + "2147483658\r\n\r\n";
    std::string head;
    uint64_t received = 0;
    std::string last4;
    char buffer[1 << 16];
    for (;;) {
        pollfd wait{fd, POLLIN, 0};
        ASSERT_GT(::poll(&wait, 1, 20000), 0);
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        size_t offset = 0;
        if (head.size() < header.size()) {
            offset = std::min(header.size() - head.size(), static_cast<size_t>(n));
            head.append(buffer, offset);
        }
        received += static_cast<uint64_t>(n) - offset;
        last4 = (last4 + std::string(buffer + offset, static_cast<size_t>(n) - offset));
        if (last4.size() > 4)
            last4.erase(0, last4.size() - 4);
    }
    ::close(fd);
    EXPECT_EQ(head, header);
    EXPECT_EQ(received, size);
    EXPECT_EQ(last4, "TAIL");
}

// ---- Ports ----

TEST_F(ServerFixture, TakenPortMovesTheServerToTheNextOne)
{
    // Hold a port whose successor is free, and start the server on it.
    int blocker = -1;
    uint16_t taken = 0;
    for (uint16_t candidate = TestPortBase() + 20; candidate < TestPortBase() + 40 && blocker < 0; ++candidate) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(candidate);
        const bool held = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(fd, 1) == 0;
        const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
        address.sin_port = htons(static_cast<uint16_t>(candidate + 1));
        const bool nextFree = ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(probe);
        if (held && nextFree) {
            blocker = fd;
            taken = candidate;
        } else {
            ::close(fd);
        }
    }
    ASSERT_GE(blocker, 0);
    StartServer(10s, taken);
    EXPECT_EQ(port(), taken + 1);
    Choose(m_dir.Write("fw.zip", "abc"));
    EXPECT_EQ(CurlGet(port(), "/fw.zip").body, "abc");
    ::close(blocker);
}

TEST(ServerPorts, PortsAreTriedInOrderAndTheBoundOneIsReported)
{
    std::vector<int> tried;
    UpgradeFileServer::Options options;
    options.bindAddress = "127.0.0.1";
    options.firstPort = 65535;
    options.onPortTried = [&](int port) { tried.push_back(port); };
    UpgradeFileServer server(options);
    const auto result = server.Bind();
    if (result == UpgradeFileServer::BindResult::Bound) {
        EXPECT_EQ(tried, std::vector<int>({65535}));
        EXPECT_EQ(server.Port(), 65535);
    } else {
        // 65535 was taken: the search ends after it, nothing is bound.
        EXPECT_EQ(result, UpgradeFileServer::BindResult::NoPort);
        EXPECT_EQ(tried, std::vector<int>({65535, 65536}));
        EXPECT_EQ(server.Port(), 0);
    }
    server.Stop();
}

// ---- Failures ----

TEST_F(ServerFixture, DeletedFileIsToldOncePerAttemptAndGetsNoAnswer)
{
    StartServer();
    const fs::path file = m_dir.Write("fw.zip", "soon gone");
    Choose(file);
    fs::remove(file);
    for (int attempt = 1; attempt <= 2; ++attempt) {
        bool closed = false;
        EXPECT_EQ(Exchange(port(), GetRequest("/fw.zip"), &closed), "");
        EXPECT_TRUE(closed);
        EXPECT_EQ(Messages(), std::vector<std::string>(attempt, "升级文件打开失败！"));
    }
    // The server carries on: once the file is back, it is served.
    m_dir.Write("fw.zip", "back again");
    EXPECT_EQ(CurlGet(port(), "/fw.zip").body, "back again");
    EXPECT_EQ(Messages().size(), 2u);
}

TEST_F(ServerFixture, DirectoryInPlaceOfTheFileIsAnOpenFailure)
{
    StartServer();
    fs::create_directory(m_dir.File("fw.zip"));
    Choose(m_dir.File("fw.zip"));
    EXPECT_EQ(Exchange(port(), GetRequest("/fw.zip")), "");
    EXPECT_EQ(Messages(), std::vector<std::string>({"升级文件打开失败！"}));
}

// ---- One connection at a time ----

TEST_F(ServerFixture, TwoClientsAtOnceAreBothServed)
{
    StartServer();
    const std::string content = RandomBytes(6 * 1024 * 1024, 7);
    Choose(m_dir.Write("fw.zip", content));
    auto first = std::async(std::launch::async, [&] { return CurlGet(port(), "/fw.zip"); });
    auto second = std::async(std::launch::async, [&] { return CurlGet(port(), "/fw.zip"); });
    const CurlAnswer a = first.get();
    const CurlAnswer b = second.get();
    EXPECT_EQ(a.code, CURLE_OK);
    EXPECT_EQ(b.code, CURLE_OK);
    EXPECT_TRUE(a.body == content);
    EXPECT_TRUE(b.body == content);
    EXPECT_EQ(m_server->Served(), 2u);
}

TEST_F(ServerFixture, SilentClientIsClosedAfterTheTimeOutAndHoldsNobodyMeanwhile)
{
    StartServer(3s);
    Choose(m_dir.Write("fw.zip", "payload"));
    const int silent = Connect(port());
    ASSERT_GE(silent, 0);
    ASSERT_TRUE(WaitUntil([&] { return m_server->Accepted() == 1; }, 5s, 1ms)) << "the silent one is accepted first";

    const CurlAnswer answer = CurlGet(port(), "/fw.zip");
    EXPECT_EQ(answer.code, CURLE_OK);
    EXPECT_EQ(answer.body, "payload");
    char byte;
    EXPECT_EQ(::recv(silent, &byte, 1, MSG_DONTWAIT), -1) << "served while the silent one is still open";

    bool closed = false;
    EXPECT_EQ(ReadToEnd(silent, &closed, 5s), "");
    EXPECT_TRUE(closed);
    ::close(silent);
}

TEST_F(ServerFixture, ClientThatStopsReadingIsDroppedAndTheNextIsServed)
{
    // Long enough that the client being served never stalls this long on a
    // busy machine, short enough to keep the test quick.
    StartServer(1500ms);
    const std::string content = RandomBytes(48 * 1024 * 1024, 9);
    Choose(m_dir.Write("fw.zip", content));
    const int stalled = Connect(port());
    ASSERT_GE(stalled, 0);
    int small = 4096;
    ::setsockopt(stalled, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    SendText(stalled, GetRequest("/fw.zip"));
    ASSERT_TRUE(WaitUntil([&] { return m_server->Accepted() == 1; }, 5s, 1ms)) << "the stalled one is served first";

    const CurlAnswer answer = CurlGet(port(), "/fw.zip");
    EXPECT_EQ(answer.code, CURLE_OK);
    EXPECT_TRUE(answer.body == content);
    EXPECT_EQ(m_server->Served(), 1u);
    ::close(stalled);
}

TEST_F(ServerFixture, ClientThatHangsUpMidDownloadDoesNotEndTheServer)
{
    StartServer();
    const std::string content = RandomBytes(32 * 1024 * 1024, 11);
    Choose(m_dir.Write("fw.zip", content));
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int quitter = Connect(port());
        ASSERT_GE(quitter, 0);
        SendText(quitter, GetRequest("/fw.zip"));
        char some[1000];
        ASSERT_GT(::recv(quitter, some, sizeof some, 0), 0);
        ::close(quitter);
    }
    const CurlAnswer answer = CurlGet(port(), "/fw.zip");
    EXPECT_EQ(answer.code, CURLE_OK);
    EXPECT_TRUE(answer.body == content);
}

TEST_F(ServerFixture, AbuseLeavesTheServerServingAndItsResourcesAsTheyWere)
{
    // An admitted address that misbehaves in every way at once (with room
    // for all its connections), beside the camera at 127.0.0.1.
    constexpr const char* kAbuser = "127.0.0.2";
    StartServer(1s, 0, [](UpgradeFileServer::Options& options) { options.maxPerAddress = 1000; });
    ASSERT_TRUE(m_server->Admit(kAbuser));
    // More than the kernel holds for a connection: a client that never reads
    // leaves the server with bytes it cannot send.
    const std::string content = RandomBytes(16 * 1024 * 1024, 13);
    Choose(m_dir.Write("fw.zip", content));
    // What the process holds before, once the server runs.
    const auto descriptors = [] {
        return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator{});
    };
    const auto descriptorsBefore = descriptors();
    const size_t heapBefore = mallinfo2().uordblks;

    std::vector<int> abusive;
    for (int i = 0; i < 200; ++i)  // connects that send nothing
        abusive.push_back(Connect(port(), kAbuser));
    const int junk = Connect(port(), kAbuser);  // binary junk
    SendText(junk, RandomBytes(4096, 17));
    abusive.push_back(junk);
    const int huge = Connect(port(), kAbuser);  // a 10 MiB request, sent while the server reads
    std::thread hugeSender([huge] { SendText(huge, GetRequest("/fw.zip") + std::string(10 * 1024 * 1024, 'h')); });
    abusive.push_back(huge);
    const int neverReads = Connect(port(), kAbuser);  // asks for the file and never reads it
    int small = 4096;
    ::setsockopt(neverReads, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    SendText(neverReads, GetRequest("/fw.zip"));
    const int slow = Connect(port(), kAbuser);  // one byte a second
    std::thread slowSender([slow] {
        for (char c : std::string("GET /fw.zip")) {
            if (::send(slow, &c, 1, MSG_NOSIGNAL) != 1)
                return;
            std::this_thread::sleep_for(1s);
        }
    });
    abusive.push_back(slow);

    {  // A camera meanwhile gets the exact file.
        const CurlAnswer good = CurlGet(port(), "/fw.zip");
        EXPECT_EQ(good.code, CURLE_OK);
        EXPECT_TRUE(good.body == content);
    }

    // Every abusive connection is dropped within the time-out (1 s, and the
    // second it may linger reading what is left), counted from now.
    for (size_t i = 0; i < abusive.size(); ++i) {
        ASSERT_GE(abusive[i], 0);
        bool closed = false;
        ReadToEnd(abusive[i], &closed, 4s);
        EXPECT_TRUE(closed) << "connection " << i << " of " << abusive.size();
    }
    slowSender.join();
    hugeSender.join();
    for (int fd : abusive)
        ::close(fd);
    ::close(neverReads);
    // Every connection is over and its descriptor given back: the one that
    // never read too, which the server dropped when it could send no more.
    EXPECT_TRUE(WaitUntil([&] { return descriptors() <= descriptorsBefore; }, 5s)) << descriptors() << " vs "
                                                                                   << descriptorsBefore;
    EXPECT_EQ(m_server->Accepted(), 205u);
    // And still a camera gets the exact file.
    EXPECT_TRUE(CurlGet(port(), "/fw.zip").body == content);
    // The memory the connections took is given back too (a little slack for
    // the allocator's own books).
    EXPECT_LT(mallinfo2().uordblks, heapBefore + 1024 * 1024);
}

TEST_F(ServerFixture, StrangersAreClosedUnreadAndHoldNoCameraBack)
{
    // More connections than the server would hold waiting and its backlog
    // together, from an address that was never asked to download.
    StartServer();
    Choose(m_dir.Write("fw.zip", "payload"));
    constexpr int kStrangers = 1300;
    std::vector<int> strangers;
    for (int i = 0; i < kStrangers; ++i) {
        const int fd = Connect(port(), "127.0.0.3");
        ASSERT_GE(fd, 0) << i;
        if (i % 2 == 0)
            SendText(fd, GetRequest("/fw.zip"));  // asking changes nothing
        strangers.push_back(fd);
    }
    const CurlAnswer answer = CurlGet(port(), "/fw.zip");
    EXPECT_EQ(answer.code, CURLE_OK);
    EXPECT_EQ(answer.body, "payload");
    for (int fd : strangers) {
        bool closed = false;
        EXPECT_EQ(ReadToEnd(fd, &closed, 2s), "");
        EXPECT_TRUE(closed);
        ::close(fd);
    }
    EXPECT_EQ(m_server->Turned(), static_cast<uint64_t>(kStrangers));
    EXPECT_EQ(m_server->Served(), 1u);
    EXPECT_TRUE(WaitUntil([&] { return m_server->Open() == 0; }, 5s, 1ms));
}

TEST_F(ServerFixture, AnAddressHoldsItsShareAndABatchForgetsTheLastOnesCameras)
{
    StartServer();
    Choose(m_dir.Write("fw.zip", "payload"));
    ASSERT_TRUE(m_server->Admit("127.0.0.2"));
    EXPECT_FALSE(m_server->Admit("camera-7"));
    std::vector<int> share;
    for (int i = 0; i < 4; ++i)
        share.push_back(Connect(port(), "127.0.0.2"));
    ASSERT_TRUE(WaitUntil([&] { return m_server->Open() == 4; }, 5s, 1ms));
    // One more from the same address is closed at once; the camera next door
    // is not held back.
    const int fifth = Connect(port(), "127.0.0.2");
    bool closed = false;
    ReadToEnd(fifth, &closed, 2s);
    EXPECT_TRUE(closed);
    ::close(fifth);
    EXPECT_EQ(CurlGet(port(), "/fw.zip").body, "payload");

    // The next batch: the last one's cameras are turned away, the connections
    // they hold are left alone.
    m_server->ForgetAdmitted();
    const CurlAnswer forgotten = CurlGet(port(), "/fw.zip");
    EXPECT_NE(forgotten.code, CURLE_OK);  // closed before or after the request went
    EXPECT_EQ(forgotten.body, "");
    // The camera served above is let go once its connection has closed.
    EXPECT_TRUE(WaitUntil([&] { return m_server->Open() == 4; }, 5s, 1ms)) << m_server->Open();
    for (int fd : share) {
        SendText(fd, GetRequest("/fw.zip"));
        EXPECT_EQ(ReadToEnd(fd), ExpectedResponse("payload"));
        ::close(fd);
    }
    EXPECT_TRUE(WaitUntil([&] { return m_server->Open() == 0; }, 5s, 1ms));
    EXPECT_EQ(m_server->Turned(), 2u);
}

// ---- What each camera has downloaded ----

// A request from the address, read in full or in part (at most `take` bytes
// of the answer), then closed.
std::string Take(int port, const char* from, size_t take = SIZE_MAX)
{
    const int fd = Connect(port, from);
    if (fd < 0)
        return "<no connection>";
    SendText(fd, GetRequest("/fw.zip"));
    std::string data;
    char buffer[4096];
    while (data.size() < take) {
        const ssize_t n = ::recv(fd, buffer, std::min(sizeof buffer, take - data.size()), 0);
        if (n <= 0)
            break;
        data.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return data;
}

TEST_F(ServerFixture, EachAddressHasDownloadedTheCurrentFileOnlyWhenItTookItWhole)
{
    StartServer();
    const std::string content = RandomBytes(32 * 1024 * 1024, 13);
    Choose(m_dir.Write("fw.zip", content));
    for (const char* camera : {"127.0.0.2", "127.0.0.3"})
        ASSERT_TRUE(m_server->Admit(camera));
    EXPECT_TRUE(CurlGet(port(), "/fw.zip").body == content);
    Take(port(), "127.0.0.2", 1000);  // hangs up after the first bytes
    ASSERT_TRUE(WaitUntil([&] { return m_server->Open() == 0; }, 10s, 1ms));

    struct Expected {
        const char* ip;
        bool complete;
        bool counted;  // the server sent it any of the file
    };
    for (const Expected& e : {Expected{"127.0.0.1", true, true}, Expected{"127.0.0.2", false, true},
                              Expected{"127.0.0.3", false, false}, Expected{"127.0.0.9", false, false}}) {
        const lynx::upgrade::Download download = m_server->DownloadOf(e.ip);
        EXPECT_EQ(download.complete, e.complete) << e.ip;
        EXPECT_EQ(download.size, e.counted ? content.size() : 0u) << e.ip;
        EXPECT_EQ(m_server->Downloads().count(e.ip), e.counted ? 1u : 0u) << e.ip;
        if (e.complete)
            EXPECT_EQ(download.sent, content.size()) << e.ip;
        else
            EXPECT_LT(download.sent, content.size()) << e.ip;
    }

    // A new file, or a new batch, starts from nothing.
    Choose(m_dir.Write("fw.zip", "payload"));
    EXPECT_TRUE(m_server->Downloads().empty());
    EXPECT_EQ(CurlGet(port(), "/fw.zip").body, "payload");
    EXPECT_TRUE(WaitUntil([&] { return m_server->DownloadOf("127.0.0.1").complete; }, 5s, 1ms));
    m_server->ForgetAdmitted();
    EXPECT_FALSE(m_server->DownloadOf("127.0.0.1").complete);
}

TEST_F(ServerFixture, ACameraCutOffLosesItsConnectionAndKeepsWhatItWasServedCounted)
{
    // Ten minutes of I/O time-out: only the cut can end this transfer soon.
    StartServer(600s);
    const std::string content = RandomBytes(32 * 1024 * 1024, 19);
    Choose(m_dir.Write("fw.zip", content));
    const int hung = Connect(port());
    ASSERT_GE(hung, 0);
    int small = 4096;
    ::setsockopt(hung, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    SendText(hung, GetRequest("/fw.zip"));
    char some[1000];
    ASSERT_GT(::recv(hung, some, sizeof some, 0), 0);
    ASSERT_TRUE(WaitUntil([&] { return m_server->DownloadOf("127.0.0.1").served > 0; }, 5s, 1ms));
    const auto began = m_server->DownloadOf("127.0.0.1").began;

    EXPECT_FALSE(m_server->Cut("127.0.0.2")) << "nothing in progress there";
    EXPECT_FALSE(m_server->Cut("no address"));
    EXPECT_TRUE(m_server->Cut("127.0.0.1"));
    bool closed = false;
    ReadToEnd(hung, &closed, 10s);
    EXPECT_TRUE(closed);
    ::close(hung);
    ASSERT_TRUE(WaitUntil([&] { return m_server->Open() == 0; }, 10s, 1ms));
    const lynx::upgrade::Download cut = m_server->DownloadOf("127.0.0.1");
    EXPECT_FALSE(cut.complete);
    EXPECT_GT(cut.served, 0u);
    EXPECT_LT(cut.served, content.size());
    // What it took is what its TCP acknowledged: no more than was written,
    // and less than that while the socket's buffers held the rest.
    EXPECT_LE(cut.taken, cut.sent);
    EXPECT_LT(cut.taken, content.size());
    EXPECT_FALSE(m_server->Cut("127.0.0.1"));

    // The camera asks again and takes the whole file: what it was served adds
    // up over both transfers, its time from the first one's start.
    EXPECT_TRUE(CurlGet(port(), "/fw.zip").body == content);
    ASSERT_TRUE(WaitUntil([&] { return m_server->DownloadOf("127.0.0.1").complete; }, 10s, 1ms));
    const lynx::upgrade::Download whole = m_server->DownloadOf("127.0.0.1");
    EXPECT_EQ(whole.sent, content.size());
    EXPECT_EQ(whole.taken, content.size());
    EXPECT_EQ(whole.served, cut.served + content.size());
    EXPECT_EQ(whole.began, began);
    EXPECT_GT(whole.finished, whole.began);
}

TEST_F(ServerFixture, AFileWrittenToTheSocketIsNotDownloadedUntilTheCameraHasTakenIt)
{
    // The answer fits the server's send buffer, not the camera's receive
    // window: every byte is written long before the camera reads one.
    StartServer();
    const std::string content = RandomBytes(8 * 1024, 17);
    Choose(m_dir.Write("fw.zip", content));
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int small = 2048;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    SendText(fd, GetRequest("/fw.zip"));
    ASSERT_TRUE(WaitUntil([&] { return m_server->DownloadOf("127.0.0.1").sent == content.size(); }, 5s, 1ms));
    // Proving that something does not happen: a while with the file written
    // and not taken.
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(m_server->DownloadOf("127.0.0.1").complete);
    EXPECT_EQ(ReadToEnd(fd), ExpectedResponse(content));
    ::close(fd);
    EXPECT_TRUE(WaitUntil([&] { return m_server->DownloadOf("127.0.0.1").complete; }, 5s, 1ms));
}

TEST_F(ServerFixture, ADownloadBegunForTheLastBatchCountsForNoCameraOfTheNext)
{
    StartServer();
    const std::string content = RandomBytes(32 * 1024 * 1024, 19);
    Choose(m_dir.Write("fw.zip", content));
    const int fd = Connect(port());
    ASSERT_GE(fd, 0);
    SendText(fd, GetRequest("/fw.zip"));
    char first[1000];
    const ssize_t firstBytes = ::recv(fd, first, sizeof first, 0);
    ASSERT_GT(firstBytes, 0);
    // The next batch, of the same file and the same camera, while the last
    // one's transfer is still going out.
    m_server->ForgetAdmitted();
    Choose(m_dir.path() + "/fw.zip");
    ASSERT_TRUE(m_server->Admit("127.0.0.1"));
    // It goes out whole all the same.
    EXPECT_EQ(static_cast<size_t>(firstBytes) + ReadToEnd(fd).size(), ExpectedResponse(content).size());
    ::close(fd);
    ASSERT_TRUE(WaitUntil([&] { return m_server->Open() == 0; }, 10s, 1ms));
    EXPECT_FALSE(m_server->DownloadOf("127.0.0.1").complete);
    EXPECT_EQ(m_server->DownloadOf("127.0.0.1").sent, 0u);
}

TEST_F(ServerFixture, StopEndsTheServerEvenWithAClientConnected)
{
    StartServer();
    const int served = port();
    const int silent = Connect(served);
    ASSERT_GE(silent, 0);
    ASSERT_TRUE(WaitUntil([&] { return m_server->Accepted() == 1; }, 5s, 1ms));
    const auto before = std::chrono::steady_clock::now();
    m_server->Stop();
    // Stop does not sit out the ten-second receive time-out.
    EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
    EXPECT_EQ(m_server->Port(), 0);
    ::close(silent);
    EXPECT_FALSE(CanConnect(served));
}

TEST(ServerFile, ReaderNeverSeesHalfOfTwoPairs)
{
    UpgradeFileServer server;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i)
            server.SetFile(i % 2 ? "/a/one.zip" : "/b/two-longer-name.zip", i % 2 ? "one.zip" : "two-longer-name.zip");
        done = true;
    });
    int mismatches = 0;
    while (!done) {
        const auto file = server.File();
        if (!file.path.empty() && file.path.substr(3) != file.fileName)
            ++mismatches;
    }
    writer.join();
    EXPECT_EQ(mismatches, 0);
}

// ---- The process-wide server of the tool ----

TEST(ProcessServer, ServesTheChosenFileOnThePortItReports)
{
    TempDir dir;
    const std::string file = dir.Write("tool.zip", "tool firmware");
    // Started means listening: the port is bound before the answer.
    ASSERT_TRUE(StartUpgradeFileServer({}));
    EXPECT_TRUE(CanConnect(g_nHttpPort));
    EXPECT_TRUE(StartUpgradeFileServer({}));  // still the one server
    EXPECT_GE(g_nHttpPort.load(), 9000);
    EXPECT_NE(CurlGet(g_nHttpPort, "/tool.zip").code, CURLE_OK);  // no batch yet
    SetUpgradeFile(file, "tool.zip");
    EXPECT_NE(CurlGet(g_nHttpPort, "/tool.zip").code, CURLE_OK);  // nor a camera asked
    ASSERT_TRUE(AdmitUpgradeCamera("127.0.0.1"));
    EXPECT_EQ(GetUpgradeFile().fileName, "tool.zip");
    EXPECT_EQ(CurlGet(g_nHttpPort, "/tool.zip").body, "tool firmware");
    ForgetUpgradeCameras();
    EXPECT_NE(CurlGet(g_nHttpPort, "/tool.zip").code, CURLE_OK);
    StopUpgradeFileServer();
    EXPECT_FALSE(CanConnect(g_nHttpPort));
}

} // namespace
