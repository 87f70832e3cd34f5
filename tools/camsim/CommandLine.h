// lynx-camsim's command line.
#pragma once

#include "CameraConfig.h"
#include "Simulator.h"

#include <string>
#include <vector>

namespace camsim {

struct CommandLine {
    SimOptions sim;
    CameraBehaviour behaviour;  // for every camera, unless its config entry says otherwise
    int count = -1;             // -1: not given
    std::string firstIp = "192.168.1.101";
    int firstNumber = 1;  // the first generated camera's number (its MAC, identifier, name)
    std::string configFile;
    std::string readyFile;
    std::string writeConfig;
    bool verbose = false;
    bool help = false;
};

// Throws std::invalid_argument with a message meant for the user.
CommandLine ParseCommandLine(const std::vector<std::string>& args);
// The cameras the command line asks for (config file and/or --count); throws
// std::invalid_argument when a --leave names none of them.
std::vector<CameraConfig> CamerasFor(const CommandLine& line);
const char* UsageText();

} // namespace camsim
