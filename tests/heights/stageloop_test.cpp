// The hand-over loop every chain stage runs, with a stage that only tells a
// pipe what the loop gives it: real rings, real semaphores, a forked child.
#include <poll.h>
#include <sys/wait.h>

#include <cstring>
#include <string>

#include "configfile.h"
#include "stage_fixture.h"
#include "stageloop.h"

namespace {

struct Teller : ChainStage {
    int fd;
    explicit Teller(int out) : fd(out) {}
    void tell(const std::string& s) { (void)!write(fd, s.data(), s.size()); }
    void onRecord(const void* record, int slot) override {
        tell(std::string(static_cast<const char*>(record), 4) + "@" + std::to_string(slot) + " ");
    }
    void traceIdle() override { tell("idle "); }
    void tracePosted(int, int) override { tell("posted\n"); }
};

// Everything the child told up to the next line end; empty at the deadline.
std::string nextRound(int fd) {
    std::string got;
    char c = 0;
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, 20000) == 1 && read(fd, &c, 1) == 1 && c != '\n') got += c;
    return got;
}

void addTagged(SharedMem& sm, const char* ring, const char* tag) {
    heave_st r{};  // fits every ring: the slot's first bytes carry the tag
    std::memcpy(&r, tag, 4);
    sm.add(ring, &r, sizeof r);
}

}  // namespace

TEST(StageLoop, DrainsEveryRingInListOrderThenPostsOnceAndWaits) {
    stagetest::Rings rings(2);
    ConfigFile cf(0, 0);
    SharedMem sm(&cf);
    addTagged(sm, "p", "old.");  // before the start: not new to the stage
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    stagetest::Child child([&] {
        StageLoop loop({rings.keys[0], rings.keys[1], "semget test", true, "semop test+1", "semop test wait"});
        radarlist_st inputs[2] = {StageLoop::newestOf(sm, "p"), StageLoop::newestOf(sm, "h")};
        Teller teller(fds[1]);
        loop.run(sm, inputs, 2, teller);
    });
    EXPECT_EQ(nextRound(fds[0]), "idle posted");
    ASSERT_TRUE(stagetest::sleepsOn(rings.keys[0]));
    EXPECT_EQ(getSemaphoreValue(getSemaphore(rings.keys[1])), 1);

    addTagged(sm, "h", "h1..");
    addTagged(sm, "p", "p1..");
    addTagged(sm, "p", "p2..");
    // Two posts before the wake-up count as one round.
    setSemaphore(getSemaphore(rings.keys[0]), 1);
    setSemaphore(getSemaphore(rings.keys[0]), 1);
    EXPECT_EQ(nextRound(fds[0]), "p1..@2 p2..@3 h1..@1 idle posted");
    ASSERT_TRUE(stagetest::sleepsOn(rings.keys[0]));

    // A wait that fails ends the stage with status 1.
    semctl(getSemaphore(rings.keys[0]), 0, IPC_RMID);
    int status = 0;
    ASSERT_EQ(waitpid(child.pid, &status, 0), child.pid);
    child.pid = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    close(fds[0]);
    close(fds[1]);
}
