// Rings over real mapped files in a temporary directory, and semaphore flags
// with private keys, across real processes.
#include <signal.h>
#include <sys/mman.h>
#include <sys/sem.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <set>
#include <string>

#include "harness.h"
#include "sharedmem.h"

using testsupport::TempDir;

namespace {

class Rings : public ::testing::Test {
protected:
    void SetUp() override {
        void* map = nullptr;
        int fd = -1;
        ASSERT_EQ(createSharedFile(dir_.file("sharedmem"), SHAREDMEM_FILE_SIZE, &map, &fd), SharedFileResult::Ok);
        sharedmem = static_cast<sharedmem_st*>(map);
        sharedmemFd = fd;
        for (int i = 0; i < 2; ++i) {
            int rfd = -1;
            ASSERT_EQ(createSharedFile(dir_.file("sharedmemRadar" + std::to_string(i)), SHAREDMEM_RADAR_FILE_SIZE,
                                       &map, &rfd),
                      SharedFileResult::Ok);
            close(rfd);
            (i == 0 ? sharedmemRadar0 : sharedmemRadar1) = static_cast<sharedmemRadar_st*>(map);
        }
        sharedmemRadar2 = nullptr;  // radar2 not active: its file was never created
    }
    void TearDown() override {
        munmap(sharedmem, SHAREDMEM_FILE_SIZE);
        munmap(sharedmemRadar0, SHAREDMEM_RADAR_FILE_SIZE);
        munmap(sharedmemRadar1, SHAREDMEM_RADAR_FILE_SIZE);
        close(sharedmemFd);
        sharedmem = nullptr;
        sharedmemRadar0 = sharedmemRadar1 = nullptr;
        sharedmemFd = -1;
    }
    static std::string text(const char* slot) { return std::string(slot, strnlen(slot, TEXT_SLOT_SIZE)); }

    TempDir dir_;
    SharedMem mem_{nullptr};
};

heave_st heaveRecord(int n) {
    heave_st h;
    memset(&h, 0, sizeof h);
    snprintf(h.time, sizeof h.time, "%d", 1700000000 + n);
    h.distanceAvg = static_cast<float>(n);
    h.nan = n;
    return h;
}

}  // namespace

TEST_F(Rings, RecordRingsStartEmptyFillFromSlotOneAndWrapAfterFifty) {
    fft_st f;
    unsigned int len = 0;
    EXPECT_EQ(mem_.getNext("f", 0, &f, &len), -1);

    memset(&f, 0, sizeof f);
    f.length = 512;
    f.energy[1] = 2.5;
    mem_.add("f", &f, sizeof f);
    fft_st got;
    memset(&got, 0, sizeof got);
    EXPECT_EQ(mem_.getNext("f", 0, &got, &len), 1);
    EXPECT_EQ(len, 17248u);
    EXPECT_EQ(memcmp(&got, &f, sizeof f), 0);
    EXPECT_EQ(mem_.getIndex("f"), 1);
    EXPECT_EQ(mem_.getNext("f", 1, &got, &len), -1);

    peak_st p;
    memset(&p, 0, sizeof p);
    for (int i = 1; i <= 50; ++i) {
        p.fft_key = i;
        mem_.add("p", &p, sizeof p);
    }
    EXPECT_EQ(mem_.getIndex("p"), 0);
    EXPECT_EQ(sharedmem->peak[0].fft_key, 50);
    // A reader that starts at the write position sees only what comes after.
    int last = mem_.getIndex("p");
    p.fft_key = 51;
    mem_.add("p", &p, sizeof p);
    EXPECT_EQ(sharedmem->peak[1].fft_key, 51);
    peak_st q;
    EXPECT_EQ(mem_.getNext("p", last, &q, &len), 1);
    EXPECT_EQ(q.fft_key, 51);
    EXPECT_EQ(mem_.getNext("p", 1, &q, &len), -1);

    // An oversized record is cut to the slot; the next slot keeps its bytes.
    char big[sizeof(heave_st) + 8];
    memset(big, 'x', sizeof big);
    sharedmem->heave[2].time[0] = 'k';
    mem_.add("h", big, sizeof big);
    EXPECT_EQ(sharedmem->heave[1].nan, 0x78787878);
    EXPECT_EQ(sharedmem->heave[2].time[0], 'k');
}

TEST_F(Rings, TaskRingsMatchAnyCaseAndKeepEachTextWholeAndTerminated) {
    EXPECT_EQ(mem_.setIndex("Tasks", 0), 0);
    char longText[] = "writeconfig then killall";
    mem_.add("TASKS", longText, strlen(longText));
    char buf[TEXT_SLOT_SIZE];
    unsigned int len = 0;
    EXPECT_EQ(mem_.getNext("Tasks", 0, buf, &len), 1);
    EXPECT_EQ(len, 250u);
    EXPECT_EQ(std::string(buf), longText);

    // Round the ring to slot 1 again: a shorter text reads back without the old tail.
    for (int i = 0; i < 19; ++i) mem_.add("tasks", const_cast<char*>("start fft"), 9);
    EXPECT_EQ(mem_.getIndex("tasks"), 0);
    mem_.add("tasks", const_cast<char*>("reset"), 5);
    EXPECT_EQ(mem_.getIndex("tasks"), 1);
    EXPECT_EQ(text(sharedmem->tasks[1]), "reset");

    // A text longer than a slot is cut to 250 characters; the next slot is untouched.
    std::string huge(400, 'a');
    sharedmem->tasks[3][0] = 'z';
    mem_.add("tasks", &huge[0], static_cast<unsigned>(huge.size()));
    EXPECT_EQ(text(sharedmem->tasks[2]), std::string(250, 'a'));
    EXPECT_EQ(sharedmem->tasks[3][0], 'z');

    // "Log" is no name for add, but getNext takes it in any case.
    mem_.add("Log", const_cast<char*>("x"), 1);
    EXPECT_EQ(mem_.getIndex("log"), 0);
    mem_.add("log", const_cast<char*>("line one"), 8);
    EXPECT_EQ(mem_.getNext("Log", 0, buf, &len), 1);
    EXPECT_EQ(std::string(buf, 8), "line one");

    mem_.add("RadarTasks", const_cast<char*>("killall"), 7);
    mem_.add("subscriptionTasks", const_cast<char*>("s"), 1);
    EXPECT_EQ(text(sharedmem->radartasks[1]), "killall");
    EXPECT_EQ(text(sharedmem->subscriptiontasks[1]), "s");
}

TEST_F(Rings, GetAndSetServeSlotsAndTheRadarsTextWithinBounds) {
    sharedmemRadar1->radar[3].brand = 3;
    strcpy(sharedmemRadar1->radar[3].section, "radar1");
    radar_st r;
    unsigned int len = 0;
    EXPECT_EQ(mem_.get("radar1", &r, &len, 3), 0);
    EXPECT_EQ(len, 12096u);
    EXPECT_EQ(r.brand, 3);
    EXPECT_STREQ(r.section, "radar1");

    len = 77;
    mem_.get("radar1", &r, &len, 50);
    mem_.get("radar1", &r, &len, -1);
    mem_.get("tasks", &r, &len, 1);
    EXPECT_EQ(len, 77u);

    char list[RADARS_TEXT_SIZE + 1] = {};
    mem_.set("radars", const_cast<char*>("radar0"), 6);
    mem_.get("radars", list, &len, 0);
    EXPECT_EQ(std::string(list), "radar0");
    EXPECT_EQ(len, 6u);

    // 40 bytes are cut to the 30 of the field; its neighbours keep their bytes.
    sharedmem->key.radartasks = 7;
    unsigned char* after = reinterpret_cast<unsigned char*>(sharedmem->key.radars) + RADARS_TEXT_SIZE;
    after[0] = 0xab;
    std::string forty(40, 'r');
    mem_.set("radars", &forty[0], 40);
    EXPECT_EQ(sharedmem->key.radartasks, 7);
    EXPECT_EQ(after[0], 0xab);
    memset(list, 0, sizeof list);
    mem_.get("radars", list, &len, 0);
    EXPECT_EQ(len, 30u);
    EXPECT_EQ(std::string(list), std::string(30, 'r'));
}

TEST_F(Rings, UnknownNamesUnmappedRadarsAndCorruptIndexesNeverLoopOrCrash) {
    char buf[sizeof(radar_st)];
    unsigned int len = 5;
    for (const char* name : {"nothing", "", "F", "Radar0"}) EXPECT_EQ(mem_.getNext(name, 3, buf, &len), -1) << name;

    // radar2 has no file: nothing is stored or read, but its index still works.
    EXPECT_EQ(mem_.add("radar2", buf, sizeof(radar_st)), 1);
    EXPECT_EQ(mem_.getIndex("radar2"), 0);
    EXPECT_EQ(mem_.getNext("radar2", 7, buf, &len), -1);
    mem_.get("radar2", buf, &len, 1);
    EXPECT_EQ(len, 5u);
    EXPECT_EQ(mem_.setIndex("RADAR2", 4), 4);
    EXPECT_EQ(sharedmem->key.radar2, 4);

    // A corrupt write index restarts the ring at slot 0; a reader finds nothing behind it.
    sharedmem->key.heave = 999;
    EXPECT_EQ(mem_.getNext("h", 3, buf, &len), -1);
    heave_st h = heaveRecord(1);
    mem_.add("h", &h, sizeof h);
    EXPECT_EQ(mem_.getIndex("h"), 0);
    sharedmem->key.heave = -5;
    mem_.add("h", &h, sizeof h);
    EXPECT_EQ(mem_.getIndex("h"), 0);
    // A reader position outside the ring starts over at slot 0.
    EXPECT_EQ(mem_.add("h", &h, sizeof h), 1);
    EXPECT_EQ(mem_.getNext("h", -7, buf, &len), 0);
    EXPECT_EQ(mem_.getNext("h", 1234, buf, &len), 0);
}

TEST_F(Rings, SemaphoreIsAFlagSeveralPostsWakeTheConsumerOnceAndItDrainsAll) {
    int key = 0x53500000 + (getpid() & 0xfffff);
    int sem = getSemaphore(key);
    ASSERT_GE(sem, 0);
    ASSERT_EQ(setSemaphore(sem, 0), 0);
    struct semid_ds info;
    ASSERT_EQ(semctl(sem, 0, IPC_STAT, &info), 0);
    EXPECT_EQ(info.sem_perm.mode & 0777, 0600u) << "usable by its owner without root";
    int report[2], go[2];
    ASSERT_EQ(pipe(report), 0);
    ASSERT_EQ(pipe(go), 0);

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SharedMem mem(nullptr);
        int last = 0;  // fresh ring: the records go to slots 1..3
        int result[3] = {-1, 0, 0};
        char c;
        if (read(go[0], &c, 1) == 1 && waitSemaphore(getSemaphore(key)) == 0) {
            heave_st h;
            unsigned int len = 0;
            int slot;
            int good = 0;
            while ((slot = mem.getNext("h", last, &h, &len)) != -1) {
                last = slot;
                heave_st want = heaveRecord(good + 1);
                if (len == sizeof h && memcmp(&h, &want, sizeof h) == 0) ++good;
            }
            result[0] = good;
            struct sembuf op = {0, -1, 0};
            struct timespec ts = {0, 300 * 1000 * 1000};
            result[1] = semtimedop(sem, &op, 1, &ts);
            result[2] = errno;
        }
        ssize_t n = write(report[1], result, sizeof result);
        _exit(n == sizeof result ? 0 : 1);
    }
    for (int i = 1; i <= 3; ++i) {
        heave_st h = heaveRecord(i);
        mem_.add("h", &h, sizeof h);
    }
    ASSERT_EQ(setSemaphore(sem, 1), 0);
    ASSERT_EQ(setSemaphore(sem, 1), 0);
    EXPECT_EQ(getSemaphoreValue(sem), 1);
    ASSERT_EQ(write(go[1], "g", 1), 1);

    int result[3] = {};
    ASSERT_EQ(read(report[0], result, sizeof result), static_cast<ssize_t>(sizeof result));
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(result[0], 3) << "complete records drained after one wake-up";
    EXPECT_EQ(result[1], -1) << "a second wait must time out";
    EXPECT_EQ(result[2], EAGAIN);
    EXPECT_EQ(getSemaphoreValue(sem), 0);
    semctl(sem, 0, IPC_RMID);
    for (int fd : {report[0], report[1], go[0], go[1]}) close(fd);
}

TEST_F(Rings, TwoProcessesAddingTasksAtOnceLoseAndTearNothing) {
    // Texts of very different lengths, so that a torn slot shows mixed letters.
    const int perWriter = 2001;
    pid_t writers[2];
    for (int w = 0; w < 2; ++w) {
        writers[w] = fork();
        ASSERT_GE(writers[w], 0);
        if (writers[w] == 0) {
            SharedMem mem(nullptr);
            std::string t = w == 0 ? std::string(200, 'a') : std::string(30, 'b');
            for (int i = 0; i < perWriter; ++i) mem.add("tasks", &t[0], static_cast<unsigned>(t.size()));
            _exit(0);
        }
    }
    for (pid_t w : writers) {
        int status = 0;
        waitpid(w, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(mem_.getIndex("tasks"), (2 * perWriter) % TASKS_MAX_INDEX) << "an add was lost";
    for (int s = 0; s < TASKS_MAX_INDEX; ++s) {
        std::string t = text(sharedmem->tasks[s]);
        EXPECT_TRUE(t == std::string(200, 'a') || t == std::string(30, 'b')) << "slot " << s << ": " << t;
    }
}

TEST_F(Rings, InputTimeoutSeesReadableDataAndOutlastsAnInterruption) {
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    ASSERT_EQ(write(p[1], "x", 1), 1);
    EXPECT_EQ(mem_.input_timeout(p[0], 1), 1);
    char c;
    ASSERT_EQ(read(p[0], &c, 1), 1);

    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = [](int) {};
    sa.sa_flags = 0;  // no SA_RESTART: select sees EINTR
    struct sigaction old;
    sigaction(SIGALRM, &sa, &old);
    struct itimerval alarmIn = {{0, 0}, {0, 200 * 1000}};
    setitimer(ITIMER_REAL, &alarmIn, nullptr);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(mem_.input_timeout(p[0], 1), 0);
    double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(waited, 1.0);
    sigaction(SIGALRM, &old, nullptr);
    close(p[0]);
    close(p[1]);
}
