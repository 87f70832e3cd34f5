// Serves one file with the tool's upgrade-file server until it is sent SIGTERM
// or SIGINT, then prints its peak resident memory (VmHWM). Used by
// upgrade_server.sh, which times downloads against it and against nginx, and by
// downloads.sh, which sets the connections served at once and the backlog.
// The server serves only the addresses a batch admitted, as it does for the
// cameras it tells to download: each --admit names one, and --per-address
// lets a benchmark's clients that share one address all be served.
#include "upgrade/UpgradeFileServer.h"

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr const char* kUsage =
    "usage: upgrade_server_serve FILE FIRST_PORT [BIND_ADDRESS MAX_CONNECTIONS BACKLOG]\n"
    "                            --admit IP [--admit IP ...] [--per-address N]\n";

struct Arguments {
    std::vector<std::string> positional;
    std::vector<std::string> admitted;
    int perAddress = 0;  // 0: the server's own limit
};

bool Read(int argc, char** argv, Arguments& args)
{
    for (int i = 1; i < argc; ++i) {
        const bool valued = i + 1 < argc;
        if (std::strcmp(argv[i], "--admit") == 0 && valued)
            args.admitted.push_back(argv[++i]);
        else if (std::strcmp(argv[i], "--per-address") == 0 && valued)
            args.perAddress = std::atoi(argv[++i]);
        else if (argv[i][0] == '-')
            return false;
        else
            args.positional.push_back(argv[i]);
    }
    const size_t n = args.positional.size();
    return (n == 2 || n == 5) && !args.admitted.empty();
}

} // namespace

int main(int argc, char** argv)
{
    Arguments args;
    if (!Read(argc, argv, args)) {
        std::cerr << kUsage;
        return 2;
    }
    const std::string& path = args.positional[0];
    lynx::upgrade::UpgradeFileServer::Options options;
    options.bindAddress = args.positional.size() == 5 ? args.positional[2] : "127.0.0.1";
    options.firstPort = static_cast<uint16_t>(std::atoi(args.positional[1].c_str()));
    if (args.positional.size() == 5) {
        options.maxConnections = std::atoi(args.positional[3].c_str());
        options.backlog = std::atoi(args.positional[4].c_str());
    }
    if (args.perAddress > 0)
        options.maxPerAddress = args.perAddress;
    lynx::upgrade::UpgradeFileServer server(options);

    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);  // the serving thread inherits the mask

    if (!server.Start()) {
        std::cerr << "no port\n";
        return 1;
    }
    server.SetFile(path, path.substr(path.rfind('/') + 1));
    for (const std::string& ip : args.admitted) {
        if (!server.Admit(ip)) {
            std::cerr << "upgrade_server_serve: --admit takes an IPv4 address, not '" << ip << "'\n";
            return 2;
        }
    }
    std::cout << server.Port() << std::endl;
    int signal = 0;
    sigwait(&stop, &signal);
    server.Stop();

    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            std::cout << line << std::endl;
    return 0;
}
