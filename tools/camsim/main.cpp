// lynx-camsim: plays any number of cameras on this host's network namespace.
#include "CommandLine.h"
#include "Simulator.h"

#include <curl/curl.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// Thousands of cameras each hold a listening socket.
void RaiseFileLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// Written to a neighbour first and renamed, so a reader never sees half a file.
bool WriteFileAtomically(const std::string& path, const std::string& text)
{
    std::string temporary = path + ".tmp" + std::to_string(::getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out || !(out << text) || !out.flush())
            return false;
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    camsim::CommandLine line;
    std::vector<camsim::CameraConfig> cameras;
    try {
        line = camsim::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
        if (line.help) {
            std::cout << camsim::UsageText();
            return 0;
        }
        cameras = camsim::CamerasFor(line);
    } catch (const std::exception& e) {
        std::cerr << "lynx-camsim: " << e.what() << "\n(lynx-camsim --help lists the options)\n";
        return 2;
    }

    // Signals are taken by sigwait below only: every thread started later
    // inherits this mask. SIGUSR1 and SIGUSR2 take a camera away and bring
    // one back; the others stop the simulator.
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGTERM, SIGINT, SIGHUP, SIGUSR1, SIGUSR2})
        sigaddset(&signals, s);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    RaiseFileLimit();
    curl_global_init(CURL_GLOBAL_DEFAULT);

    camsim::Log log(line.verbose);
    int status = 0;
    {
        camsim::Simulator simulator(line.sim, std::move(cameras), log);
        std::string error;
        if (!simulator.Start(&error)) {
            log.Always("cannot start: " + error);
            status = 1;
        } else {
            if (!line.writeConfig.empty() &&
                !WriteFileAtomically(line.writeConfig, camsim::WriteJson(camsim::CamerasToJson(simulator.Cameras()), true)))
                log.Always("cannot write " + line.writeConfig);
            if (!line.readyFile.empty() &&
                !WriteFileAtomically(line.readyFile, "pid " + std::to_string(::getpid()) + "\nreport " +
                                                         std::to_string(simulator.ReportPort()) + "\nupdate " +
                                                         std::to_string(simulator.UpdatePort()) + "\n"))
                log.Always("cannot write " + line.readyFile);
            int signal = 0;
            while (sigwait(&signals, &signal) == 0 && (signal == SIGUSR1 || signal == SIGUSR2)) {
                const bool leave = signal == SIGUSR1;
                auto moved = leave ? simulator.LeaveNext("signal") : simulator.ReturnLongestAway("signal");
                if (!moved)
                    log.Always(leave ? "SIGUSR1: every camera is away already" : "SIGUSR2: no camera is away");
            }
            log.Event("stopping on signal " + std::to_string(signal));
        }
        simulator.Stop();
    }
    tarn_ext_Shutdown();
    curl_global_cleanup();
    if (!line.readyFile.empty())
        ::unlink(line.readyFile.c_str());
    return status;
}
