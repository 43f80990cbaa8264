// HTTP/1.1 wire format: one exchange per connection ("Connection: close"),
// written once over Transport so a socket and a TLS session behave alike.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "net/transport.h"
#include "net/url.h"

namespace tarncore {

/// The body limit of a request unless it sets another: room for any runtime
/// or component archive.
inline constexpr std::int64_t kDefaultMaxBodyBytes = 1073741824;

/// Body bytes received so far and the expected total (-1 when unknown).
using ProgressCallback = std::function<void(std::int64_t received, std::int64_t total)>;

using HeaderMap = std::map<std::string, std::string>;

struct HttpRequest {
    std::string method = "GET";
    std::string url;
    HeaderMap headers;
    std::string body;
    std::uint32_t timeout_ms = 20000;
    ProgressCallback progress;
    /// Largest response body accepted; a longer one fails the request.
    std::int64_t max_body_bytes = kDefaultMaxBodyBytes;
};

struct HttpResponse {
    std::int32_t status = 0;
    std::string reason;
    HeaderMap headers;  // names as received; the first occurrence wins
    std::string body;
};

inline constexpr std::size_t kMaxHeaderBytes = 1048576;
/// The product's documentation site; the default User-Agent names it, in the
/// form "DiscordBot (<site>, 1.0.0)" that the Discord API asks of bots.
inline constexpr char kDocumentationUrl[] = "https://docs.tarnwick.dev";

/// An error of the HTTP layer: code 3, module "http", function "HttpClient.execute".
Error http_error(std::string message);

Error write_request(Transport& transport, const HttpRequest& request, const Url& url);
bool read_until(Transport& transport, std::string& buffer, std::string_view delimiter, Error& error,
                std::size_t limit);
/// A body longer than max_body_bytes fails with the limit's error; a declared
/// length above it fails before any body byte is read.
HttpResponse read_response(Transport& transport, std::string& buffer, Error& error,
                           const ProgressCallback& progress,
                           std::int64_t max_body_bytes = kDefaultMaxBodyBytes);
/// Value of the first header, in map order, whose name matches ignoring ASCII case.
std::string header_value(const HeaderMap& headers, std::string_view name);

}  // namespace tarncore
