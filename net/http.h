// HTTP/1.1 wire format: one exchange per connection ("Connection: close"),
// written once over Transport so a socket and a TLS session behave alike.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "net/body_buffer.h"
#include "net/transport.h"
#include "net/url.h"

namespace tarncore {

/// The body limit of a request unless it sets another: room for any runtime
/// or component archive.
inline constexpr std::int64_t kDefaultMaxBodyBytes = 1073741824;

/// Body bytes received so far and the expected total (-1 when unknown).
using ProgressCallback = std::function<void(std::int64_t received, std::int64_t total)>;

using HeaderMap = std::map<std::string, std::string>;

/// Takes a 200 body (or the rest of a resumed one) as it arrives instead of
/// the response holding it: a download hashes and writes each block once.
class BodySink {
public:
    virtual ~BodySink() = default;
    /// What was taken so far is void: a new body starts from its first byte.
    virtual void restart() = 0;
    virtual void take(const char* data, std::size_t length) = 0;
};

/// A body that moves fewer than 1 KiB a second over this long fails.
inline constexpr std::uint32_t kStallWindowMs = 30000;
/// A redirect's body is read no further than this; the rest is dropped.
inline constexpr std::int64_t kRedirectBodyCap = 65536;

struct HttpRequest {
    std::string method = "GET";
    std::string url;
    HeaderMap headers;
    std::string body;
    std::uint32_t timeout_ms = 20000;
    ProgressCallback progress;
    /// Largest response body accepted; a longer one fails the request.
    std::int64_t max_body_bytes = kDefaultMaxBodyBytes;
    /// Where a 200 body goes instead of HttpResponse::body (not owned).
    BodySink* sink = nullptr;
    /// Head and body together must arrive within timeout_ms (a small
    /// document); otherwise only the head must.
    bool whole_answer_deadline = false;
    std::uint32_t stall_window_ms = kStallWindowMs;  // 0: no stall rule
};

struct HttpResponse {
    std::int32_t status = 0;
    std::string reason;
    HeaderMap headers;  // names as received; the first occurrence wins
    BodyBuffer body;
    std::int64_t streamed = 0;  // body bytes handed to the request's sink instead
};

/// The body's length, held or streamed.
inline std::int64_t body_length(const HttpResponse& response) {
    return static_cast<std::int64_t>(response.body.size()) + response.streamed;
}

bool is_redirect_status(std::int32_t status);
/// The Content-Range of a 206 that continues a body at `from`: "bytes from-(total-1)/total".
std::string content_range_from(std::int64_t from, std::int64_t total);

/// How read_response takes a body: its limit, where it goes, and the point a
/// resumed download continues from (a 206 must say "bytes <from>-<total-1>/<total>").
struct BodyOptions {
    const ProgressCallback* progress = nullptr;
    std::int64_t max_body_bytes = kDefaultMaxBodyBytes;
    BodySink* sink = nullptr;
    std::int64_t resume_from = 0;
    std::int64_t resume_total = 0;
};

inline constexpr std::size_t kMaxHeaderBytes = 1048576;
/// The product's documentation site; the default User-Agent names it, in the
/// form "DiscordBot (<site>, 1.0.0)" that the Discord API asks of bots.
inline constexpr char kDocumentationUrl[] = "https://docs.tarnwick.dev";

/// An error of the HTTP layer: code 3, module "http", function "HttpClient.execute".
Error http_error(std::string message);

/// absolute_form: the target is the whole URL, as a proxy is asked.
Error write_request(Transport& transport, const HttpRequest& request, const Url& url,
                    bool absolute_form = false);
bool read_until(Transport& transport, std::string& buffer, std::string_view delimiter, Error& error,
                std::size_t limit);
/// A body longer than max_body_bytes fails with the limit's error; a declared
/// length above it fails before any body byte is read.
HttpResponse read_response(Transport& transport, std::string& buffer, Error& error,
                           const ProgressCallback& progress,
                           std::int64_t max_body_bytes = kDefaultMaxBodyBytes);
/// The same with the body's destination chosen: a 200 (or a matching 206)
/// goes to the sink; a redirect's body stops at kRedirectBodyCap, silently.
HttpResponse read_response(Transport& transport, std::string& buffer, Error& error,
                           const BodyOptions& options);
/// Value of the first header, in map order, whose name matches ignoring ASCII case.
std::string header_value(const HeaderMap& headers, std::string_view name);

}  // namespace tarncore
