// The TLS settings of a connection to an MQTT broker (mqtts://): the
// authorities that vouch for the broker (the system's, or those of a file),
// a client certificate when the broker asks for one, and the broker's name
// or address, which its certificate must carry. Handed to libmosquitto as
// the OpenSSL context of every connection, so that the reason a certificate
// is refused ("certificate has expired", "IP address mismatch") can be said.
#pragma once

#include <memory>
#include <mutex>
#include <string>

struct ssl_ctx_st;
struct x509_store_ctx_st;

namespace lynx::site {

struct MqttTlsFiles {
    std::string caFile;    // empty: the system's authorities
    std::string certFile;  // the client certificate (PEM, with its chain); empty: none
    std::string keyFile;   // its private key (PEM)
};

class MqttTlsContext {
public:
    // nullptr with *error set (the file and OpenSSL's reason) when a file
    // cannot be used.
    static std::unique_ptr<MqttTlsContext> Make(const std::string& host, const MqttTlsFiles& files,
                                                std::string* error);
    ~MqttTlsContext();
    MqttTlsContext(const MqttTlsContext&) = delete;
    MqttTlsContext& operator=(const MqttTlsContext&) = delete;

    ssl_ctx_st* Get() const { return m_context; }
    // Why the broker's certificate was last refused, and forgets it; empty
    // when none was since the last call.
    std::string TakeRefusal();

private:
    explicit MqttTlsContext(ssl_ctx_st* context);
    static int Verify(int preverified, x509_store_ctx_st* store);

    ssl_ctx_st* m_context;
    std::mutex m_mutex;
    std::string m_refusal;
};

} // namespace lynx::site
