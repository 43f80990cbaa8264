// Winsock's own texts: taken from the system table, one line, no line ends.
#include "support/win32.h"

#include <winsock2.h>

#include <gtest/gtest.h>

#include "net/socket.h"
#include "tests/common/error_text.h"
#include "tests/common/loopback_listener.h"

namespace tarncore {
namespace {

TEST(SocketWin32, TextsLoseTheirLineEnds) {
    for (int code : {WSAECONNREFUSED, WSAECONNRESET, WSAHOST_NOT_FOUND}) {
        char raw[1024] = {};
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                         static_cast<DWORD>(code), 0, raw, sizeof raw, nullptr);
        const std::string text = raw;
        ASSERT_TRUE(text.ends_with("\r\n") && text.size() > 2) << code << ": " << text;
        EXPECT_EQ(winsock_error_text(code), text.substr(0, text.size() - 2)) << code;
    }
    ::WSASetLastError(WSAECONNRESET);
    EXPECT_EQ(winsock_error_text(0), winsock_error_text(WSAECONNRESET)) << "0 reads the last error";
}

TEST(SocketWin32, ConnectFailuresCarryTheSystemTexts) {
    Socket socket;
    EXPECT_EQ(tarntest::error_text(
                  socket.connect("127.0.0.1", tarntest::unused_loopback_port(), 2000, 0)),
              "2 network Socket.connect: connect() failed: " + winsock_error_text(WSAECONNREFUSED));

    // The look-up's text is read as one line: the table's line break becomes
    // at most trailing blanks.
    auto trimmed = [](std::string text) {
        while (text.ends_with(' ')) text.pop_back();
        return text;
    };
    const std::string unknown =
        tarntest::error_text(socket.connect("nonexistent-host.invalid", 443, 2000, 0));
    const std::string prefix =
        "2 network Socket.connect: DNS lookup failed for nonexistent-host.invalid: ";
    EXPECT_TRUE(trimmed(unknown) == trimmed(prefix + winsock_error_text(WSAHOST_NOT_FOUND)) ||
                trimmed(unknown) == trimmed(prefix + winsock_error_text(WSATRY_AGAIN)))
        << unknown;
    EXPECT_FALSE(socket.connected());
}

}  // namespace
}  // namespace tarncore
