// A hostile host on the LAN: sends COUNT datagrams with the report marker and
// broken bodies (or, with "reports", well-formed reports of made-up devices,
// each different) to IP:PORT as fast as one thread can (sendmmsg, 64 at a
// time), then prints how many went out and at what rate.
//   lynx-bench-flood IP PORT COUNT [reports]
#include "tarn.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: lynx-bench-flood IP PORT COUNT\n");
        return 2;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[2])));
    if (::inet_pton(AF_INET, argv[1], &to.sin_addr) != 1)
        return 2;
    const long count = std::atol(argv[3]);
    const bool reports = argc > 4 && std::string(argv[4]) == "reports";
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);

    // The broken bodies a fuzzer would try: not JSON, wrong types, deep
    // nesting, a report cut short, and a large one.
    const std::vector<std::string> bodies = {
        "not json at all",
        std::string(1000, '['),
        R"({"data":{"deviceIp":[1,2,3],"machineInfo":{"mac":{"a":1}}}})",
        R"({"data":{"deviceIp":"10.99.0.1","machineInfo":{"mac":"EE:00:00:00:00:01")",
        std::string(4000, 'x'),
    };
    PacketHeader header{};
    header.magic = TARN_MAGIC;
    header.command = 0x701;
    header.bodyMarker = '$';
    const std::string headerBytes(reinterpret_cast<const char*>(&header), sizeof header);
    std::vector<std::string> datagrams;
    if (reports) {
        // Made-up devices, 10.200.0.0 upward, one report each.
        datagrams.reserve(static_cast<size_t>(count));
        for (long i = 0; i < count; ++i) {
            char ip[32], mac[32];
            std::snprintf(ip, sizeof ip, "10.%ld.%ld.%ld", 200 + (i >> 16) % 50, (i >> 8) & 255, i & 255);
            std::snprintf(mac, sizeof mac, "FE:%02lX:%02lX:%02lX:00:01", (i >> 16) & 255, (i >> 8) & 255, i & 255);
            datagrams.push_back(headerBytes + R"({"data":{"deviceIp":")" + ip +
                                R"(","netMask":"255.0.0.0","machineInfo":{"mac":")" + mac +
                                R"(","model":"FAKE","softwareVersion":"V0"}}})");
        }
    } else {
        for (const std::string& body : bodies)
            datagrams.push_back(headerBytes + body);
    }

    constexpr int kBatch = 64;
    std::vector<iovec> iov(kBatch);
    std::vector<mmsghdr> messages(kBatch);
    long sent = 0;
    const auto start = std::chrono::steady_clock::now();
    while (sent < count) {
        const int n = static_cast<int>(std::min<long>(kBatch, count - sent));
        for (int i = 0; i < n; ++i) {
            const std::string& d = datagrams[static_cast<size_t>(sent + i) % datagrams.size()];
            iov[static_cast<size_t>(i)] = {const_cast<char*>(d.data()), d.size()};
            messages[static_cast<size_t>(i)] = {};
            messages[static_cast<size_t>(i)].msg_hdr.msg_name = &to;
            messages[static_cast<size_t>(i)].msg_hdr.msg_namelen = sizeof to;
            messages[static_cast<size_t>(i)].msg_hdr.msg_iov = &iov[static_cast<size_t>(i)];
            messages[static_cast<size_t>(i)].msg_hdr.msg_iovlen = 1;
        }
        const int out = ::sendmmsg(fd, messages.data(), static_cast<unsigned>(n), 0);
        if (out <= 0)
            continue;
        sent += out;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("flood: %ld datagrams in %.2f s, %.0f per second\n", sent, seconds, sent / seconds);
    ::close(fd);
    return 0;
}
