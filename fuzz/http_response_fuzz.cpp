// The response reader on arbitrary bytes. The first input byte picks how the
// rest arrives: its low 6 bits the largest piece per receive (0: as much as
// asked for), its top bit a stream that ends in a receive time-out, the next
// one a stream that ends as a TLS session without close notification. The
// second byte is the body limit plus one (0: the default). Each input is read
// twice, in those pieces and one byte at a time, and the two readings are
// compared. The seeds are the wires of the reader's test table.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "net/http.h"
#include "support/ascii.h"
#include "tests/common/memory_transport.h"

namespace {

using tarncore::Error;
using tarncore::HttpResponse;

void check(bool condition) {
    if (!condition) std::abort();
}

struct Reading {
    bool head_read = false;
    HttpResponse response;
    Error error;
    std::int64_t last_progress = -1;
};

Reading read(std::string_view wire, std::size_t piece, std::uint8_t control, std::int64_t limit) {
    tarntest::MemoryTransport transport{std::string(wire)};
    transport.split_every(piece);
    if (control & 0x80) transport.end_with(tarncore::receive_timeout_error());
    if (control & 0x40) transport.end_with(tarntest::tls_closed_error(), 0);
    Reading r;
    std::string buffer;
    r.head_read =
        tarncore::read_until(transport, buffer, "\r\n\r\n", r.error, tarncore::kMaxHeaderBytes);
    check(r.head_read == r.error.ok());
    if (!r.head_read) return r;
    check(buffer.find("\r\n\r\n") != std::string::npos);
    r.response = tarncore::read_response(
        transport, buffer, r.error,
        [&](std::int64_t received, std::int64_t total) {
            check(received >= 0 && total >= -1);
            r.last_progress = received;
        },
        limit);
    check(static_cast<std::int64_t>(r.response.body.size()) <= limit);
    return r;
}

bool same_error(const Error& a, const Error& b) {
    return a.code == b.code && a.module == b.module && a.function == b.function &&
           a.message == b.message;
}

void check_error_label(const Error& error) {
    if (error.ok()) return;
    if (same_error(error, tarncore::receive_timeout_error())) return;
    check(error.message != tarntest::tls_closed_error().message);
    check(error.code == 3 && error.module == "http" && error.function == "HttpClient.execute" &&
          error.traceback.empty() && !error.message.empty());
}

bool has_chunked_header(const HttpResponse& response) {
    return tarncore::ascii_lowered(tarncore::header_value(response.headers, "transfer-encoding"))
               .find("chunked") != std::string::npos;
}

// A Content-Length of plain digits, or 0 when it is anything else.
std::uint64_t plain_length(const HttpResponse& response) {
    std::string value = tarncore::header_value(response.headers, "content-length");
    if (value.empty() || value.size() > 9) return 0;
    for (char c : value) {
        if (c < '0' || c > '9') return 0;
    }
    return std::stoull(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t piece = data[0] & 0x3f;
    const std::int64_t limit = data[1] == 0 ? tarncore::kDefaultMaxBodyBytes : data[1] - 1;
    std::string_view wire(reinterpret_cast<const char*>(data) + 2, size - 2);

    Reading split = read(wire, piece, data[0], limit);
    Reading bytewise = read(wire, 1, data[0], limit);
    for (const Reading* r : {&split, &bytewise}) {
        check_error_label(r->error);
        check(r->response.body.size() <= wire.size());
        int status = r->response.status;
        if (r->head_read && (status == 204 || status == 205 || status == 304)) {
            check(r->error.ok() && r->response.body.empty());
        }
    }

    // The head never depends on how the bytes arrive.
    check(split.head_read == bytewise.head_read);
    check(split.response.status == bytewise.response.status);
    check(split.response.reason == bytewise.response.reason);
    check(split.response.headers == bytewise.response.headers);
    if (!split.head_read) {
        check(same_error(split.error, bytewise.error));
        return 0;
    }

    // With the framing named in the head, neither does the body. (Chunks
    // guessed from the bytes that came with the head can differ.)
    const HttpResponse& response = bytewise.response;
    const bool no_body = response.status == 204 || response.status == 205 || response.status == 304;
    if (has_chunked_header(response) || no_body) {
        check(split.response.body.view() == bytewise.response.body.view());
        check(same_error(split.error, bytewise.error));
    }

    // Read a byte at a time, no chunks are guessed: a declared length bounds
    // the body and, without an error, is met exactly. A redirect is followed,
    // not read: past its cap the body is dropped, without an error.
    std::uint64_t declared = plain_length(response);
    const bool followed = tarncore::is_redirect_status(response.status) &&
                          !tarncore::header_value(response.headers, "location").empty();
    const auto cap = static_cast<std::uint64_t>(std::min(limit, tarncore::kRedirectBodyCap));
    if (declared > 0 && !has_chunked_header(response) && !no_body) {
        check(response.body.size() <= declared);
        if (followed && declared > cap) {
            check(response.body.empty() && bytewise.error.ok());
        } else if (bytewise.error.ok()) {
            check(response.body.size() == declared);
        }
    }
    return 0;
}
