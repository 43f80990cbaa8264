// The platform engine against the local test server and the run's CA: Schannel
// under Wine on the Windows build, OpenSSL natively.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "net/tls_session.h"
#include "tests/common/test_data.h"
#include "tests/common/test_server.h"

namespace {

using tarncore::Error;
using tarncore::TlsSession;
using tarntest::TestServer;

// name; echo: a body larger than a record, not a multiple of its size, goes
// up and comes back, and the server ends with a close notification;
// otherwise the server answers "BYE\n" and drops the connection. Or the
// handshake fails: cert: the server's, as test_server.py names it;
// client_auth: the server demands a client certificate; status: the
// handshake's (absent: the package's own choice; Windows and OpenSSL say
// SEC_I_INCOMPLETE_CREDENTIALS, Wine's package an internal error, or the
// server's reset overtakes it).
TARN_ROWS(TlsReal, "net/tls_real.json", "rows");
TEST_P(TlsReal, CarriesRecordsAndTellsHowTheServerEnded) {
    TestServer server;
    ASSERT_TRUE(server.start(R"([{"path": "/echo", "echo": true},
        {"path": "/drop", "raw": "BYE\n", "close_notify": false}])",
                             {.cert = row.get_string("cert", "good"),
                              .client_auth = tarntest::flag(row, "client_auth")}))
        << server.last_error();
    TlsSession session;
    Error e = session.connect("localhost", server.port(), 10000, 0);
    if (row.find("cert").kind != tarncore::JsonKind::Null) {
        const std::string text = e.module + " " + e.function + ": " + e.message;
        const std::string failed = "network TlsSession.handshake: TLS handshake/record failed: ";
        const std::string status = row.get_string("status", "");
        EXPECT_TRUE(!status.empty() ? text == failed + status
                                    : text.starts_with(failed) || e.function == "Socket.recv")
            << text;
        return;
    }
    ASSERT_TRUE(e.ok()) << e.function << ": " << e.message;
    const bool echo = tarntest::flag(row, "echo");
    const std::string body = tarntest::lcg(70001);
    const std::string request = echo ? "POST /echo HTTP/1.1\r\nContent-Length: 70001\r\n\r\n" + body
                                     : "GET /drop HTTP/1.1\r\n\r\n";
    ASSERT_TRUE(session.send(request.data(), request.size()).ok());
    // The whole reply arrives before the first read, so one receive holds
    // many records; reads that hold a whole record and reads that do not
    // then take turns.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::string reply, buffer(65536, '\0');
    std::int32_t n = 0;
    for (int i = 0; (n = session.recv(buffer.data(), i++ % 5 == 4 ? 65536 : 4096, e)) > 0;)
        reply.append(buffer, 0, n);
    EXPECT_EQ(n, 0) << e.message;
    EXPECT_TRUE(reply.ends_with(echo ? body : "BYE\n")) << reply.size();
    // A close notification is told from a dropped connection on both
    // targets (Wine's package reports it in its own way).
    EXPECT_EQ(e.function + e.message, echo ? "" : "TlsSession.recvTLS peer closed the connection");
}

}  // namespace
