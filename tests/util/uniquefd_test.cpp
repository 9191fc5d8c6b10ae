// The owning descriptor closes exactly what it holds, once.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <utility>

#include "uniquefd.h"

namespace {

bool isOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

TEST(UniqueFd, ClosesWhatItHoldsWhenItEndsOrTakesAnother) {
    int a[2], b[2];
    ASSERT_EQ(pipe(a), 0);
    ASSERT_EQ(pipe(b), 0);
    {
        UniqueFd first(a[0]);
        UniqueFd moved(std::move(first));
        EXPECT_EQ(first.get(), -1);
        EXPECT_FALSE(first);
        EXPECT_EQ(moved.get(), a[0]);
        moved = UniqueFd(b[0]);  // the one held before is closed
        EXPECT_FALSE(isOpen(a[0]));
        EXPECT_TRUE(isOpen(b[0]));
        UniqueFd kept(a[1]);
        EXPECT_EQ(kept.release(), a[1]);  // given up, not closed
        EXPECT_TRUE(isOpen(a[1]));
        UniqueFd other(b[1]);
        other.reset();
        EXPECT_FALSE(isOpen(b[1]));
        EXPECT_EQ(other.get(), -1);
    }
    EXPECT_FALSE(isOpen(b[0]));
    EXPECT_TRUE(isOpen(a[1]));
    close(a[1]);
}

}  // namespace
