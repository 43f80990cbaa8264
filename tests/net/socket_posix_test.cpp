// What the BSD-socket stand-in says where Winsock would give its own texts.
#include <errno.h>
#include <netdb.h>

#include <gtest/gtest.h>

#include "net/socket.h"
#include "tests/common/error_text.h"
#include "tests/common/loopback_listener.h"

namespace tarncore {
namespace {

TEST(SocketPosix, TextsAreTheCLibraryDescriptions) {
    EXPECT_EQ(winsock_error_text(ECONNRESET), "Connection reset by peer");
    errno = ETIMEDOUT;
    EXPECT_EQ(winsock_error_text(0), "Connection timed out") << "0 reads the last error";
}

TEST(SocketPosix, ConnectFailuresCarryTheSystemTexts) {
    Socket socket;
    EXPECT_EQ(tarntest::error_text(
                  socket.connect("127.0.0.1", tarntest::unused_loopback_port(), 2000, 0)),
              "2 network Socket.connect: connect() failed: Connection refused");

    // Which of these depends on whether a name server answers; both are gai_strerror's.
    const std::string unknown =
        tarntest::error_text(socket.connect("nonexistent-host.invalid", 443, 2000, 0));
    const std::string prefix =
        "2 network Socket.connect: DNS lookup failed for nonexistent-host.invalid: ";
    EXPECT_TRUE(unknown == prefix + gai_strerror(EAI_NONAME) ||
                unknown == prefix + gai_strerror(EAI_AGAIN))
        << unknown;
    EXPECT_FALSE(socket.connected());
}

}  // namespace
}  // namespace tarncore
