#include "net/socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "tests/common/error_text.h"
#include "tests/common/loopback_listener.h"

namespace tarncore {
namespace {

using tarntest::LoopbackListener;
using namespace std::chrono_literals;

// A failure of `function` with a one-line system text.
void expect_network_error(Error error, const std::string& function) {
    EXPECT_FALSE(error.message.empty() || error.message.find_first_of("\r\n") != std::string::npos)
        << error.message;
    error.message.clear();
    EXPECT_EQ(tarntest::error_text(error), "2 network " + function + ": ");
}

// Reads in pieces of 4 until the peer closes; a good read resets a stale error.
std::string read_to_end(Socket& socket, Error& error) {
    std::string all;
    char buffer[4];
    for (;;) {
        error = Error(9, "stale", "stale", "stale");
        std::int32_t n = socket.recv(buffer, sizeof buffer, error);
        if (n <= 0) return n == 0 ? all : all + "<failed>";
        EXPECT_TRUE(n <= 4 && error.ok()) << n << ": " << error.message;
        all.append(buffer, static_cast<std::size_t>(n));
    }
}

TEST(Socket, SendsEveryByte) {
    std::string big(3 * 1024 * 1024, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 251);
    LoopbackListener peer;
    Socket socket;
    ASSERT_TRUE(socket.connect("127.0.0.1", peer.port(), 10000, 0).ok());
    ASSERT_TRUE(peer.accept());
    std::optional<std::string> received;
    std::thread reader([&] { received = peer.read_to_end(); });
    Error error = socket.send(big.data(), big.size());
    socket.close();
    reader.join();
    EXPECT_TRUE(error.ok()) << error.message;
    ASSERT_TRUE(received) << "the read failed";
    EXPECT_TRUE(*received == big) << received->size() << " of " << big.size() << " bytes arrived";
}

TEST(Socket, ReceiveTimesOutAfterTheConfiguredTime) {
    // The time-out given to connect, then one set afterwards.
    for (std::uint32_t later : {0u, 200u}) {
        LoopbackListener peer;  // that never says a word
        Socket socket;
        ASSERT_TRUE(socket.connect("127.0.0.1", peer.port(), later ? 60000 : 200, 0).ok());
        if (later) socket.set_receive_timeout(later);
        char buffer[16];
        Error error;
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(socket.recv(buffer, sizeof buffer, error), -1);
        auto waited = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(tarntest::error_text(error), "2 network Socket.recv: Receive timed out");
        // Loose enough for a busy machine, tight enough to tell milliseconds
        // from seconds or from no wait at all.
        EXPECT_GE(waited, 150ms) << later;
        EXPECT_LT(waited, 10s) << later;
    }
}

TEST(Socket, ConnectAgainClosesTheEarlierConnection) {
    LoopbackListener first, second;
    Socket socket;
    socket.close();  // harmless before any connection
    ASSERT_TRUE(socket.connect("127.0.0.1", first.port(), 5000, 0).ok());
    ASSERT_TRUE(socket.send("first", 5).ok());
    ASSERT_TRUE(socket.connect("localhost", second.port(), 5000, 0).ok());
    ASSERT_TRUE(first.accept());
    EXPECT_EQ(first.read_to_end(), "first");
    ASSERT_TRUE(second.accept() && second.send("second"));
    second.hang_up();
    Error error;
    EXPECT_EQ(read_to_end(socket, error), "second");
    EXPECT_TRUE(error.ok()) << "end of stream is no failure: " << error.message;

    // A failed connect leaves the socket closed, not holding the old handle.
    EXPECT_TRUE(socket.connect("nonexistent-host.invalid", 80, 1000, 0).failed());
    EXPECT_FALSE(socket.connected());
}

TEST(Socket, SendToAPeerThatLeftFailsWithoutEndingTheProcess) {
    LoopbackListener peer;
    Socket socket;
    ASSERT_TRUE(socket.connect("127.0.0.1", peer.port(), 5000, 0).ok());
    ASSERT_TRUE(peer.accept());
    peer.hang_up();
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
    EXPECT_EQ(winsock_error_text(123456), "Winsock error 123456");
    EXPECT_EQ(winsock_error_text(-7), "Winsock error -7");
}

}  // namespace
}  // namespace tarncore
