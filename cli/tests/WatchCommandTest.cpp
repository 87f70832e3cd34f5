// lynx-cli watch's options and its printing of events: a table a person reads
// in columns, JSON Lines a program reads, each line out as it happens.
#include "cli/DeviceOutput.h"
#include "cli/WatchCommand.h"
#include "platform/Translation.h"
#include "RawControls.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>

namespace {

using namespace lynx::cli;
using lynx::site::WatchEvent;
using lynx::site::WatchEventKind;

struct OptionCase {
    std::vector<std::string> args;
    const char* error;  // the start of the fault, nullptr when it reads
};

TEST(WatchOptions, DefaultsAreASearchEveryTenSecondsThreeMissedAndNoEnd)
{
    std::string error;
    const auto o = ParseWatchOptions({}, &error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->intervalSeconds, 10);
    EXPECT_EQ(o->missedRounds, 3);
    EXPECT_FALSE(o->durationSeconds);
    EXPECT_EQ(o->format, WatchFormat::Table);
}

TEST(WatchOptions, EachOptionIsReadAndBadInputIsRefusedWithItsReason)
{
    const std::vector<OptionCase> cases = {
        {{"--interval", "2", "--missed", "5", "--duration", "600", "--format", "json"}, nullptr},
        {{"--interval=1", "--missed=1", "--duration=1", "--format=table"}, nullptr},
        {{"--interval", "0"}, "--interval"},
        {{"--interval", "ten"}, "--interval"},
        {{"--interval", "-5"}, "--interval"},
        {{"--missed", "0"}, "--missed"},
        {{"--duration", "0"}, "--duration"},
        {{"--duration"}, "--duration"},
        {{"--format", "csv"}, "--format takes table or json, not 'csv'"},
        {{"--interval", "2", "--interval", "3"}, "--interval"},
        {{"--site-plan", "x"}, "unknown option '--site-plan'"},
        {{"--site", "site.csv", "--publish", "mqtt://192.168.1.5:1884/lynx/site"}, nullptr},
        {{"--publish=mqtt://[fe80::1]/t"}, nullptr},
        {{"--site"}, "--site"},
        {{"--site", "a.csv", "--site", "b.csv"}, "--site"},
        {{"--publish", "mqtt://broker"}, "--publish: "},
        {{"--publish", "mqtts://broker/t"}, nullptr},
        {{"--publish", "mqtt://u:p@broker/t"}, "--publish: "},
        {{"--publish", "broker:1883/t"}, "--publish: "},
        {{"--publish", "mqtt://broker/t/#"}, "--publish: "},
        {{"--publish", "mqtt://broker/t", "--publish", "mqtt://other/t"}, "--publish"},
        // The broker's login and TLS: options that go together, never a password.
        {{"--publish", "mqtts://broker/t", "--mqtt-cafile", "ca.pem", "--mqtt-cert", "c.pem", "--mqtt-key", "k.pem",
          "--mqtt-user", "lynx", "--mqtt-password-file", "pw", "--mqtt-keepalive", "5"},
         nullptr},
        {{"--publish", "mqtt://broker/t", "--mqtt-user", "lynx"}, nullptr},
        {{"--publish", "mqtts://broker/t", "--mqtt-keepalive", "4"}, "--mqtt-keepalive"},
        {{"--mqtt-user", "lynx"}, "go with --publish"},
        {{"--mqtt-cafile", "ca.pem"}, "go with --publish"},
        {{"--publish", "mqtt://broker/t", "--mqtt-cafile", "ca.pem"}, "need an mqtts:// URL"},
        {{"--publish", "mqtt://broker/t", "--mqtt-cert", "c.pem", "--mqtt-key", "k.pem"}, "need an mqtts:// URL"},
        {{"--publish", "mqtts://broker/t", "--mqtt-cert", "c.pem"}, "--mqtt-cert and --mqtt-key go together"},
        {{"--publish", "mqtts://broker/t", "--mqtt-key", "k.pem"}, "--mqtt-cert and --mqtt-key go together"},
        {{"--publish", "mqtts://broker/t", "--mqtt-password-file", "pw"}, "--mqtt-password-file needs --mqtt-user"},
        {{"--publish", "mqtts://broker/t", "--mqtt-user", "lynx", "--mqtt-password", "secret"}, "LYNX_MQTT_PASSWORD"},
        {{"--publish", "mqtts://broker/t", "--mqtt-password=secret"}, "--mqtt-password is not taken"},
    };
    for (const OptionCase& c : cases) {
        std::string all;
        for (const std::string& a : c.args)
            all += a + " ";
        SCOPED_TRACE(all);
        std::string error;
        const auto o = ParseWatchOptions(c.args, &error);
        if (!c.error) {
            EXPECT_TRUE(o) << error;
            continue;
        }
        EXPECT_FALSE(o);
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
        EXPECT_EQ(error.find("secret"), std::string::npos) << "a password is never repeated: " << error;
    }
    std::string error;
    const auto o = ParseWatchOptions({"--interval", "2", "--missed", "5", "--duration", "600", "--format", "json"}, &error);
    ASSERT_TRUE(o);
    EXPECT_EQ(o->intervalSeconds, 2);
    EXPECT_EQ(o->missedRounds, 5);
    EXPECT_EQ(o->durationSeconds, 600);
    EXPECT_EQ(o->format, WatchFormat::Json);
    EXPECT_EQ(o->site, "");
    EXPECT_EQ(o->publish, "");
    const auto both = ParseWatchOptions({"--site", "site.csv", "--publish", "mqtt://broker/lynx"}, &error);
    ASSERT_TRUE(both) << error;
    EXPECT_EQ(both->site, "site.csv");
    EXPECT_EQ(both->publish, "mqtt://broker/lynx");
    const auto high = ParseWatchOptions({"--interval", "99999", "--missed", "99999"}, &error);
    ASSERT_TRUE(high);
    EXPECT_EQ(high->intervalSeconds, 3600) << "brought down to an hour";
    EXPECT_EQ(high->missedRounds, 1000);
}

TEST(WatchOptions, ThePasswordIsThePasswordFilesFirstLineOrElseTheEnvironments)
{
    const std::string dir = testing::TempDir();
    const auto write = [&](const std::string& name, const std::string& text) {
        const std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    };
    const std::string lines = write("password-lines", "first line\nsecond\n");
    const std::string crlf = write("password-crlf", "from windows\r\n");
    const std::string bare = write("password-bare", "no newline");
    struct Case {
        const char* name;
        std::string user, file;
        const char* environment;  // nullptr: unset
        std::optional<std::string> password;  // nullopt: refused
    };
    const std::vector<Case> cases = {
        {"the file's first line", "lynx", lines, nullptr, "first line"},
        {"without the line end of a Windows editor", "lynx", crlf, nullptr, "from windows"},
        {"a file without a line end", "lynx", bare, nullptr, "no newline"},
        {"the file before the environment", "lynx", lines, "from env", "first line"},
        {"the environment without a file", "lynx", "", "from env", "from env"},
        {"a user without a password", "lynx", "", nullptr, ""},
        {"no login: the environment is not read", "", "", "from env", ""},
        {"a file that cannot be read", "lynx", dir + "/no-such-file", "from env", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.environment)
            ::setenv("LYNX_MQTT_PASSWORD", c.environment, 1);
        else
            ::unsetenv("LYNX_MQTT_PASSWORD");
        WatchOptions options;
        options.publish = "mqtts://broker/t";
        options.mqttUser = c.user;
        options.mqttPasswordFile = c.file;
        std::string error;
        const auto mqtt = PublisherOptions(options, &error);
        ASSERT_EQ(mqtt.has_value(), c.password.has_value()) << error;
        if (mqtt) {
            EXPECT_EQ(mqtt->user, c.user);
            EXPECT_EQ(mqtt->password, *c.password);
        } else {
            EXPECT_NE(error.find(c.file + ": "), std::string::npos) << error;
        }
    }
    ::unsetenv("LYNX_MQTT_PASSWORD");
}

WatchEvent Event(WatchEventKind kind, const std::string& ip)
{
    WatchEvent event;
    event.time = lynx::site::WallClock::time_point(std::chrono::milliseconds(1'796'874'067'123));
    event.kind = kind;
    event.mac = "00:1A:2B:00:00:01";
    event.ip = ip;
    event.previousIp = "192.168.1.101";
    event.previousVersion = "V1.0.0";
    event.softwareVersion = "V2.0.0";
    return event;
}

TEST(WatchPrinting, TableLinesKeepTheirColumnsWhateverTheEventAddressAndLanguage)
{
    for (const char* language : {"en", ""}) {
        SCOPED_TRACE(language);
        lynx::platform::SelectLanguage(language);
        const std::vector<WatchEvent> events = {
            Event(WatchEventKind::Appeared, "192.168.1.5"),  Event(WatchEventKind::Disappeared, "10.0.0.1"),
            Event(WatchEventKind::Returned, "192.168.100.200"), Event(WatchEventKind::Address, "192.168.1.50"),
            Event(WatchEventKind::Version, "192.168.1.5"),   Event(WatchEventKind::Missing, ""),
            Event(WatchEventKind::Unexpected, "192.168.1.77"),
        };
        size_t macColumn = 0, restColumn = 0;
        for (const WatchEvent& event : events) {
            const std::string line = WatchEventLine(event);
            SCOPED_TRACE(line);
            EXPECT_EQ(line.rfind("2026-12-10T03:41:07.123Z ", 0), 0u);
            const size_t mac = line.find(event.mac);
            ASSERT_NE(mac, std::string::npos);
            const size_t ip = line.find(event.ip.empty() ? "-" : event.ip, mac);
            ASSERT_NE(ip, std::string::npos);
            const size_t rest = line.find_first_not_of(' ', line.find(' ', ip));
            if (!macColumn) {
                macColumn = DisplayWidth(line.substr(0, mac));
                restColumn = DisplayWidth(line.substr(0, rest));
            }
            EXPECT_EQ(DisplayWidth(line.substr(0, mac)), macColumn);
            if (rest != std::string::npos) {
                EXPECT_EQ(DisplayWidth(line.substr(0, rest)), restColumn);
            }
        }
        EXPECT_NE(WatchEventLine(events[4]).find("V1.0.0 -> V2.0.0"), std::string::npos);
        EXPECT_NE(WatchEventLine(events[3]).find("192.168.1.101"), std::string::npos);
        EXPECT_NE(WatchEventLine(events[1]).find(*language ? "disappeared" : "消失"), std::string::npos);
        EXPECT_NE(WatchEventLine(events[6]).find(*language ? "unexpected" : "多余"), std::string::npos);
    }
    lynx::platform::SelectLanguage("en");
}

TEST(WatchPrinting, ATableLineShowsControlSequencesAsTextAndABoundedLabel)
{
    for (const WatchEventKind kind : {WatchEventKind::Appeared, WatchEventKind::Version, WatchEventKind::Address,
                                      WatchEventKind::Disappeared}) {
        WatchEvent event = Event(kind, "192.168.1.5\x1b[2K");
        event.mac = "\x1b[1A\x1b[2K";
        event.softwareVersion = "\x1b]0;owned\x07";
        event.previousVersion = "\xC2\x9B" "2J";
        event.label = std::string(1 << 20, 'L') + "\r";
        const std::string line = WatchEventLine(event);
        SCOPED_TRACE(line);
        EXPECT_EQ(lynx::test::RawControls(line), "");
        EXPECT_LT(line.size(), 1024u) << "the label is cut";
        EXPECT_NE(line.find("\\x1b[1A\\x1b[2K"), std::string::npos);
        EXPECT_NE(line.find("192.168.1.5\\x1b[2K"), std::string::npos);
        if (kind == WatchEventKind::Version) {
            EXPECT_NE(line.find("\\u009b2J -> \\x1b]0;owned\\x07"), std::string::npos);
        }
    }
}

TEST(WatchPrinting, EachEventIsOneLineOnTheStreamAtOnceAndAFailedStreamIsToldOnce)
{
    std::ostringstream out;
    WatchPrinter json(out, WatchFormat::Json);
    json.Event(Event(WatchEventKind::Appeared, "192.168.1.5"));
    EXPECT_EQ(out.str(), lynx::site::WatchEventJson(Event(WatchEventKind::Appeared, "192.168.1.5")) + "\n");
    json.Event(Event(WatchEventKind::Returned, "192.168.1.5"));
    const std::string printed = out.str();
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 2);
    WatchEvent hostile = Event(WatchEventKind::Missing, "");
    hostile.label = "B2\xC2\x9B" "2J\x7f";
    json.Event(hostile);
    EXPECT_EQ(lynx::test::RawControls(out.str()), "") << out.str();
    EXPECT_NE(out.str().find("B2\\u009b2J\\u007f"), std::string::npos) << out.str();

    std::ostringstream broken;
    broken.setstate(std::ios::badbit);
    int told = 0;
    WatchPrinter failing(broken, WatchFormat::Table, [&] { ++told; });
    failing.Event(Event(WatchEventKind::Appeared, "192.168.1.5"));
    failing.Event(Event(WatchEventKind::Appeared, "192.168.1.6"));
    EXPECT_TRUE(failing.Failed());
    EXPECT_EQ(told, 1);
}

// A camera's retained state is one topic, however its MAC was written: by the
// site file for "missing", by the camera for the rest.
TEST(WatchPublishing, EachCameraIsPublishedUnderOneMacWhateverItsSeparatorsAndCase)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"00:1A:2B:3C:4D:5E", "00:1A:2B:3C:4D:5E"},
        {"00-1a-2b-3c-4d-5e", "00:1A:2B:3C:4D:5E"},
        {"001a2b3c4d5e", "00:1A:2B:3C:4D:5E"},
        {"00.1A.2B.3C.4D.5E", "00:1A:2B:3C:4D:5E"},
        // Not a MAC: left as it came, for the publisher to make a topic level of.
        {"00:1A:2B:3C:4D", "00:1A:2B:3C:4D"},
        {"camera/1", "camera/1"},
        {"", ""},
    };
    for (const auto& [given, published] : cases)
        EXPECT_EQ(PublishedMac(given), published) << given;
}

} // namespace
