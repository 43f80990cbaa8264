// What the BSD-socket stand-in says where Winsock would give its own texts.
#include <errno.h>
#include <netdb.h>

#include <gtest/gtest.h>

#include "net/socket.h"
#include "tests/common/loopback_listener.h"

namespace tarncore {
namespace {

TEST(SocketPosix, TextsAreTheCLibraryDescriptions) {
    const std::pair<int, const char*> cases[] = {
        {ECONNREFUSED, "Connection refused"},
        {ECONNRESET, "Connection reset by peer"},
        {EPIPE, "Broken pipe"},
        // glibc would make up "Unknown error 4000"; the fallback names the code instead.
        {4000, "Winsock error 4000"},
    };
    for (const auto& [code, text] : cases) EXPECT_EQ(winsock_error_text(code), text) << code;

    errno = ETIMEDOUT;
    EXPECT_EQ(winsock_error_text(0), "Connection timed out") << "0 reads the last error";
}

TEST(SocketPosix, ConnectMessagesCarryTheSystemTexts) {
    Socket socket;
    Error refused = socket.connect("127.0.0.1", tarntest::unused_loopback_port(), 2000, 0);
    EXPECT_EQ(refused.message, "connect() failed: Connection refused");

    // Which of these depends on whether a name server answers; both are gai_strerror's.
    Error unknown = socket.connect("nonexistent-host.invalid", 443, 2000, 0);
    const std::string prefix = "DNS lookup failed for nonexistent-host.invalid: ";
    EXPECT_TRUE(unknown.message == prefix + gai_strerror(EAI_NONAME) ||
                unknown.message == prefix + gai_strerror(EAI_AGAIN))
        << unknown.message;
}

}  // namespace
}  // namespace tarncore
