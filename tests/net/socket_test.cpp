#include "net/socket.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/common/test_data.h"
#include "tests/common/test_server.h"

namespace tarncore {
namespace {

// Reads until the peer closes; a good read resets a stale error.
std::string read_to_end(Socket& socket, Error& error) {
    std::string all;
    char buffer[65536];
    for (std::int32_t n; (n = socket.recv(buffer, sizeof buffer, error)) > 0;) {
        EXPECT_TRUE(error.ok()) << error.message;
        all.append(buffer, static_cast<std::size_t>(n));
        error = Error(9, "stale", "stale", "stale");
    }
    return all;
}

TEST(Socket, SendsEveryByteAndSurvivesAPeerThatLeft) {
    tarntest::TestServer server;
    ASSERT_TRUE(server.start(R"([{"path":"/echo","echo":true},{"path":"/gone","action":"close"}])"))
        << server.last_error();
    const std::string body = tarntest::lcg(3 * 1024 * 1024);
    const std::string echo =
        "POST /echo HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    Socket socket;
    ASSERT_TRUE(socket.connect("127.0.0.1", server.port(), 10000, 0).ok());
    ASSERT_TRUE(socket.send(echo.data(), echo.size()).ok());
    Error error;
    EXPECT_TRUE(read_to_end(socket, error).ends_with(body));
    EXPECT_TRUE(error.ok()) << "end of stream is no failure: " << error.message;

    // Connecting again drops the first connection; this peer reads and leaves.
    ASSERT_TRUE(socket.connect("localhost", server.port(), 10000, 0).ok());
    ASSERT_TRUE(socket.send("GET /gone HTTP/1.1\r\n\r\n", 22).ok());
    EXPECT_EQ(read_to_end(socket, error), "");
    // The first writes may still be taken; the peer's reset then fails one,
    // as an error, not as a signal that ends the process.
    const std::string chunk(64 * 1024, 'z');
    for (int i = 0; i < 200 && error.ok(); ++i) error = socket.send(chunk.data(), chunk.size());
    EXPECT_EQ(error.function, "Socket.send");
    EXPECT_FALSE(error.message.empty() || error.message.find('\n') != std::string::npos);
}

}  // namespace
}  // namespace tarncore
