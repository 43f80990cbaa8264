// OpenSSL behind the engine steps, fed through memory BIOs so that the session
// logic does all socket I/O, as it does with Schannel. Trust comes from the
// default verify paths (SSL_CERT_FILE / SSL_CERT_DIR point elsewhere).
#include "net/tls_engine.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

namespace tarncore {

namespace {

using namespace tls_status;

constexpr std::uint32_t kRecordHeader = 5;
// Room for the cipher's tag and padding, and for a short handshake message
// (a refusal alert) that OpenSSL queued while reading and that leaves with
// the next record.
constexpr std::uint32_t kRecordTrailer = 512;
constexpr std::uint32_t kMaxMessage = 16384;

std::int32_t verify_status(long result) {
    switch (result) {
        case X509_V_OK: return kOk;
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_CERT_NOT_YET_VALID: return kCertExpired;
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH: return kWrongPrincipal;
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_CERT_UNTRUSTED:
        case X509_V_ERR_CERT_SIGNATURE_FAILURE: return kUntrustedRoot;
        default: return kCertUnknown;
    }
}

bool is_ip_literal(const std::string& host) {
    unsigned char address[16];
    return inet_pton(AF_INET, host.c_str(), address) == 1 ||
           inet_pton(AF_INET6, host.c_str(), address) == 1;
}

class OpenSslEngine final : public TlsEngine {
public:
    ~OpenSslEngine() override { release(); }

    std::int32_t acquire_credentials(TlsCredentials) override {
        release();
        ERR_clear_error();
        ctx_ = SSL_CTX_new(TLS_client_method());
        if (ctx_ == nullptr) return kInternalError;
        SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
        SSL_CTX_set_options(ctx_, SSL_OP_NO_RENEGOTIATION);
        SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, nullptr);
        // No client certificate is offered: a server that asks fails the
        // handshake, as with the Windows package.
        SSL_CTX_set_client_cert_cb(ctx_, [](SSL*, X509**, EVP_PKEY**) { return -1; });
        if (SSL_CTX_set_default_verify_paths(ctx_) != 1) {
            release();
            return kInternalError;
        }
        return kOk;
    }

    TlsHandshakeStep handshake_step(std::span<const char> input, std::string_view host) override {
        TlsHandshakeStep step;
        if (ctx_ == nullptr) {
            step.status = kInternalError;
            return step;
        }
        if (ssl_ == nullptr && !start(std::string(host))) {
            step.status = kInternalError;
            return step;
        }
        feed(input);
        ERR_clear_error();
        const int result = SSL_do_handshake(ssl_);
        const int reason = result == 1 ? SSL_ERROR_NONE : SSL_get_error(ssl_, result);
        step.token = drain_output();
        if (reason == SSL_ERROR_NONE) {
            // Bytes past the last handshake record go back to the session,
            // which hands them to decrypt with the records that follow.
            step.extra = BIO_ctrl_pending(in_);
            (void)BIO_reset(in_);
            step.status = kOk;
        } else if (reason == SSL_ERROR_WANT_READ) {
            step.status = kContinueNeeded;  // all input is buffered inside OpenSSL
        } else if (reason == SSL_ERROR_WANT_X509_LOOKUP) {
            step.status = kIncompleteCredentials;
        } else {
            step.status = failure_status();
        }
        ERR_clear_error();
        return step;
    }

    std::int32_t stream_sizes(TlsStreamSizes& sizes) override {
        sizes = TlsStreamSizes{kRecordHeader, kRecordTrailer, kMaxMessage, 4, 1};
        return kOk;
    }

    std::int32_t encrypt(std::span<char> buffer, std::size_t data_length,
                         TlsRecordSizes& out) override {
        if (ssl_ == nullptr || kRecordHeader + data_length > buffer.size()) return kInternalError;
        ERR_clear_error();
        const int written =
            SSL_write(ssl_, buffer.data() + kRecordHeader, static_cast<int>(data_length));
        if (written != static_cast<int>(data_length)) {
            ERR_clear_error();
            return kInternalError;
        }
        const std::string record = drain_output();
        if (record.size() > buffer.size()) return kBufferTooSmall;
        std::memcpy(buffer.data(), record.data(), record.size());
        out.header = std::min<std::size_t>(kRecordHeader, record.size());
        out.data = std::min(data_length, record.size() - out.header);
        out.trailer = record.size() - out.header - out.data;
        return kOk;
    }

    TlsDecrypted decrypt(std::span<char> input, std::span<char> output) override {
        TlsDecrypted result;
        if (ssl_ == nullptr) {
            result.status = kInternalError;
            return result;
        }
        if (!input.empty()) {
            // OpenSSL reads the records where they lie, not from a copy; what
            // it leaves unread goes back to the session as extra.
            BIO* view = BIO_new_mem_buf(input.data(), static_cast<int>(input.size()));
            if (view == nullptr) {
                result.status = kInternalError;
                return result;
            }
            BIO_set_mem_eof_return(view, -1);
            SSL_set0_rbio(ssl_, view);  // frees the one before
            in_ = view;
        }
        while (result.written < output.size()) {
            ERR_clear_error();
            const std::size_t room = std::min<std::size_t>(output.size() - result.written, INT_MAX);
            const int n = SSL_read(ssl_, output.data() + result.written, static_cast<int>(room));
            if (n > 0) {
                result.written += static_cast<std::size_t>(n);
                continue;
            }
            const int reason = SSL_get_error(ssl_, n);
            if (reason == SSL_ERROR_WANT_READ) {
                // Everything fed was taken in; nothing more until new bytes come.
                if (result.written == 0) result.status = kIncompleteMessage;
                break;
            }
            result.status = reason == SSL_ERROR_ZERO_RETURN ? kContextExpired : failure_status();
            break;
        }
        ERR_clear_error();
        result.extra = BIO_ctrl_pending(in_);
        return result;
    }

    std::int32_t verify_peer(std::string_view) override {
        // The host was set on the connection; the handshake already refused a
        // bad chain or name, this catches a connection that skipped the check.
        if (ssl_ == nullptr) return kInternalError;
        X509* peer = SSL_get1_peer_certificate(ssl_);
        if (peer == nullptr) return kCertUnknown;
        X509_free(peer);
        return verify_status(SSL_get_verify_result(ssl_));
    }

    void release() override {
        if (ssl_ != nullptr) SSL_free(ssl_);  // frees both BIOs
        if (ctx_ != nullptr) SSL_CTX_free(ctx_);
        ssl_ = nullptr;
        ctx_ = nullptr;
        in_ = nullptr;
        out_ = nullptr;
    }

private:
    bool start(const std::string& host) {
        ssl_ = SSL_new(ctx_);
        if (ssl_ == nullptr) return false;
        in_ = BIO_new(BIO_s_mem());
        out_ = BIO_new(BIO_s_mem());
        if (in_ == nullptr || out_ == nullptr) {
            BIO_free(in_);
            BIO_free(out_);
            in_ = out_ = nullptr;
            return false;
        }
        // A drained memory BIO reports "retry", not end of stream.
        BIO_set_mem_eof_return(in_, -1);
        SSL_set_bio(ssl_, in_, out_);
        SSL_set_connect_state(ssl_);
        if (is_ip_literal(host)) {
            return X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), host.c_str()) == 1;
        }
        return SSL_set_tlsext_host_name(ssl_, host.c_str()) == 1 &&
               SSL_set1_host(ssl_, host.c_str()) == 1;
    }

    void feed(std::span<const char> input) {
        if (!input.empty()) BIO_write(in_, input.data(), static_cast<int>(input.size()));
    }

    std::string drain_output() {
        std::string bytes(BIO_ctrl_pending(out_), '\0');
        if (!bytes.empty()) {
            const int n = BIO_read(out_, bytes.data(), static_cast<int>(bytes.size()));
            bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        }
        return bytes;
    }

    // Maps the failure left in OpenSSL's error queue to a package status.
    std::int32_t failure_status() {
        const long verify = SSL_get_verify_result(ssl_);
        if (verify != X509_V_OK) return verify_status(verify);
        const unsigned long error = ERR_peek_error();
        if (ERR_GET_LIB(error) != ERR_LIB_SSL) return kInternalError;
        switch (ERR_GET_REASON(error)) {
            case SSL_R_UNSUPPORTED_PROTOCOL:
            case SSL_R_NO_PROTOCOLS_AVAILABLE:
            case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
            case SSL_R_NO_SHARED_CIPHER:
            case SSL_R_NO_CIPHERS_AVAILABLE:
            case SSL_R_SSLV3_ALERT_HANDSHAKE_FAILURE:
            case SSL_R_TLSV1_ALERT_INSUFFICIENT_SECURITY: return kAlgorithmMismatch;
            case SSL_R_DECRYPTION_FAILED_OR_BAD_RECORD_MAC: return kInvalidToken;
            default: return kIllegalMessage;
        }
    }

    SSL_CTX* ctx_ = nullptr;
    SSL* ssl_ = nullptr;
    BIO* in_ = nullptr;   // owned by ssl_
    BIO* out_ = nullptr;  // owned by ssl_
};

}  // namespace

std::unique_ptr<TlsEngine> make_platform_tls_engine() {
    return std::make_unique<OpenSslEngine>();
}

}  // namespace tarncore
