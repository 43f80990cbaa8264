#include "net/http_client.h"

#include <string>

#include "net/socket.h"
#include "net/tls_session.h"
#include "net/url.h"
#include "support/logger.h"

namespace tarncore {

namespace {

constexpr int kMaxAttempts = 3;
constexpr int kMaxRedirects = 8;
constexpr std::size_t kHeadLogBytes = 240;

bool is_redirect(std::int32_t status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// One attempt over a fresh connection of the transport the scheme asks for.
template <typename Connection>
HttpResponse attempt(Connection& connection, const HttpRequest& request, const Url& url,
                     Error& error) {
    error = connection.connect(url.host, url.port, request.timeout_ms, 0);
    HttpResponse response;
    if (error.ok()) {
        connection.set_receive_timeout(request.timeout_ms);
        response = HttpClient::exchange(connection, request, url, error);
    }
    connection.close();
    return response;
}

}  // namespace

HttpResponse HttpClient::execute(const HttpRequest& request, Error& error) {
    HttpRequest working = request;
    int redirects = 0;
    while (true) {
        HttpResponse response = execute_once(working, error);
        if (error.failed() || !is_redirect(response.status)) return response;
        std::string location = header_value(response.headers, "Location");
        if (location.empty()) return response;
        Error unread;  // a URL that does not parse fails in execute_once
        const bool was_tls = Url::parse(working.url, unread).tls;
        working.url = resolve_location(working.url, location);
        // The extras run what they download unchecked: no step down to clear text.
        const Url next = Url::parse(working.url, unread);
        if (was_tls && unread.ok() && !next.tls && !is_local_url(working.url)) {
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

    HttpResponse response;
    for (int attempts = 0;;) {
        error = Error();
        if (url.tls) {
            TlsSession session;
            response = attempt(session, request, url, error);
        } else {
            Socket socket;
            response = attempt(socket, request, url, error);
        }
        bool empty_get = request.method == "GET" && response.status == 200 && response.body.empty();
        if (error.ok() && response.status != 0 && !empty_get) return response;

        ++attempts;
        std::string line = request.method + " " + request.url +
                           " status=" + std::to_string(response.status) +
                           " body=" + std::to_string(response.body.size());
        if (error.failed()) line += " err=" + error.message;
        line += ", retry " + std::to_string(attempts);
        Logger::instance().warn("http", line);
        if (attempts == kMaxAttempts) return response;
    }
}

HttpResponse HttpClient::exchange(Transport& transport, const HttpRequest& request, const Url& url,
                                  Error& error) {
    error = write_request(transport, request, url);
    if (error.failed()) {
        error.function = "HttpClient.execute";
        return {};
    }
    std::string buffer;
    if (!read_until(transport, buffer, "\r\n\r\n", error, kMaxHeaderBytes)) return {};
    Logger::instance().debug("http", "headers received (" + std::to_string(buffer.size()) +
                                         " bytes) " + buffer.substr(0, kHeadLogBytes));

    HttpResponse response =
        read_response(transport, buffer, error, request.progress, request.max_body_bytes);
    std::string summary = "status=" + std::to_string(response.status) +
                          " body=" + std::to_string(response.body.size());
    if (error.failed()) summary += " err=" + error.message;
    Logger::instance().debug("http", summary);

    if (error.ok() && response.status == 200 && response.body.empty()) {
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

}  // namespace tarncore
