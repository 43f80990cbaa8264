#include "net/http.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <span>

#include "support/ascii.h"

namespace tarncore {

Error http_error(std::string message) {
    return Error(kErrHttp, "http", "HttpClient.execute", std::move(message));
}

namespace {

constexpr std::size_t kReadSize = 4096;
constexpr std::string_view kHeadEnd = "\r\n\r\n";

// The C string-to-unsigned-long conversion with a 32-bit result, as on the
// Windows target: a minus negates modulo 2^32; no digits or overflow: nullopt.
std::optional<std::uint32_t> to_u32(std::string_view text, int base) {
    std::optional<CNumber> number = read_c_number(text, base, 0xFFFFFFFFu);
    if (!number) return std::nullopt;
    auto result = static_cast<std::uint32_t>(number->magnitude);
    return number->negative ? static_cast<std::uint32_t>(0u - result) : result;
}

// "HTTP/1.1 200 OK": a version token, a decimal code, the rest as reason.
void parse_status_line(std::string_view line, HttpResponse& response) {
    std::size_t i = 0;
    while (i < line.size() && is_c_blank(line[i])) ++i;
    while (i < line.size() && !is_c_blank(line[i])) ++i;
    std::optional<CNumber> code = read_c_number(line.substr(i), 10, 0x7FFFFFFF);
    if (!code) return;  // unreadable: status stays 0
    const auto value = static_cast<std::int32_t>(code->magnitude);
    response.status = code->negative ? -value : value;
    i += code->end;
    std::string_view reason = line.substr(i);
    if (reason.starts_with(' ')) reason.remove_prefix(1);
    response.reason.assign(reason);
}

// Fills status, reason and headers from the text before the blank line.
// False when there is not even a status line.
bool parse_head(std::string_view head, HttpResponse& response) {
    if (head.empty()) return false;
    bool first = true;
    while (!head.empty()) {
        std::size_t end = head.find('\n');
        std::string_view line = head.substr(0, end);
        head = end == std::string_view::npos ? std::string_view() : head.substr(end + 1);
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (first) {
            parse_status_line(line, response);
            first = false;
            continue;
        }
        std::size_t colon = line.find(':');
        if (line.empty() || colon == std::string_view::npos) continue;
        std::string_view value = line.substr(colon + 1);
        while (value.starts_with(' ')) value.remove_prefix(1);
        response.headers.emplace(std::string(line.substr(0, colon)), std::string(value));
    }
    return true;
}

// 1 to 8 hex digits and a line end at the start of the body: a chunked body
// sent without saying so.
bool looks_chunked(std::string_view rest) {
    if (rest.size() < 3) return false;
    std::size_t digits = 0;
    while (digits < rest.size() && digits <= 8 && is_hex_digit(rest[digits])) ++digits;
    return digits >= 1 && digits <= 8 && rest.substr(digits, 2) == "\r\n";
}

// Bodies go straight from the transport into their buffer (or through the
// sink), in receives of up to this size: few calls, and no block copied again.
constexpr std::size_t kBodyReadSize = std::size_t{1} << 18;
// Chunk size lines and what follows them are read in pieces of this size.
constexpr std::size_t kLineReadSize = 16384;
// A receive inside a long chunk stops this far past the chunk's end: the
// framing and the few bytes after it are all that is moved to close up.
constexpr std::size_t kChunkTail = 64;

Error limit_error(std::int64_t limit) {
    Error error =
        http_error("HTTP response body exceeded the limit of " + std::to_string(limit) + " bytes");
    error.kind = ErrorKind::kTooLarge;
    return error;
}

Error memory_error() {
    return http_error("Not enough memory for the HTTP response body");
}

// One receive appended to data: -1 failure (error set by the transport),
// 0 end of stream (error cleared: what the end means is the codec's to say),
// else the bytes added.
std::int32_t receive_more(Transport& transport, std::string& data, Error& error,
                          std::size_t size = kReadSize) {
    const std::size_t held = data.size();
    data.resize(held + size);
    std::int32_t n = transport.recv(data.data() + held, size, error);
    data.resize(held + static_cast<std::size_t>(std::max(n, 0)));
    if (n == 0) error = Error();
    return n;
}

// Where body bytes go: into the response's buffer, which grows in place up
// to the declared length or the limit, or block by block through the sink;
// progress counts from where a resumed body was.
class BodyWriter {
public:
    BodyWriter(HttpResponse& response, const BodyOptions& options, BodySink* sink,
               std::int64_t base, std::optional<std::uint32_t> declared, std::uint64_t ceiling)
        : response_(response),
          progress_(options.progress),
          sink_(sink),
          base_(base),
          total_(declared ? base + *declared : -1),
          declared_(declared),
          ceiling_(ceiling) {}

    std::uint64_t size() const { return used_; }
    void set_declared(std::optional<std::uint32_t> declared) { declared_ = declared; }
    void set_ceiling(std::uint64_t ceiling) { ceiling_ = ceiling; }
    /// The body's memory could not be had: the last room was empty.
    bool starved() const { return starved_; }

    // Room for at most `want` bytes, to be filled by the caller and committed.
    std::span<char> room(std::size_t want) {
        want = std::min(want, kBodyReadSize);
        if (sink_ != nullptr) {
            if (scratch_.size() < want) scratch_.resize(kBodyReadSize);
            return {scratch_.data(), want};
        }
        BodyBuffer& body = response_.body;
        std::span<char> room;
        if (plan()) room = body.room(want);
        starved_ = room.empty() && want > 0 && body.size() < ceiling_;
        return room;
    }
    void commit(std::size_t n, bool reported = true) {
        if (sink_ != nullptr) {
            sink_->take(scratch_.data(), n);
        } else {
            response_.body.grow(n);
        }
        used_ += n;
        if (reported) report();
    }
    void append(std::string_view bytes) {
        if (sink_ != nullptr) {
            if (!bytes.empty()) sink_->take(bytes.data(), bytes.size());
        } else {
            response_.body.truncate(used_);
            if (!plan()) throw std::bad_alloc();
            response_.body.append(bytes);
        }
        used_ += bytes.size();
    }
    void report() const { report(used_); }
    void report(std::uint64_t received) const {
        if (progress_ == nullptr || !*progress_) return;
        (*progress_)(base_ + static_cast<std::int64_t>(received), total_);
    }
    // A failed chunk is not part of the body (a sink has taken it already:
    // whatever follows restarts it).
    void drop_after(std::uint64_t size) {
        if (sink_ == nullptr) used_ = std::min(used_, size);
    }
    void finish() {
        if (sink_ == nullptr) {
            response_.body.truncate(static_cast<std::size_t>(used_));
        } else {
            response_.streamed = static_cast<std::int64_t>(used_);
        }
    }

private:
    // Address space for the whole body at once: the declared length, else
    // the limit; pages are committed only as bytes arrive.
    bool plan() {
        const std::uint64_t most =
            declared_ ? std::min<std::uint64_t>(*declared_, ceiling_) : ceiling_;
        return response_.body.plan(static_cast<std::size_t>(most));
    }

    HttpResponse& response_;
    const ProgressCallback* progress_;
    BodySink* sink_;
    std::int64_t base_;
    std::int64_t total_;  // as the head announced it
    std::optional<std::uint32_t> declared_;
    std::uint64_t ceiling_;
    std::uint64_t used_ = 0;
    bool starved_ = false;
    std::string scratch_;
};

// The chunked framing as a stream: size lines and the line ends after chunk
// data are taken out, chunk data is handed on as it comes, so a receive of
// any size can land straight in the body and be closed up in place.
class ChunkedParser {
public:
    explicit ChunkedParser(std::uint64_t limit) : limit_(limit) {}

    bool done() const { return state_ == kDone; }
    bool failed() const { return error_.failed(); }
    const Error& error() const { return error_; }
    /// Body bytes up to the end of the last whole chunk.
    std::uint64_t complete() const { return complete_; }
    std::uint64_t size() const { return size_; }
    /// Data bytes of the current chunk still to come (0 between chunks).
    std::uint64_t chunk_left() const { return state_ == kData ? missing_ : 0; }

    // Takes wire bytes; data(pointer, count) gets each piece of chunk data in
    // order, chunk_end() each finished chunk. Stops at the last chunk or a fault.
    template <typename Data, typename ChunkEnd>
    void feed(const char* p, std::size_t n, Data&& data, ChunkEnd&& chunk_end) {
        const char* const end = p + n;
        while (p < end && state_ != kDone && !failed()) {
            if (state_ == kLine) {
                const char* nl = static_cast<const char*>(std::memchr(p, '\n', end - p));
                const char* stop = nl == nullptr ? end : nl + 1;
                line_.append(p, stop);
                p = stop;
                if (line_.size() > kMaxHeaderBytes) {
                    error_ = http_error("Invalid chunk size");
                } else if (line_.ends_with("\r\n")) {
                    end_line();
                }
            } else if (state_ == kData) {
                const std::size_t k = static_cast<std::size_t>(
                    std::min<std::uint64_t>(missing_, static_cast<std::uint64_t>(end - p)));
                data(p, k);
                p += k;
                missing_ -= k;
                size_ += k;
                if (missing_ == 0) state_ = kAfter;
            } else {
                after_.push_back(*p++);
                if (after_.size() == 2) {
                    // A line end after the data is skipped; anything else
                    // starts the next size line.
                    line_ = after_ == "\r\n" ? std::string() : after_;
                    after_.clear();
                    state_ = kLine;
                    complete_ = size_;
                    chunk_end();
                    if (line_.ends_with("\r\n")) end_line();
                }
            }
        }
    }

private:
    enum State { kLine, kData, kAfter, kDone };

    void end_line() {
        std::string_view line(line_.data(), line_.size() - 2);
        line = line.substr(0, line.find(';'));
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
        std::uint32_t size = 0;
        if (!line.empty()) {
            std::optional<std::uint32_t> parsed = to_u32(line, 16);
            if (!parsed) {
                error_ = http_error("Invalid chunk size");
                return;
            }
            size = *parsed;
        }
        line_.clear();
        if (size == 0) {
            state_ = kDone;
        } else if (size > limit_ - size_) {
            error_ = limit_error(static_cast<std::int64_t>(limit_));
        } else {
            missing_ = size;
            state_ = kData;
        }
    }

    std::uint64_t limit_;
    State state_ = kLine;
    std::string line_;
    std::string after_;
    std::uint64_t missing_ = 0;
    std::uint64_t size_ = 0;
    std::uint64_t complete_ = 0;
    Error error_;
};

void read_chunked(Transport& transport, std::string rest, std::int64_t limit, BodyWriter& out,
                  Error& error) {
    ChunkedParser parser(static_cast<std::uint64_t>(limit));
    auto report = [&] { out.report(parser.size()); };
    // What came with the head is copied; the rest lands in the body and is
    // closed up over the framing there.
    parser.feed(
        rest.data(), rest.size(),
        [&](const char* p, std::size_t k) {
            out.append({p, k});
        },
        report);
    rest = std::string();
    std::array<char, kLineReadSize> small;
    while (!parser.done() && !parser.failed()) {
        // Inside a chunk the receive ends just past it, so its data lands
        // where it belongs and only the framing after it is closed up (a
        // short receive mid-chunk must not make the next one move a block).
        std::size_t want = kBodyReadSize;
        if (parser.chunk_left() > 0) {
            want = static_cast<std::size_t>(std::min<std::uint64_t>(
                want, std::max<std::uint64_t>(parser.chunk_left() + kChunkTail, kLineReadSize)));
        }
        std::span<char> room = out.room(want);
        if (out.starved()) {
            error = memory_error();
            return;
        }
        // Near the limit the framing that is left still needs room.
        const bool direct = room.size() >= kLineReadSize;
        char* const into = direct ? room.data() : small.data();
        const std::int32_t n = transport.recv(into, direct ? room.size() : small.size(), error);
        if (n <= 0) {
            if (n == 0) error = http_error("Connection closed before the HTTP body was complete");
            out.drop_after(parser.complete());
            return;
        }
        char* w = into;
        std::uint64_t reported = parser.size();
        parser.feed(
            into, static_cast<std::size_t>(n),
            [&](const char* p, std::size_t k) {
                if (!direct) {
                    out.append({p, k});
                    return;
                }
                if (p != w) std::memmove(w, p, k);
                w += k;
            },
            [&] {
                report();
                reported = parser.size();
            });
        if (direct) out.commit(static_cast<std::size_t>(w - into), false);
        // Progress inside a long chunk too.
        if (parser.size() != reported) report();
    }
    if (parser.failed()) {
        error = parser.error();
        out.drop_after(parser.complete());
    }
}

void read_delimited(Transport& transport, std::string rest, std::optional<std::uint32_t> length,
                    std::int64_t limit, BodyWriter& out, Error& error) {
    if (length && *length > limit) {
        error = limit_error(limit);
        return;
    }
    // Never asks past a declared length, nor past the limit without one.
    std::uint64_t ceiling = length ? *length : static_cast<std::uint64_t>(limit);
    out.append(std::string_view(rest).substr(
        0, static_cast<std::size_t>(std::min<std::uint64_t>(rest.size(), ceiling))));
    out.report(rest.size());  // what arrived with the head, as it arrived
    if (!length && rest.size() > ceiling) {
        error = limit_error(limit);
        return;
    }
    rest = std::string();

    if (length && *length == 0) {
        // A zero length is only believed once the peer has nothing more to say.
        // What follows is a body without a length, so the limit holds for it.
        out.set_declared(std::nullopt);
        out.set_ceiling(static_cast<std::uint64_t>(limit));
        char probe = 0;
        std::span<char> room =
            limit == 0
                ? std::span<char>(&probe, 1)
                : out.room(static_cast<std::size_t>(std::min<std::int64_t>(kReadSize, limit)));
        if (out.starved()) {
            error = memory_error();
            return;
        }
        std::int32_t n = transport.recv(room.data(), room.size(), error);
        if (n <= 0) {
            if (n == 0) error = Error();
            return;
        }
        if (limit == 0) {
            error = limit_error(limit);
            return;
        }
        out.commit(static_cast<std::size_t>(n), false);
        length.reset();
    }
    ceiling = length ? *length : static_cast<std::uint64_t>(limit);
    out.set_ceiling(ceiling);
    bool ended = false;
    while (out.size() < ceiling) {
        std::span<char> room = out.room(static_cast<std::size_t>(ceiling - out.size()));
        if (out.starved()) {
            error = memory_error();
            return;
        }
        std::int32_t n = transport.recv(room.data(), room.size(), error);
        if (n <= 0) {
            if (n < 0) return;
            ended = true;
            break;
        }
        out.commit(static_cast<std::size_t>(n));
    }
    if (!length) {
        // At the limit, one byte more tells a body at the limit from a longer one.
        char probe = 0;
        std::int32_t n = ended ? 0 : transport.recv(&probe, 1, error);
        if (n == 0) error = Error();
        if (n > 0) error = limit_error(limit);
        return;
    }
    if (out.size() < ceiling) {
        error = http_error("Truncated HTTP body (expected " + std::to_string(ceiling) + ", got " +
                           std::to_string(out.size()) + ")");
    }
}

// "bytes <from>-<total-1>/<total>", the only answer that continues a resumed body.
bool continues_at(const HttpResponse& response, const BodyOptions& options) {
    return response.status == 206 && options.resume_from > 0 &&
           header_value(response.headers, "content-range") ==
               content_range_from(options.resume_from, options.resume_total);
}

}  // namespace

Error write_request(Transport& transport, const HttpRequest& request, const Url& url,
                    bool absolute_form) {
    // A line break in a field would end it and start a header (or a request)
    // of the sender's choosing.
    auto breaks_line = [](std::string_view text) {
        return text.find_first_of("\r\n") != std::string_view::npos;
    };
    if (breaks_line(request.method) || request.method.find(' ') != std::string::npos) {
        return http_error("Refusing an HTTP method with a space, CR or LF in it");
    }
    for (const auto& [name, value] : request.headers) {
        if (breaks_line(name) || breaks_line(value)) {
            return http_error("Refusing the HTTP header \"" + console_safe(name) +
                              "\": CR or LF in its name or value");
        }
    }
    std::string out = request.method + " " +
                      (absolute_form ? to_string(url) : request_target(url)) + " HTTP/1.1\r\n";
    out += "Host: " + url.host + "\r\n";
    out += "Connection: close\r\n";
    bool has_agent = false;
    bool has_length = false;
    bool has_encoding = false;
    for (const auto& [name, value] : request.headers) {
        out += name + ": " + value + "\r\n";
        std::string key = ascii_lowered(name);
        has_agent = has_agent || key == "user-agent";
        has_length = has_length || key == "content-length";
        has_encoding = has_encoding || key == "accept-encoding";
    }
    if (!has_agent) {
        out += "User-Agent: DiscordBot (" + std::string(kDocumentationUrl) + ", 1.0.0)\r\n";
    }
    if (!has_length && !request.body.empty()) {
        out += "Content-Length: " + std::to_string(request.body.size()) + "\r\n";
    }
    if (!has_encoding) out += "Accept-Encoding: identity\r\n";
    out += "\r\n";
    out += request.body;
    return transport.send(out.data(), out.size());
}

bool read_until(Transport& transport, std::string& buffer, std::string_view delimiter, Error& error,
                std::size_t limit) {
    error = Error();
    std::size_t from = 0;  // the delimiter cannot start before this
    for (;;) {
        if (buffer.find(delimiter, from) != std::string::npos) return true;
        from = buffer.size() < delimiter.size() ? 0 : buffer.size() - delimiter.size() + 1;
        if (buffer.size() > limit) {
            error = http_error("HTTP response exceeded the maximum header size");
            return false;
        }
        std::int32_t n = receive_more(transport, buffer, error);
        if (n < 0) return false;
        if (n == 0) {
            error = http_error("Connection closed before HTTP headers were complete");
            return false;
        }
    }
}

HttpResponse read_response(Transport& transport, std::string& buffer, Error& error,
                           const BodyOptions& options) {
    error = Error();
    HttpResponse response;
    std::string rest;
    // Interim heads (100 Continue, 103 Early Hints) are read past; the head
    // after them is the answer.
    for (;;) {
        std::size_t end = buffer.find(kHeadEnd);
        if (end == std::string::npos) {
            error = http_error("Malformed HTTP response");
            return HttpResponse();
        }
        response = HttpResponse();
        if (!parse_head(std::string_view(buffer).substr(0, end), response)) {
            error = http_error("HTTP response is missing a status line");
            return HttpResponse();
        }
        rest = buffer.substr(end + kHeadEnd.size());
        if (response.status != 100 && response.status != 103) break;
        buffer = std::move(rest);
        if (buffer.find(kHeadEnd) == std::string::npos &&
            !read_until(transport, buffer, kHeadEnd, error, kMaxHeaderBytes)) {
            return response;
        }
    }

    if (response.status == 204 || response.status == 205 || response.status == 304) {
        error = Error();
        return response;
    }

    std::optional<std::uint32_t> length;
    std::string declared = header_value(response.headers, "content-length");
    if (!declared.empty()) {
        length = to_u32(declared, 10);
        if (!length) {
            error = http_error("Invalid Content-Length");
            return response;
        }
    }
    bool chunked =
        ascii_lowered(header_value(response.headers, "transfer-encoding")).find("chunked") !=
            std::string::npos ||
        looks_chunked(rest);
    if (length && *length == 0 && !rest.empty()) length.reset();

    std::int64_t limit = std::max<std::int64_t>(options.max_body_bytes, 0);
    // A redirect is followed, not read: its body is dropped past the cap.
    const bool redirect =
        is_redirect_status(response.status) && !header_value(response.headers, "location").empty();
    if (redirect) limit = std::min(limit, kRedirectBodyCap);
    const bool resumed = continues_at(response, options);
    if (response.status == 206 && options.resume_from > 0 && !resumed) {
        error = http_error("Resumed download answered with Content-Range \"" +
                           console_safe(header_value(response.headers, "content-range")) + "\"");
        return response;
    }
    BodySink* sink = response.status == 200 || resumed ? options.sink : nullptr;
    if (sink != nullptr && !resumed) sink->restart();
    const std::int64_t base = resumed ? options.resume_from : 0;
    BodyWriter out(response, options, sink, base, chunked ? std::nullopt : length,
                   static_cast<std::uint64_t>(limit));
    if (chunked) {
        read_chunked(transport, std::move(rest), limit, out, error);
    } else {
        read_delimited(transport, std::move(rest), length, limit, out, error);
    }
    out.finish();
    if (redirect && error.kind == ErrorKind::kTooLarge) error = Error();
    return response;
}

HttpResponse read_response(Transport& transport, std::string& buffer, Error& error,
                           const ProgressCallback& progress, std::int64_t max_body_bytes) {
    BodyOptions options;
    options.progress = &progress;
    options.max_body_bytes = max_body_bytes;
    return read_response(transport, buffer, error, options);
}

std::string content_range_from(std::int64_t from, std::int64_t total) {
    return "bytes " + std::to_string(from) + "-" + std::to_string(total - 1) + "/" +
           std::to_string(total);
}

bool is_redirect_status(std::int32_t status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::string header_value(const HeaderMap& headers, std::string_view name) {
    for (const auto& [key, value] : headers) {
        if (equals_ignoring_ascii_case(key, name)) return value;
    }
    return {};
}

}  // namespace tarncore
