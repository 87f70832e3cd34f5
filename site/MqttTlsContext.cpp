#include "site/MqttTlsContext.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>

#include <cstring>
#include <utility>

namespace lynx::site {

namespace {

// OpenSSL's reason for what failed first, such as "No such file or
// directory" or "key values mismatch" (what follows it in the queue only
// says which layer passed it on).
std::string OpenSslReason()
{
    const unsigned long code = ERR_peek_error();
    const char* reason = code ? ERR_reason_error_string(code) : nullptr;
    // A file that cannot be opened is a system error, which names no reason of its own.
    if (!reason && code && ERR_SYSTEM_ERROR(code))
        reason = std::strerror(ERR_GET_REASON(code));
    ERR_clear_error();
    return reason ? reason : "unknown error";
}

bool IsAddress(const std::string& host)
{
    unsigned char bytes[16];
    return ::inet_pton(AF_INET, host.c_str(), bytes) == 1 || ::inet_pton(AF_INET6, host.c_str(), bytes) == 1;
}

} // namespace

MqttTlsContext::MqttTlsContext(ssl_ctx_st* context) : m_context(context)
{
    SSL_CTX_set_app_data(m_context, this);
}

MqttTlsContext::~MqttTlsContext()
{
    SSL_CTX_free(m_context);
}

std::unique_ptr<MqttTlsContext> MqttTlsContext::Make(const std::string& host, const MqttTlsFiles& files,
                                                     std::string* error)
{
    SSL_CTX* raw = SSL_CTX_new(TLS_client_method());
    if (!raw) {
        *error = OpenSslReason();
        return nullptr;
    }
    std::unique_ptr<MqttTlsContext> context(new MqttTlsContext(raw));
    const auto fail = [&](const std::string& what) {
        *error = what + ": " + OpenSslReason();
        return nullptr;
    };
    SSL_CTX_set_min_proto_version(raw, TLS1_2_VERSION);
    if (files.caFile.empty() ? SSL_CTX_set_default_verify_paths(raw) != 1
                             : SSL_CTX_load_verify_locations(raw, files.caFile.c_str(), nullptr) != 1)
        return fail(files.caFile.empty() ? "the system's certificate authorities" : files.caFile);
    if (!files.certFile.empty() && SSL_CTX_use_certificate_chain_file(raw, files.certFile.c_str()) != 1)
        return fail(files.certFile);
    if (!files.keyFile.empty() && (SSL_CTX_use_PrivateKey_file(raw, files.keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
                                   SSL_CTX_check_private_key(raw) != 1))
        return fail(files.keyFile);
    // The broker's certificate must name the host the URL names, as a name
    // or as an address (subjectAltName IP:...).
    X509_VERIFY_PARAM* param = SSL_CTX_get0_param(raw);
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    if ((IsAddress(host) ? X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str())
                         : X509_VERIFY_PARAM_set1_host(param, host.c_str(), 0)) != 1)
        return fail(host);
    SSL_CTX_set_verify(raw, SSL_VERIFY_PEER, &MqttTlsContext::Verify);
    return context;
}

int MqttTlsContext::Verify(int preverified, x509_store_ctx_st* store)
{
    if (preverified)
        return 1;
    auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* self = ssl ? static_cast<MqttTlsContext*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl))) : nullptr;
    if (self) {
        std::lock_guard lock(self->m_mutex);
        self->m_refusal = X509_verify_cert_error_string(X509_STORE_CTX_get_error(store));
    }
    return 0;
}

std::string MqttTlsContext::TakeRefusal()
{
    std::lock_guard lock(m_mutex);
    return std::exchange(m_refusal, {});
}

} // namespace lynx::site
