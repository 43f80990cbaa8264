// Every net test runs with the socket library started, as the setup flow does.
#include <gtest/gtest.h>

#include "net/socket.h"

namespace {

class SocketLibrary : public ::testing::Environment {
public:
    void SetUp() override {
        tarncore::Error error = tarncore::Socket::initialize();
        ASSERT_TRUE(error.ok()) << error.message;
    }
    void TearDown() override { tarncore::Socket::cleanup(); }
};

[[maybe_unused]] ::testing::Environment* const socket_library =
    ::testing::AddGlobalTestEnvironment(new SocketLibrary);

}  // namespace
