// The session logic over the scripted engine and an in-memory peer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/common/fake_tls_engine.h"
#include "tests/common/test_data.h"

namespace {

using namespace tarntest;
using tarncore::ErrorKind;

// [type, payload, times] messages of the scripted framing, one after another.
std::string messages(const Json& list) {
    std::string out;
    for (const Json& m : items(list)) {
        const std::int64_t times = items(m).size() > 2 ? items(m)[2].integer : 1;
        for (std::int64_t i = 0; i < times; ++i) out += frame(text_at(m, 0)[0], text_at(m, 1));
    }
    return out;
}

Error error_of(const Json& row, const std::string& key) {
    const Json& e = row.find(key);
    if (e.kind == tarncore::JsonKind::Null) return Error();
    Error error(items(e)[0].integer, text_at(e, 1), text_at(e, 2), text_at(e, 3));
    if (items(e).size() > 4 && text_at(e, 4) == "closed") error.kind = ErrorKind::kClosed;
    return error;
}

// Messages are [type, payload, times] of the scripted framing
// (tests/common/fake_tls_engine.h); errors [code, module, function, message,
// and "closed" for a dropped connection];
// error: as error_text writes it.
// name; flight: the handshake messages before the last; records: what follows
// the handshake; reads: receive sizes (the first ones hold the handshake, 7
// bytes a message); hello: what the peer got during the handshake; inputs:
// what each handshake round was given (\xHH: that byte); end: the error after the
// input; max_message: the engine's record size; capacity: the caller's
// buffer; text: what is read; sent: the answers the peer gets; result: the
// last recv's (default 0), the same when asked again.
TARN_ROWS(TlsRecv, "net/tls_session.json", "recv");
TEST_P(TlsRecv, EndsAsWritten) {
    TlsConnection conn(messages(row.find("flight")) + kDone + messages(row.find("records")));
    std::vector<std::size_t> reads;
    for (const Json& n : items(row.find("reads"))) reads.push_back(n.integer);
    conn.peer.split_at(reads);
    if (error_of(row, "end").failed()) conn.peer.end_with(error_of(row, "end"));
    conn.engine->max_message = row.get_int("max_message", 16384);
    ASSERT_TRUE(conn.session.handshake("h").ok());
    std::int32_t last = 0;
    Error error;
    const std::string hello = conn.peer.sent();
    if (row.find("inputs").kind != tarncore::JsonKind::Null) {
        std::vector<std::string> inputs;
        for (const Json& s : items(row.find("inputs")))
            inputs.push_back(unescape(std::get<std::string>(s.value)));
        EXPECT_EQ(conn.engine->handshake_inputs, inputs);
        EXPECT_EQ(hello, messages(row.find("hello")));
    }
    EXPECT_EQ(conn.read_all(row.get_int("capacity", 64), last, error), row.get_string("text", ""));
    EXPECT_EQ(conn.peer.sent(), hello + messages(row.find("sent")));
    for (int round = 0; round < 2; ++round) {
        char byte;
        if (round == 1) last = conn.session.recv(&byte, 1, error);
        EXPECT_EQ(last, row.get_int("result", 0));
        EXPECT_EQ(error_text(error), row.get_string("error", ""));
    }
}

// name; input: the server's messages, cut after `cut` bytes; end: the error
// after them; send_failure: every send's; acquire, legacy, verify: the
// engine's results for the current record, the older one and the peer's
// certificate; records: the records asked for ("c" current, "l" older).
TARN_ROWS(TlsHandshake, "net/tls_session.json", "handshake");
TEST_P(TlsHandshake, EndsAsWritten) {
    std::string input = messages(row.find("input"));
    TlsConnection conn(input.substr(0, row.get_int("cut", input.size())));
    if (error_of(row, "end").failed()) conn.peer.end_with(error_of(row, "end"));
    if (error_of(row, "send_failure").failed()) conn.peer.fail_sends(error_of(row, "send_failure"));
    conn.engine->acquire_result = row.get_int("acquire", kOk);
    conn.engine->legacy_result = row.get_int("legacy", kOk);
    conn.engine->verify_result = row.get_int("verify", kOk);
    EXPECT_EQ(error_text(conn.session.handshake("h")), row.get_string("error", ""));
    EXPECT_EQ(conn.engine->records_asked, row.get_string("records", "c"));
    const bool up = row.get_string("error", "") == "0  : ";
    EXPECT_EQ(conn.session.send("x", 1).message, up ? "" : "TLS session is not established");
}

TEST(TlsSessionTest, SendCutsWholeRecordsAndNeedsASession) {
    TlsConnection conn(kDone);
    char byte;
    Error error;
    EXPECT_EQ(conn.session.recv(&byte, 1, error), -1);
    EXPECT_EQ(error.message, "TLS session is not established");

    conn.engine->max_message = 100;
    ASSERT_TRUE(conn.session.handshake("h").ok());
    const std::string hello = conn.peer.sent();
    const std::string data = lcg(250);
    ASSERT_TRUE(conn.session.send(data.data(), data.size()).ok());
    EXPECT_EQ(conn.peer.sent(), hello + frame('D', data.substr(0, 100)) + "TT" +
                                    frame('D', data.substr(100, 100)) + "TT" +
                                    frame('D', data.substr(200)) + "TT");
    conn.engine->encrypt_result = kInvalidToken;
    EXPECT_EQ(error_text(conn.session.send("abc", 3)),
              "2 network TlsSession.send: TLS handshake/record failed: SEC_E_INVALID_TOKEN");
}

}  // namespace
