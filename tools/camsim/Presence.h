// Cameras that leave the network and come back: absences planned on the
// command line (--leave), random ones for a share of the cameras (--churn),
// and how both are written.
#pragma once

#include "CameraConfig.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace camsim {

// One planned absence: WHO@AT[+FOR], WHO a camera's position in the list
// played (1 for the first) or its MAC, AT the milliseconds from the start,
// FOR how long it stays away (without it, until a signal brings it back).
struct LeaveSpec {
    std::string who;
    int atMs = 0;
    std::optional<int> forMs;
};

// PERCENT:MINMS:MAXMS[:SEED]: that share of the cameras (rounded up) come and
// go for as long as the simulator runs, each staying and each staying away
// for a random time from MINMS to MAXMS; the same seed picks the same
// cameras and times.
struct ChurnSpec {
    double percent = 0;
    int minMs = 0;
    int maxMs = 0;
    std::optional<uint32_t> seed;
};

// Throw std::invalid_argument with a message meant for the user.
// Several absences are separated by commas.
std::vector<LeaveSpec> ParseLeaveSpecs(const std::string& text);
ChurnSpec ParseChurnSpec(const std::string& text);

// The camera WHO names among those played (position or MAC, whatever the
// MAC's letter case and separators); nullopt when it names none.
std::optional<size_t> FindCamera(const std::string& who, const std::vector<CameraConfig>& cameras);

// How many cameras of count a churn of percent moves.
size_t ChurnCount(size_t count, double percent);

} // namespace camsim
