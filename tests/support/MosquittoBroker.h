// An MQTT broker (mosquitto) of the test's own on the virtual LAN's PC, for
// tests of publishing: started, killed, frozen and started again as a real
// broker goes away, and mosquitto_sub subscribers that read what it hands on.
#pragma once

#include "NetlabFixture.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>

namespace lynx::test {

class MosquittoBroker {
public:
    static constexpr uint16_t kPort = 18830;

    // Its configuration, pid file and log in folder, listening on the PC's address.
    explicit MosquittoBroker(const TempDir& folder) : m_dir(folder), m_host(PcAddress())
    {
        EXPECT_TRUE(WriteFile(m_dir.File("mosquitto.conf"),
                              "listener " + std::to_string(kPort) + " " + m_host +
                                  "\nallow_anonymous true\npersistence false\nuser root\n"
                                  "pid_file " + m_dir.File("mosquitto.pid") +
                                  "\nlog_dest file " + m_dir.File("mosquitto.log") + "\nlog_type all\n"));
    }
    ~MosquittoBroker()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGCONT);
            Stop(SIGTERM);
        }
    }
    MosquittoBroker(const MosquittoBroker&) = delete;
    MosquittoBroker& operator=(const MosquittoBroker&) = delete;

    const std::string& Host() const { return m_host; }
    std::string Url(const std::string& topic) const
    {
        return "mqtt://" + m_host + ":" + std::to_string(kPort) + "/" + topic;
    }
    std::string Log() const { return ReadAll(m_dir.File("mosquitto.log")); }

    // Started as a daemon; returns once it takes connections.
    void Start()
    {
        ProcessResult r = RunProcess({"/usr/sbin/mosquitto", "-c", m_dir.File("mosquitto.conf"), "-d"}, 20s);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        ASSERT_TRUE(WaitUntil([&] { return CanConnect(m_host, kPort); }, 10s)) << Log();
        m_pid = std::stoi(ReadAll(m_dir.File("mosquitto.pid")));
    }

    void Stop(int signal)
    {
        ASSERT_GT(m_pid, 0);
        ::kill(m_pid, signal);
        // The daemon is not this process's child: gone when it no longer listens.
        EXPECT_TRUE(WaitUntil([&] { return !CanConnect(m_host, kPort); }, 10s));
        m_pid = -1;
    }

    void Freeze(bool frozen) { ::kill(m_pid, frozen ? SIGSTOP : SIGCONT); }

    // A subscriber to filter that ends after count messages (or 30 s),
    // started once the broker has its subscription; it prints "TOPIC PAYLOAD".
    std::unique_ptr<BackgroundRun> Subscribe(const std::string& filter, int count)
    {
        const size_t before = Count(Log(), "Received SUBSCRIBE");
        auto run = std::make_unique<BackgroundRun>([this, filter, count] {
            return RunProcess({"/usr/bin/mosquitto_sub", "-h", m_host, "-p", std::to_string(kPort), "-v", "-t", filter,
                               "-C", std::to_string(count), "-W", "30"},
                              40s);
        });
        EXPECT_TRUE(WaitUntil([&] { return Count(Log(), "Received SUBSCRIBE") > before; }, 10s));
        return run;
    }

    // One message of the test's own, at QoS 1: once a subscriber prints it,
    // everything published before it has reached that subscriber.
    void Publish(const std::string& topic, const std::string& payload)
    {
        ProcessResult r = RunProcess({"/usr/bin/mosquitto_pub", "-h", m_host, "-p", std::to_string(kPort), "-t", topic,
                                      "-m", payload, "-q", "1"},
                                     20s);
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }

    // The "TOPIC PAYLOAD" lines a subscriber printed, each with how often.
    static std::map<std::string, int> Received(const ProcessResult& r)
    {
        std::map<std::string, int> lines;
        std::istringstream in(r.out);
        for (std::string line; std::getline(in, line);)
            ++lines[line];
        return lines;
    }

private:
    static std::string ReadAll(const std::string& path)
    {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    const TempDir& m_dir;
    std::string m_host;
    pid_t m_pid = -1;
};

} // namespace lynx::test
