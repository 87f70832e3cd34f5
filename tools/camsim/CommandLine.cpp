#include "CommandLine.h"

#include "Presence.h"

#include <charconv>
#include <stdexcept>

namespace camsim {

namespace {

long long Number(const std::string& option, const std::string& text, long long low, long long high)
{
    long long value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high)
        throw std::invalid_argument(option + " takes a number from " + std::to_string(low) + " to " +
                                    std::to_string(high) + ", not '" + text + "'");
    return value;
}

} // namespace

const char* UsageText()
{
    return R"(usage: lynx-camsim (--count N [--first-ip IP] | --config FILE.json) [options]

Plays cameras for Lynx: answers searches (UDP 19027), follows address changes
by MAC, and takes firmware upgrades (UDP 8025, TCP 8021, HTTP download).

Cameras:
  --count N            N cameras from --first-ip upward (default 192.168.1.101)
  --first-number K     number them from K (default 1): their MACs, identifiers
                       and names, so that two simulators never share one
  --config FILE        a JSON array of cameras (ip, mask, gateway, mac, model,
                       name, softwareVersion, hardwareVersion, productDate,
                       deviceId, sn, type, and any behaviour below per camera;
                       upgradeIp there: the address a camera restarts at
                       after a successful upgrade, reporting from it)
  --write-config FILE  write the cameras played, in the --config form
Search answers:
  --answer-twice       every camera answers each search twice
  --delay-ms D         answer after D ms ...
  --jitter-ms J        ... plus a random 0..J ms
  --burst              all answers at once, back to back (delays ignored)
  --answer-broadcast   answers go to 255.255.255.255, as a camera's do that
                       has no route to the searcher's subnet
  --malformed          broken reports go out before each good one, and the
                       same broken bodies as notifications to UDP 8025
  --oversized          reports whose texts exceed the tool's fields
Address change:
  --restart-ms MS      silence after an address change (default 2000)
  --add-addresses      put the cameras' addresses on the interface, and move
                       them on an address change (needs root)
  --interface IF       the interface for them (default: first one up)
Firmware upgrade:
  --install-ms MS      from a checked download to the notification (default 1000)
  --refuse-upgrade     refuse update requests
  --fail-install       report status 1 after a good download
  --fail-installs N    the first N upgrades report status 1, later ones succeed
  --silent-upgrade     send no status notification
  --report-twice       send the notification twice
  --report-status N    report status N whatever happened
  --new-version V      software version after a successful upgrade
  --download-timeout S give up a download after S seconds (default 300)
  --download-rate B    download no faster than B bytes a second (a camera
                       writing flash: its receive buffer small, too)
  --stall-download B   stop reading a download after B bytes, until the
                       download time-out gives it up (a camera that hangs)
Leaving and returning (each leave and return is logged on stderr, whatever
--verbose, as "left MAC t=SECONDS ip=IP by=WHY" and "returned MAC t=...",
t the wall-clock time in seconds; a camera away answers nothing at all, not
even on TCP 8021, and comes back with its MAC and address as they were):
  --leave SPEC         WHO@AT[+FOR][,...]: camera WHO (its number in the list,
                       1 for the first, or its MAC) leaves AT ms after the
                       start and returns FOR ms later (without +FOR it stays
                       away until SIGUSR2); repeatable
  --churn SPEC         PERCENT:MINMS:MAXMS[:SEED]: that share of the cameras
                       (rounded up, picked at random) come and go while the
                       simulator runs, each present and each away for a random
                       MINMS..MAXMS; the seed (logged when not given) repeats
                       the same cameras and times
  SIGUSR1              the first camera in the list that is present leaves
  SIGUSR2              the camera away the longest returns
                       (one camera a signal; signals sent faster than the
                       simulator takes them may merge: wait for its log line)
Ports (tests on loopback; 0 picks a free one):
  --report-port P  --update-port P  --probe-port P  --notify-port P
Running:
  --ready-file PATH    written once every socket listens
  --timing             print when the last report of each search was sent
  --verbose            one line per event on stderr
  --help
)";
}

CommandLine ParseCommandLine(const std::vector<std::string>& args)
{
    CommandLine line;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size())
                throw std::invalid_argument(a + " needs a value");
            return args[++i];
        };
        auto millis = [&] { return static_cast<int>(Number(a, value(), 0, 3600 * 1000)); };
        auto port = [&] { return static_cast<uint16_t>(Number(a, value(), 0, 65535)); };
        CameraBehaviour& b = line.behaviour;
        if (a == "--help" || a == "-h")
            line.help = true;
        else if (a == "--count")
            line.count = static_cast<int>(Number(a, value(), 0, 60000));
        else if (a == "--first-number")
            line.firstNumber = static_cast<int>(Number(a, value(), 1, 1000000));
        else if (a == "--first-ip") {
            line.firstIp = value();
            if (!ParseIpv4(line.firstIp))
                throw std::invalid_argument("--first-ip takes an IPv4 address, not '" + line.firstIp + "'");
        } else if (a == "--config")
            line.configFile = value();
        else if (a == "--write-config")
            line.writeConfig = value();
        else if (a == "--answer-twice")
            b.answerTwice = true;
        else if (a == "--delay-ms")
            b.delayMs = millis();
        else if (a == "--jitter-ms")
            b.jitterMs = millis();
        else if (a == "--burst")
            line.sim.burst = true;
        else if (a == "--answer-broadcast")
            line.sim.answerBroadcast = true;
        else if (a == "--malformed")
            b.malformed = true;
        else if (a == "--oversized")
            b.oversized = true;
        else if (a == "--restart-ms")
            b.restartMs = millis();
        else if (a == "--add-addresses")
            line.sim.addAddresses = true;
        else if (a == "--interface")
            line.sim.interface = value();
        else if (a == "--install-ms")
            b.installMs = millis();
        else if (a == "--refuse-upgrade")
            b.refuseUpgrade = true;
        else if (a == "--fail-install")
            b.failInstall = true;
        else if (a == "--fail-installs")
            b.failInstalls = static_cast<int>(Number(a, value(), 0, 1000000));
        else if (a == "--silent-upgrade")
            b.silentUpgrade = true;
        else if (a == "--report-twice")
            b.reportTwice = true;
        else if (a == "--report-status")
            b.reportStatus = static_cast<int>(Number(a, value(), -2147483648LL, 2147483647LL));
        else if (a == "--new-version")
            b.newVersion = value();
        else if (a == "--stall-download")
            b.stallAfterBytes = Number(a, value(), 0, 1LL << 40);
        else if (a == "--download-timeout")
            line.sim.downloadTimeoutSeconds = static_cast<int>(Number(a, value(), 1, 86400));
        else if (a == "--download-rate")
            line.sim.downloadBytesPerSecond = Number(a, value(), 0, 1LL << 40);
        else if (a == "--report-port")
            line.sim.reportPort = port();
        else if (a == "--update-port")
            line.sim.updatePort = port();
        else if (a == "--probe-port")
            line.sim.probePort = port();
        else if (a == "--notify-port")
            line.sim.notifyPort = port();
        else if (a == "--leave") {
            auto specs = ParseLeaveSpecs(value());
            line.sim.leaves.insert(line.sim.leaves.end(), specs.begin(), specs.end());
        } else if (a == "--churn")
            line.sim.churn = ParseChurnSpec(value());
        else if (a == "--ready-file")
            line.readyFile = value();
        else if (a == "--timing")
            line.sim.timing = true;
        else if (a == "--verbose" || a == "-v")
            line.verbose = true;
        else
            throw std::invalid_argument("unknown option '" + a + "'");
    }
    if (!line.help && line.count < 0 && line.configFile.empty())
        throw std::invalid_argument("say which cameras to play: --count N or --config FILE");
    return line;
}

std::vector<CameraConfig> CamerasFor(const CommandLine& line)
{
    std::vector<CameraConfig> cameras;
    if (!line.configFile.empty())
        cameras = LoadCameraFile(line.configFile, line.behaviour);
    if (line.count > 0) {
        auto generated = GenerateCameras(line.count, line.firstIp, line.behaviour, line.firstNumber);
        cameras.insert(cameras.end(), generated.begin(), generated.end());
    }
    for (const LeaveSpec& leave : line.sim.leaves)
        if (!FindCamera(leave.who, cameras))
            throw std::invalid_argument("--leave: no camera '" + leave.who + "' among the " +
                                        std::to_string(cameras.size()) + " played");
    return cameras;
}

} // namespace camsim
