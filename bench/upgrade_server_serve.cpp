// Serves one file with the tool's upgrade-file server until it is sent SIGTERM
// or SIGINT, then prints its peak resident memory (VmHWM). Used by
// upgrade_server.sh, which times downloads against it and against nginx, and by
// downloads.sh, which sets the connections served at once and the backlog.
#include "upgrade/UpgradeFileServer.h"

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 3 && argc != 6) {
        std::cerr << "usage: upgrade_server_serve FILE FIRST_PORT [BIND_ADDRESS MAX_CONNECTIONS BACKLOG]\n";
        return 2;
    }
    const std::string path = argv[1];
    lynx::upgrade::UpgradeFileServer::Options options;
    options.bindAddress = argc == 6 ? argv[3] : "127.0.0.1";
    options.firstPort = static_cast<uint16_t>(std::atoi(argv[2]));
    if (argc == 6) {
        options.maxConnections = std::atoi(argv[4]);
        options.backlog = std::atoi(argv[5]);
    }
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
