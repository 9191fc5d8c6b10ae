// Record layouts are pinned by static_assert in records.h, feedrecords.h and
// tarnix.h; these tests check the files the supervisor creates over them.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "harness.h"
#include "records.h"
#include "sharedmem.h"

using testsupport::TempDir;

namespace {

bool allZero(const void* p, size_t n) {
    const unsigned char* b = static_cast<const unsigned char*>(p);
    for (size_t i = 0; i < n; ++i)
        if (b[i] != 0) return false;
    return true;
}

}  // namespace

TEST(SharedFiles, CreatedFilesHaveTheRecordSizeAndReadAllZeroEvenOverADirtyFile) {
    TempDir dir;
    struct Case {
        std::string name;
        size_t size;
    } cases[] = {{"sharedmem", 965968}, {"sharedmemRadar0", 604840}};
    for (const Case& c : cases) {
        std::string path = dir.file(c.name);
        // A file left over by an earlier run, larger and full of ones.
        testsupport::writeFile(path, std::string(c.size + 4096, '\xff'));
        void* map = nullptr;
        int fd = -1;
        ASSERT_EQ(createSharedFile(path, c.size, &map, &fd), SharedFileResult::Ok) << c.name;
        struct stat st;
        ASSERT_EQ(fstat(fd, &st), 0);
        EXPECT_EQ(static_cast<size_t>(st.st_size), c.size) << c.name;
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_TRUE(allZero(map, c.size)) << c.name;
        munmap(map, c.size);
        close(fd);
    }
    // Through the layout: every index 0, no radars, no trigger semaphore.
    void* map = nullptr;
    int fd = -1;
    ASSERT_EQ(createSharedFile(dir.file("sharedmem"), SHAREDMEM_FILE_SIZE, &map, &fd), SharedFileResult::Ok);
    const sharedmem_st* shm = static_cast<const sharedmem_st*>(map);
    EXPECT_EQ(shm->key.tasks, 0);
    EXPECT_EQ(shm->key.radar2, 0);
    EXPECT_EQ(shm->key.radars[0], '\0');
    munmap(map, SHAREDMEM_FILE_SIZE);
    close(fd);
}

TEST(SharedFiles, RefusesASymlinkOrAnythingButARegularFile) {
    TempDir dir;
    std::string victim = dir.file("victim");
    testsupport::writeFile(victim, "keep me");
    ASSERT_EQ(symlink(victim.c_str(), dir.file("sharedmem").c_str()), 0);
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    for (const char* name : {"sharedmem", "fifo"}) {
        void* map = nullptr;
        int fd = -1;
        EXPECT_EQ(createSharedFile(dir.file(name), SHAREDMEM_FILE_SIZE, &map, &fd), SharedFileResult::WriteFailed)
            << name;
        EXPECT_EQ(fd, -1);
    }
    EXPECT_EQ(testsupport::readFile(victim), "keep me");
}
