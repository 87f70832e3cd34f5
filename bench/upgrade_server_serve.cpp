// Serves one file with the tool's upgrade-file server on 127.0.0.1 until it is
// sent SIGTERM or SIGINT, then prints its peak resident memory (VmHWM). Used by
// upgrade_server.sh, which times downloads against it and against nginx.
#include "upgrade/UpgradeFileServer.h"

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: upgrade_server_serve FILE FIRST_PORT\n";
        return 2;
    }
    const std::string path = argv[1];
    lynx::upgrade::UpgradeFileServer::Options options;
    options.bindAddress = "127.0.0.1";
    options.firstPort = static_cast<uint16_t>(std::atoi(argv[2]));
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
