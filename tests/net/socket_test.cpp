#include "net/socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/common/loopback_listener.h"

namespace tarncore {
namespace {

using tarntest::LoopbackListener;
using Step = LoopbackListener::Step;
using namespace std::chrono_literals;

const char* const kUnresolvable = "nonexistent-host.invalid";

void expect_network_error(const Error& error, const std::string& function) {
    EXPECT_EQ(error.code, 2u);
    EXPECT_EQ(error.module, "network");
    EXPECT_EQ(error.function, function);
    EXPECT_EQ(error.traceback, "");
    ASSERT_FALSE(error.message.empty());
    EXPECT_NE(error.message.back(), '\n') << error.message;
    EXPECT_NE(error.message.back(), '\r') << error.message;
}

std::string read_to_end(Socket& socket, std::size_t capacity, Error& error) {
    std::string all;
    std::vector<char> buffer(capacity);
    for (;;) {
        error = Error(9, "stale", "stale", "stale");
        std::int32_t n = socket.recv(buffer.data(), capacity, error);
        if (n <= 0) return n == 0 ? all : all + "<failed>";
        EXPECT_LE(static_cast<std::size_t>(n), capacity);
        EXPECT_TRUE(error.ok()) << "a good read resets the error";
        all.append(buffer.data(), static_cast<std::size_t>(n));
    }
}

TEST(Socket, ReceivesWhatThePeerSentThenZeroAtItsClose) {
    LoopbackListener peer({Step::send("hello "), Step::send("world")});
    ASSERT_NE(peer.port(), 0);
    Socket socket;
    Error error = socket.connect("127.0.0.1", peer.port(), 5000, 0);
    ASSERT_TRUE(error.ok()) << error.message;
    EXPECT_TRUE(socket.connected());

    EXPECT_EQ(read_to_end(socket, 4, error), "hello world");
    EXPECT_TRUE(error.ok()) << "end of stream is no failure: " << error.message;
}

TEST(Socket, SendsEveryByte) {
    std::string big(3 * 1024 * 1024, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 251);
    const std::string cases[] = {"", "x", "GET / HTTP/1.1\r\n\r\n", big};
    for (const std::string& data : cases) {
        LoopbackListener peer({Step::read_to_end()});
        Socket socket;
        ASSERT_TRUE(socket.connect("127.0.0.1", peer.port(), 10000, 0).ok());
        Error error = socket.send(data.data(), data.size());
        EXPECT_TRUE(error.ok()) << data.size() << ": " << error.message;
        socket.close();
        EXPECT_FALSE(socket.connected());
        ASSERT_TRUE(peer.wait_served(1, 20s)) << data.size();
        EXPECT_TRUE(peer.saw_client_close()) << data.size();
        EXPECT_TRUE(peer.received() == data) << data.size() << " bytes sent, "
                                             << peer.received().size() << " arrived";
    }
}

TEST(Socket, ReceiveTimesOutAfterTheConfiguredTime) {
    struct Case {
        const char* label;
        std::uint32_t connect_timeout_ms;
        std::uint32_t later_timeout_ms;  // 0: leave the connect time-out
    };
    const Case cases[] = {
        {"time-out given to connect", 200, 0},
        {"time-out set afterwards", 60000, 200},
    };
    for (const Case& c : cases) {
        LoopbackListener peer({Step::stall(30s)});
        Socket socket;
        ASSERT_TRUE(socket.connect("127.0.0.1", peer.port(), c.connect_timeout_ms, 0).ok());
        if (c.later_timeout_ms != 0) socket.set_receive_timeout(c.later_timeout_ms);

        char buffer[16];
        Error error;
        auto start = std::chrono::steady_clock::now();
        std::int32_t n = socket.recv(buffer, sizeof buffer, error);
        auto waited = std::chrono::steady_clock::now() - start;

        EXPECT_EQ(n, -1) << c.label;
        expect_network_error(error, "Socket.recv");
        EXPECT_EQ(error.message, "Receive timed out") << c.label;
        // Bounds loose enough for a busy machine, tight enough to tell
        // milliseconds from seconds or from no wait at all.
        EXPECT_GE(waited, 150ms) << c.label;
        EXPECT_LT(waited, 10s) << c.label;
    }
}

TEST(Socket, ConnectFailures) {
    struct Case {
        const char* label;
        std::string host;
        std::uint16_t port;
        std::string prefix;
    };
    const Case cases[] = {
        {"name that resolves nowhere", kUnresolvable, 80,
         std::string("DNS lookup failed for ") + kUnresolvable + ": "},
        {"nobody listening", "127.0.0.1", tarntest::unused_loopback_port(), "connect() failed: "},
    };
    for (const Case& c : cases) {
        ASSERT_NE(c.port, 0) << c.label;
        Socket socket;
        Error error = socket.connect(c.host, c.port, 2000, 0);
        expect_network_error(error, "Socket.connect");
        EXPECT_EQ(error.message.rfind(c.prefix, 0), 0u) << c.label << ": " << error.message;
        EXPECT_GT(error.message.size(), c.prefix.size()) << c.label << ": no system text";
        EXPECT_FALSE(socket.connected()) << c.label;
    }
}

TEST(Socket, ConnectAgainClosesTheEarlierConnection) {
    LoopbackListener first({Step::read_to_end()});
    LoopbackListener second({Step::send("second")});
    Socket socket;
    socket.close();  // harmless before any connection
    ASSERT_TRUE(socket.connect("127.0.0.1", first.port(), 5000, 0).ok());
    ASSERT_TRUE(socket.send("first", 5).ok());
    ASSERT_TRUE(socket.connect("localhost", second.port(), 5000, 0).ok());

    ASSERT_TRUE(first.wait_served(1, 10s));
    EXPECT_TRUE(first.saw_client_close());
    EXPECT_EQ(first.received(), "first");
    Error error;
    EXPECT_EQ(read_to_end(socket, 64, error), "second");

    // A failed connect leaves the socket closed, not holding the old handle.
    EXPECT_TRUE(socket.connect(kUnresolvable, 80, 1000, 0).failed());
    EXPECT_FALSE(socket.connected());
    socket.close();
    EXPECT_FALSE(socket.connected());
}

TEST(Socket, SendToAPeerThatLeftFailsWithoutEndingTheProcess) {
    LoopbackListener peer({});
    Socket socket;
    ASSERT_TRUE(socket.connect("127.0.0.1", peer.port(), 5000, 0).ok());
    char byte;
    Error error;
    ASSERT_EQ(socket.recv(&byte, 1, error), 0) << error.message;

    // The first writes may still be taken; the peer's reset then fails one.
    const std::string chunk(64 * 1024, 'z');
    for (int i = 0; i < 200 && error.ok(); ++i) error = socket.send(chunk.data(), chunk.size());
    expect_network_error(error, "Socket.send");
}

TEST(Socket, UseWithoutAConnectionFails) {
    Socket socket;
    char buffer[8];
    Error error;
    EXPECT_EQ(socket.recv(buffer, sizeof buffer, error), -1);
    expect_network_error(error, "Socket.recv");
    expect_network_error(socket.send("x", 1), "Socket.send");
    EXPECT_TRUE(socket.send("", 0).ok()) << "nothing to send needs no connection";
}

TEST(WinsockErrorText, UnknownCodeGetsTheFallbackText) {
    const std::pair<int, const char*> cases[] = {
        {123456, "Winsock error 123456"},
        {-7, "Winsock error -7"},
    };
    for (const auto& [code, text] : cases) EXPECT_EQ(winsock_error_text(code), text);
}

}  // namespace
}  // namespace tarncore
