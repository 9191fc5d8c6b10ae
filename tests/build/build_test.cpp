#include <gtest/gtest.h>
#include <zmq.hpp>

// The toolchain and the messaging library the whole station rests on.
TEST(Build, LinksMessagingLibrary) {
    int major = 0, minor = 0, patch = 0;
    zmq::version(&major, &minor, &patch);
    EXPECT_GE(major, 4);
}
