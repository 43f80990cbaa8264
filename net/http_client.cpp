#include "net/http_client.h"

#include <chrono>
#include <optional>
#include <string>

#include "net/proxy.h"
#include "net/socket.h"
#include "net/tls_session.h"
#include "net/url.h"
#include "support/ascii.h"
#include "support/logger.h"

namespace tarncore {

namespace {

constexpr int kMaxAttempts = 3;
constexpr int kMaxRedirects = 8;
constexpr std::size_t kHeadLogBytes = 240;
// A receive time-out is only set again when it would be this much too long.
constexpr std::int64_t kTimeoutSlackMs = 100;

using Clock = std::chrono::steady_clock;

std::int64_t ms_until(Clock::time_point when) {
    return std::chrono::ceil<std::chrono::milliseconds>(when - Clock::now()).count();
}

// The limits of one exchange over its connection: the head (for a small
// document the whole answer) by a deadline that trickling bytes do not move,
// a body by the stall rule. Each receive waits no longer than the nearest
// limit, so a silent peer is noticed when the limit passes, not at the
// per-operation time-out.
class PacedTransport final : public Transport {
public:
    PacedTransport(Transport& inner, const HttpRequest& request, std::string url)
        : inner_(inner),
          timeout_ms_(request.timeout_ms),
          applied_ms_(request.timeout_ms),
          window_ms_(request.stall_window_ms),
          window_need_(std::uint64_t{request.stall_window_ms} * 1024 / 1000),
          whole_(request.whole_answer_deadline),
          url_(std::move(url)) {
        if (timeout_ms_ > 0) deadline_ = Clock::now() + std::chrono::milliseconds(timeout_ms_);
    }

    // The head is in: from here on the body's own rules apply.
    void body_started() {
        if (!whole_) deadline_.reset();
        if (window_ms_ > 0) restart_window();
    }

    Error send(const char* data, std::size_t length) override { return inner_.send(data, length); }

    std::int32_t recv(char* buffer, std::size_t capacity, Error& error) override {
        error = Error();
        std::int64_t wait = timeout_ms_ > 0 ? timeout_ms_ : INT32_MAX;
        bool window_bound = false;
        if (deadline_) {
            const std::int64_t left = ms_until(*deadline_);
            if (left <= 0) return timed_out(error);
            wait = std::min(wait, left);
        }
        if (window_end_) {
            const std::int64_t left = ms_until(*window_end_);
            if (left <= 0) return stalled(error);
            window_bound = left < wait;
            wait = std::min(wait, left);
        }
        if (wait > applied_ms_ || wait + kTimeoutSlackMs < applied_ms_) {
            applied_ms_ = static_cast<std::uint32_t>(wait);
            inner_.set_receive_timeout(applied_ms_);
        }
        const std::int32_t n = inner_.recv(buffer, capacity, error);
        if (n < 0 && window_bound && error.kind == ErrorKind::kTimedOut) return stalled(error);
        if (n > 0 && window_end_) {
            window_moved_ += static_cast<std::uint64_t>(n);
            if (window_moved_ >= window_need_) restart_window();
        }
        return n;
    }

private:
    void restart_window() {
        window_end_ = Clock::now() + std::chrono::milliseconds(window_ms_);
        window_moved_ = 0;
    }
    static std::int32_t timed_out(Error& error) {
        error = receive_timeout_error();
        return -1;
    }
    std::int32_t stalled(Error& error) const {
        error = http_error("Download stalled: less than 1 KiB/s for " +
                           std::to_string(window_ms_ / 1000) + " s from " + console_safe(url_));
        error.kind = ErrorKind::kTimedOut;
        return -1;
    }

    Transport& inner_;
    std::uint32_t timeout_ms_;
    std::uint32_t applied_ms_;
    std::uint32_t window_ms_;
    std::uint64_t window_need_;
    bool whole_;
    std::string url_;
    std::optional<Clock::time_point> deadline_;
    std::optional<Clock::time_point> window_end_;
    std::uint64_t window_moved_ = 0;
};

// A download that broke part-way and may go on where it stopped: the server
// said it serves byte ranges and named the version it sent.
struct ResumePoint {
    HttpResponse first;  // the head of the answer being continued, and any body held
    std::int64_t have = 0;
    std::int64_t total = 0;
    std::string validator;  // ETag, else Last-Modified

    bool active() const { return have > 0; }
};

ResumePoint resume_point(const HttpResponse& response, const ResumePoint& before) {
    ResumePoint point;
    const bool continued = before.active() && response.status == 206 &&
                           header_value(response.headers, "content-range") ==
                               content_range_from(before.have, before.total);
    const HttpResponse& head = continued ? before.first : response;
    if (head.status != 200) return point;
    const std::string length = header_value(head.headers, "content-length");
    point.validator = header_value(head.headers, "etag");
    if (point.validator.empty()) point.validator = header_value(head.headers, "last-modified");
    const bool ranges = ascii_lowered(header_value(head.headers, "accept-ranges")) == "bytes";
    if (!ranges || point.validator.empty() || length.empty() ||
        length.find_first_not_of("0123456789") != std::string::npos || length.size() > 12) {
        return {};
    }
    point.total = std::stoll(length);
    point.have = (continued ? before.have : 0) + body_length(response);
    point.first = head;
    if (continued)
        point.first.body = before.first.body + response.body.view();
    else
        point.first.body = response.body;
    if (point.have <= 0 || point.have >= point.total) return {};
    return point;
}

HttpResponse exchange_paced(Transport& transport, const HttpRequest& request, const Url& url,
                            Error& error, const ResumePoint& resume, bool absolute_form = false) {
    PacedTransport paced(transport, request, to_string(url));
    error = write_request(paced, request, url, absolute_form);
    if (error.failed()) {
        error.function = "HttpClient.execute";
        return {};
    }
    std::string buffer;
    if (!read_until(paced, buffer, "\r\n\r\n", error, kMaxHeaderBytes)) return {};
    Logger::instance().debug("http", "headers received (" + std::to_string(buffer.size()) +
                                         " bytes) " + buffer.substr(0, kHeadLogBytes));

    paced.body_started();
    BodyOptions options;
    options.progress = &request.progress;
    options.max_body_bytes = request.max_body_bytes;
    options.sink = request.sink;
    options.resume_from = resume.have;
    options.resume_total = resume.total;
    HttpResponse response = read_response(paced, buffer, error, options);
    std::string summary = "status=" + std::to_string(response.status) +
                          " body=" + std::to_string(body_length(response));
    if (error.failed()) summary += " err=" + error.message;
    Logger::instance().debug("http", summary);

    if (error.ok() && response.status == 200 && body_length(response) == 0) {
        Logger::instance().warn(
            "http",
            "GET-like 200 with empty body cl=" + header_value(response.headers, "content-length") +
                " te=" + header_value(response.headers, "transfer-encoding") +
                " headers=" + std::to_string(response.headers.size()));
    }
    if (error.ok() && response.status == 0) {
        error = http_error("HTTP response did not include a status line");
    }
    if (error.failed()) Logger::instance().error("http", error.message);
    return response;
}

// One attempt over a fresh connection of the transport the scheme asks for.
template <typename Connection>
HttpResponse attempt(Connection& connection, const HttpRequest& request, const Url& url,
                     Error& error, const ResumePoint& resume) {
    error = connection.connect(url.host, url.port, request.timeout_ms, 0);
    HttpResponse response;
    if (error.ok()) {
        connection.set_receive_timeout(request.timeout_ms);
        response = exchange_paced(connection, request, url, error, resume);
    }
    connection.close();
    return response;
}

// The same through a proxy: HTTPS in a tunnel, with TLS to the origin (whose
// name the certificate must carry), plain HTTP asked in absolute form. A
// refusal by the proxy is final: asking again changes nothing.
HttpResponse attempt(const ProxyServer& proxy, const HttpRequest& request, const Url& url,
                     Error& error, const ResumePoint& resume, bool& final) {
    final = false;
    Socket socket;
    error = socket.connect(proxy.host, proxy.port, request.timeout_ms, 0);
    if (error.failed()) {
        error.message += " (proxy " + proxy.shown + ")";
        return {};
    }
    socket.set_receive_timeout(request.timeout_ms);
    HttpResponse response;
    if (url.tls) {
        error = open_tunnel(socket, proxy, url, final);
        if (error.ok()) {
            TlsSession session(make_platform_tls_engine(), socket);
            error = session.handshake(url.host);
            if (error.ok()) response = exchange_paced(session, request, url, error, resume);
        }
    } else {
        response = exchange_paced(socket, through_proxy(request, proxy), url, error, resume, true);
        if (error.ok() && response.status == 407) {
            error = proxy_refused(proxy, response);
            final = true;
        }
    }
    socket.close();
    return response;
}

}  // namespace

HttpResponse HttpClient::execute(const HttpRequest& request, Error& error) {
    HttpRequest working = request;
    int redirects = 0;
    while (true) {
        HttpResponse response = execute_once(working, error);
        if (error.failed() || !is_redirect_status(response.status)) return response;
        std::string location = header_value(response.headers, "Location");
        if (location.empty()) return response;
        Error unread;  // a URL that does not parse fails in execute_once
        const bool was_tls = Url::parse(working.url, unread).tls;
        working.url = resolve_location(working.url, location);
        // The extras run what they download: no step down to clear text, except
        // to this machine itself (by its host, not by a text in the URL).
        const Url next = Url::parse(working.url, unread);
        if (was_tls && unread.ok() && !next.tls && !is_loopback_host(next.host)) {
            error = http_error("Refusing redirect from HTTPS to HTTP: " + working.url);
            return response;
        }
        if (response.status == 303) {
            working.method = "GET";
            working.body.clear();
        }
        Logger::instance().debug(
            "http", "redirect " + std::to_string(response.status) + " -> " + working.url);
        error = Error();
        if (++redirects == kMaxRedirects) {
            error = http_error("Too many HTTP redirects");
            return response;
        }
    }
}

HttpResponse HttpClient::execute_once(const HttpRequest& request, Error& error) {
    error = Error();
    Url url = Url::parse(request.url, error);
    if (error.failed()) {
        error.function = "HttpClient.execute";
        return {};
    }
    Logger::instance().debug("http", request.method + " " + request.url);
    const ProxyServer proxy = proxy_for(url, error);
    if (error.failed()) return {};
    if (proxy.present()) Logger::instance().debug("http", "through proxy " + proxy.shown);

    ResumePoint resume;
    for (int attempts = 0;;) {
        error = Error();
        HttpRequest ranged;
        const HttpRequest* sent = &request;
        if (resume.active()) {
            ranged = request;
            ranged.headers["Range"] = "bytes=" + std::to_string(resume.have) + "-";
            ranged.headers["If-Range"] = resume.validator;
            sent = &ranged;
        }
        // Each attempt's own: a large failed body is not held through the next.
        HttpResponse response;
        bool final = false;
        if (proxy.present()) {
            response = attempt(proxy, *sent, url, error, resume, final);
        } else if (url.tls) {
            TlsSession session;
            response = attempt(session, *sent, url, error, resume);
        } else {
            Socket socket;
            response = attempt(socket, *sent, url, error, resume);
        }
        const bool continued = resume.active() && response.status == 206 && error.ok() &&
                               header_value(response.headers, "content-range") ==
                                   content_range_from(resume.have, resume.total);
        if (continued) {
            // The rest of the body under the head of the answer it continues.
            response.streamed += resume.have - static_cast<std::int64_t>(resume.first.body.size());
            response.body = resume.first.body + response.body;
            response.status = resume.first.status;
            response.reason = resume.first.reason;
            response.headers = resume.first.headers;
        }
        bool empty_get =
            request.method == "GET" && response.status == 200 && body_length(response) == 0;
        // More than the caller allows is the server's answer, not a passing fault.
        final = final || error.kind == ErrorKind::kTooLarge;
        if ((error.ok() && response.status != 0 && !empty_get) || final) return response;

        ++attempts;
        std::string line = request.method + " " + request.url +
                           " status=" + std::to_string(response.status) +
                           " body=" + std::to_string(body_length(response));
        if (error.failed()) line += " err=" + error.message;
        line += ", retry " + std::to_string(attempts);
        Logger::instance().warn("http", line);
        if (attempts == kMaxAttempts) return response;
        resume = error.failed() && request.method == "GET" ? resume_point(response, resume)
                                                           : ResumePoint();
        if (resume.active()) {
            Logger::instance().debug("http", "resuming at " + std::to_string(resume.have) + " of " +
                                                 std::to_string(resume.total));
        }
    }
}

HttpResponse HttpClient::exchange(Transport& transport, const HttpRequest& request, const Url& url,
                                  Error& error) {
    return exchange_paced(transport, request, url, error, ResumePoint());
}

}  // namespace tarncore
