// Winsock's own texts: taken from the system table, one line, no line ends.
#include "support/win32.h"

#include <winsock2.h>

#include <gtest/gtest.h>

#include "net/socket.h"
#include "tests/common/loopback_listener.h"

namespace tarncore {
namespace {

std::string raw_system_text(int code) {
    char buffer[1024] = {};
    ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     static_cast<DWORD>(code), 0, buffer, sizeof buffer, nullptr);
    return buffer;
}

TEST(SocketWin32, TextsLoseTheirLineEnds) {
    for (int code : {WSAECONNREFUSED, WSAECONNRESET, WSAHOST_NOT_FOUND}) {
        const std::string raw = raw_system_text(code);
        ASSERT_GE(raw.size(), 2u) << code << ": the system has no text";
        ASSERT_EQ(raw.substr(raw.size() - 2), "\r\n") << code;
        EXPECT_EQ(winsock_error_text(code), raw.substr(0, raw.size() - 2)) << code;
    }

    ::WSASetLastError(WSAECONNRESET);
    EXPECT_EQ(winsock_error_text(0), winsock_error_text(WSAECONNRESET)) << "0 reads the last error";
}

TEST(SocketWin32, ConnectMessagesCarryTheSystemTexts) {
    Socket socket;
    Error refused = socket.connect("127.0.0.1", tarntest::unused_loopback_port(), 2000, 0);
    EXPECT_EQ(refused.message, "connect() failed: " + winsock_error_text(WSAECONNREFUSED));

    // The look-up's text is read as one line: the table's line break becomes
    // at most trailing blanks.
    Error unknown = socket.connect("nonexistent-host.invalid", 443, 2000, 0);
    const std::string prefix = "DNS lookup failed for nonexistent-host.invalid: ";
    bool matched = false;
    for (int code : {WSAHOST_NOT_FOUND, WSATRY_AGAIN}) {
        const std::string start = prefix + winsock_error_text(code);
        if (unknown.message.rfind(start, 0) != 0) continue;
        matched = unknown.message.find_first_not_of(' ', start.size()) == std::string::npos;
    }
    EXPECT_TRUE(matched) << unknown.message;
    EXPECT_EQ(unknown.message.find_first_of("\r\n"), std::string::npos) << unknown.message;
}

}  // namespace
}  // namespace tarncore
