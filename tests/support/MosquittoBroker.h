// An MQTT broker (mosquitto) of the test's own on the virtual LAN's PC, for
// tests of publishing: started, killed, frozen and started again as a real
// broker goes away, and mosquitto_sub subscribers that read what it hands on.
// A broker on the internet is had with a TLS listener that takes a login
// (a password file) and a client certificate, its certificates made by the
// test (TestCertificates); the test's own subscribers then use a plain
// listener on loopback.
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

// The certificates of a test's TLS broker, made with openssl in a folder:
// two authorities, server certificates for the PC's address from each, one
// for another name, one expired, and a client certificate.
class TestCertificates {
public:
    explicit TestCertificates(const TempDir& folder, const std::string& address) : m_dir(folder)
    {
        const std::string script = "set -e\ncd " + m_dir.path() + R"(
authority() {
  openssl req -x509 -newkey rsa:2048 -nodes -keyout $1.key -out $1.pem -days 30 -subj "/CN=$1" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign
}
# name, authority, subjectAltName, days, extended key usage
certificate() {
  openssl req -newkey rsa:2048 -nodes -keyout $1.key -out $1.csr -subj "/CN=$1"
  printf 'subjectAltName=%s\nbasicConstraints=CA:FALSE\nextendedKeyUsage=%s\n' "$3" "$5" > $1.ext
  openssl x509 -req -in $1.csr -CA $2.pem -CAkey $2.key -CAcreateserial -out $1.pem -days $4 -extfile $1.ext
}
authority ca
authority other-ca
certificate server ca IP:)" + address + R"( 30 serverAuth
certificate foreign other-ca IP:)" + address + R"( 30 serverAuth
certificate elsewhere ca DNS:elsewhere.lynx.test 30 serverAuth
certificate expired ca IP:)" + address + R"( -1 serverAuth
certificate client ca DNS:watch.lynx.test 30 clientAuth
)";
        ProcessResult r = RunProcess({"/bin/sh", "-c", script}, 60s);
        EXPECT_EQ(r.exitCode, 0) << r.err;
    }
    // NAME.pem and NAME.key: ca, other-ca, server, foreign, elsewhere, expired, client.
    std::string Pem(const std::string& name) const { return m_dir.File(name + ".pem"); }
    std::string Key(const std::string& name) const { return m_dir.File(name + ".key"); }

private:
    const TempDir& m_dir;
};

class MosquittoBroker {
public:
    static constexpr uint16_t kPort = 18830;
    static constexpr uint16_t kTlsPort = 18883;

    // A listener for the watch over TLS: the server's certificate and key,
    // the authority of the client certificates it requires, and the login
    // it takes (made into a password file with mosquitto_passwd).
    struct Tls {
        std::string certFile;
        std::string keyFile;
        std::string clientCaFile;
        std::string user;
        std::string password;
    };

    // Its configuration, pid file and log in folder, listening on the PC's address.
    explicit MosquittoBroker(const TempDir& folder) : m_dir(folder), m_host(PcAddress()), m_subscriberHost(m_host)
    {
        Configure("listener " + std::to_string(kPort) + " " + m_host + "\nallow_anonymous true\n");
    }
    // With a TLS listener on the PC's address instead, which takes only the
    // login; the test's subscribers use a plain listener on loopback.
    MosquittoBroker(const TempDir& folder, const Tls& tls)
        : m_dir(folder), m_host(PcAddress()), m_subscriberHost("127.0.0.1"), m_port(kTlsPort)
    {
        const std::string passwords = File("passwords");
        ProcessResult r =
            RunProcess({"/usr/bin/mosquitto_passwd", "-b", "-c", passwords, tls.user, tls.password}, 20s);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        Configure("per_listener_settings true\nlistener " + std::to_string(kPort) + " " + m_subscriberHost +
                  "\nallow_anonymous true\nlistener " + std::to_string(kTlsPort) + " " + m_host +
                  "\ncertfile " + tls.certFile + "\nkeyfile " + tls.keyFile + "\ncafile " + tls.clientCaFile +
                  "\nrequire_certificate true\npassword_file " + passwords + "\nallow_anonymous false\n");
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
    // The URL the watch publishes to: mqtts:// with a TLS listener.
    std::string Url(const std::string& topic) const
    {
        return std::string(m_port == kTlsPort ? "mqtts://" : "mqtt://") + m_host + ":" + std::to_string(m_port) + "/" +
               topic;
    }
    std::string Log() const { return ReadAll(File("mosquitto.log")); }

    // Started as a daemon; returns once it takes connections.
    void Start()
    {
        ProcessResult r = RunProcess({"/usr/sbin/mosquitto", "-c", File("mosquitto.conf"), "-d"}, 20s);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        ASSERT_TRUE(WaitUntil([&] { return CanConnect(m_host, m_port) && CanConnect(m_subscriberHost, kPort); }, 10s))
            << Log();
        m_pid = std::stoi(ReadAll(File("mosquitto.pid")));
    }

    void Stop(int signal)
    {
        ASSERT_GT(m_pid, 0);
        ::kill(m_pid, signal);
        // The daemon is not this process's child: gone when it no longer listens.
        EXPECT_TRUE(WaitUntil([&] { return !CanConnect(m_host, m_port); }, 10s));
        m_pid = -1;
    }

    void Freeze(bool frozen) { ::kill(m_pid, frozen ? SIGSTOP : SIGCONT); }

    // A subscriber to filter that ends after count messages (or 30 s),
    // started once the broker has its subscription; it prints "TOPIC PAYLOAD".
    std::unique_ptr<BackgroundRun> Subscribe(const std::string& filter, int count)
    {
        const size_t before = Count(Log(), "Received SUBSCRIBE");
        auto run = std::make_unique<BackgroundRun>([this, filter, count] {
            return RunProcess({"/usr/bin/mosquitto_sub", "-h", m_subscriberHost, "-p", std::to_string(kPort), "-v", "-t", filter,
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
        ProcessResult r = RunProcess({"/usr/bin/mosquitto_pub", "-h", m_subscriberHost, "-p", std::to_string(kPort), "-t", topic,
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
    // The configuration with the listeners, each broker of a test with files of its own.
    void Configure(const std::string& listeners)
    {
        static int brokers = 0;
        m_name = "mosquitto" + std::to_string(++brokers);
        EXPECT_TRUE(WriteFile(File("mosquitto.conf"),
                              listeners + "persistence false\nuser root\npid_file " + File("mosquitto.pid") +
                                  "\nlog_dest file " + File("mosquitto.log") + "\nlog_type all\n"));
    }
    std::string File(const std::string& name) const { return m_dir.File(m_name + "-" + name); }

    static std::string ReadAll(const std::string& path)
    {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    const TempDir& m_dir;
    std::string m_host;
    std::string m_subscriberHost;
    uint16_t m_port = kPort;  // the listener the watch publishes to
    std::string m_name;
    pid_t m_pid = -1;
};

} // namespace lynx::test
