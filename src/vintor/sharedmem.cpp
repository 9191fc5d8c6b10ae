#include "sharedmem.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/mman.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

sharedmem_st* sharedmem = nullptr;
sharedmemRadar_st* sharedmemRadar0 = nullptr;
sharedmemRadar_st* sharedmemRadar1 = nullptr;
sharedmemRadar_st* sharedmemRadar2 = nullptr;
int sharedmemFd = -1;

namespace {

// A record lock (not flock, not an open-file lock): it belongs to the process
// that took it, is not inherited by the processes it forks and goes when that
// process ends, however it ends. It lies on the byte behind the file's data,
// where no ring lock of the program ever reaches. A tree that has just ended
// may take a moment to go: the lock is tried again for about a second before
// it counts as held.
bool lockExclusive(int fd, size_t size) {
    struct flock fl;
    memset(&fl, 0, sizeof fl);
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(size);
    fl.l_len = 1;
    for (int attempt = 0;; ++attempt) {
        if (fcntl(fd, F_SETLK, &fl) == 0) return true;
        if (errno == EINTR) continue;
        if ((errno != EACCES && errno != EAGAIN) || attempt >= 20) return false;
        usleep(50000);
    }
}

}  // namespace

SharedFileResult createSharedFile(const std::string& path, size_t size, void** map, int* fd, bool exclusive) {
    // Not truncated at open: a file in use by a running program is locked first.
    int f = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (f < 0) return SharedFileResult::WriteFailed;
    auto fail = [f](SharedFileResult r) {
        int e = errno;
        close(f);
        errno = e;
        return r;
    };
    struct stat st;
    memset(&st, 0, sizeof st);
    if (fstat(f, &st) != 0) return fail(SharedFileResult::WriteFailed);
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return fail(SharedFileResult::WriteFailed);
    }
    if (exclusive && !lockExclusive(f, size))
        return fail(errno == EACCES || errno == EAGAIN ? SharedFileResult::InUse : SharedFileResult::WriteFailed);
    if (ftruncate(f, 0) != 0) return fail(SharedFileResult::WriteFailed);
    // posix_fallocate reports through its result, not errno.
    const int e = posix_fallocate(f, 0, static_cast<off_t>(size));
    if (e != 0) {
        errno = e;
        return fail(SharedFileResult::WriteFailed);
    }
    void* m = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, f, 0);
    if (m == MAP_FAILED) return fail(SharedFileResult::MapFailed);
    memset(m, 0, size);
    *map = m;
    *fd = f;
    return SharedFileResult::Ok;
}

namespace {

enum class Match { Exact, AnyCase };

struct Ring {
    char* base = nullptr;      // first slot; null when the radar's file is not mapped
    int slots = 0;
    size_t slotSize = 0;
    bool text = false;         // text slot: at most 250 characters and a NUL
    bool locked = false;       // several writing processes
    int* index = nullptr;
};

bool nameIs(const char* name, const char* ring, Match m) {
    return m == Match::Exact ? strcmp(name, ring) == 0 : strcasecmp(name, ring) == 0;
}

// Finds a ring by name; `logCase` and `recordCase` give how each family is matched
// for the calling operation (task rings always match in any case).
bool findRing(const char* name, Match logCase, Match recordCase, Ring* r) {
    if (sharedmem == nullptr || name == nullptr) return false;
    key_st& key = sharedmem->key;
    auto textRing = [&](char (*slots)[TEXT_SLOT_SIZE], int n, int* idx, bool locked) {
        r->base = &slots[0][0];
        r->slots = n;
        r->slotSize = TEXT_SLOT_SIZE;
        r->text = true;
        r->locked = locked;
        r->index = idx;
        return true;
    };
    auto recordRing = [&](void* base, size_t size, int* idx) {
        r->base = static_cast<char*>(base);
        r->slots = MEMCACHE_MAX_INDEX;
        r->slotSize = size;
        r->index = idx;
        return true;
    };
    if (nameIs(name, "log", logCase)) return textRing(sharedmem->log, LOG_MAX_INDEX, &key.log, false);
    if (nameIs(name, "tasks", Match::AnyCase))
        return textRing(sharedmem->tasks, TASKS_MAX_INDEX, &key.tasks, true);
    if (nameIs(name, "subscriptiontasks", Match::AnyCase))
        return textRing(sharedmem->subscriptiontasks, TASKS_MAX_INDEX, &key.subscriptiontasks, true);
    if (nameIs(name, "radartasks", Match::AnyCase))
        return textRing(sharedmem->radartasks, TASKS_MAX_INDEX, &key.radartasks, true);
    if (nameIs(name, "f", recordCase)) return recordRing(sharedmem->fft, sizeof(fft_st), &key.fft);
    if (nameIs(name, "p", recordCase)) return recordRing(sharedmem->peak, sizeof(peak_st), &key.peak);
    if (nameIs(name, "h", recordCase)) return recordRing(sharedmem->heave, sizeof(heave_st), &key.heave);
    sharedmemRadar_st* radars[3] = {sharedmemRadar0, sharedmemRadar1, sharedmemRadar2};
    int* radarIdx[3] = {&key.radar0, &key.radar1, &key.radar2};
    const char* radarNames[3] = {"radar0", "radar1", "radar2"};
    for (int i = 0; i < 3; ++i) {
        if (nameIs(name, radarNames[i], recordCase))
            return recordRing(radars[i] ? radars[i]->radar : nullptr, sizeof(radar_st), radarIdx[i]);
    }
    return false;
}

int loadIndex(const int* idx) { return __atomic_load_n(idx, __ATOMIC_ACQUIRE); }
void storeIndex(int* idx, int v) { __atomic_store_n(idx, v, __ATOMIC_RELEASE); }

// Serialises writers of a task ring across processes: a record lock on the
// index block, which every process of the tree reaches through the same file.
class RingLock {
public:
    explicit RingLock(bool wanted) : fd_(wanted ? sharedmemFd : -1) {
        if (fd_ >= 0) lockRange(F_WRLCK);
    }
    ~RingLock() {
        if (fd_ >= 0) lockRange(F_UNLCK);
    }

private:
    void lockRange(short type) {
        struct flock fl;
        memset(&fl, 0, sizeof fl);
        fl.l_type = type;
        fl.l_whence = SEEK_SET;
        fl.l_start = offsetof(sharedmem_st, key);
        fl.l_len = sizeof(key_st);
        while (fcntl(fd_, F_SETLKW, &fl) != 0 && errno == EINTR) {
        }
    }
    int fd_;
};

}  // namespace

// The ring operations stay silent whatever "debugsharedmem" holds, so it is not read.
SharedMem::SharedMem(ConfigFile* lcf) : cf(lcf), debug(0), sockfd(0), serv_addr{}, address{}, hostip(nullptr) {}

SharedMem::~SharedMem() {}

int SharedMem::add(const char* name, void* data, unsigned int length) {
    Ring r;
    if (!findRing(name, Match::Exact, Match::Exact, &r) || r.base == nullptr) {
        printf("\nSharedMemory Add kent de section nog niet.");
        return 1;
    }
    RingLock lock(r.locked);
    int index = loadIndex(r.index);
    int next = (index >= 0 && index < r.slots - 1) ? index + 1 : 0;
    char* slot = r.base + static_cast<size_t>(next) * r.slotSize;
    if (r.text) {
        size_t n = length < static_cast<unsigned>(LOG_LINE_WIDTH) ? length : LOG_LINE_WIDTH;
        memcpy(slot, data, n);
        slot[n] = '\0';
    } else {
        memcpy(slot, data, length < r.slotSize ? length : r.slotSize);
    }
    // Readers that see the new index must find the record complete.
    storeIndex(r.index, next);
    return 1;
}

const void* SharedMem::nextInPlace(const char* name, int last, int* slot, unsigned int* length) {
    Ring r;
    if (!findRing(name, Match::AnyCase, Match::Exact, &r) || r.base == nullptr) {
        printf("\nSharedMemory getNext kent de section %s nog niet.", name ? name : "");
        return nullptr;
    }
    int index = loadIndex(r.index);
    // A corrupt index has nothing valid behind it; the writer's next add repairs it.
    if (index == last || index < 0 || index >= r.slots) return nullptr;
    *slot = (last >= 0 && last < r.slots - 1) ? last + 1 : 0;
    *length = static_cast<unsigned int>(r.text ? LOG_LINE_WIDTH : r.slotSize);
    return r.base + static_cast<size_t>(*slot) * r.slotSize;
}

int SharedMem::getNext(const char* name, int last, void* buffer, unsigned int* length) {
    int slot = -1;
    const void* record = nextInPlace(name, last, &slot, length);
    if (record == nullptr) return -1;
    memcpy(buffer, record, *length);
    return slot;
}

int SharedMem::get(const char* name, void* buffer, unsigned int* length, int slot) {
    if (sharedmem == nullptr || name == nullptr) return 0;
    if (strcmp(name, "radars") == 0) {
        size_t n = strnlen(sharedmem->key.radars, RADARS_TEXT_SIZE);
        memcpy(buffer, sharedmem->key.radars, n);
        *length = static_cast<unsigned int>(n);
        return 0;
    }
    Ring r;
    if (!findRing(name, Match::Exact, Match::Exact, &r) || r.text ||
        r.base == nullptr || slot < 0 || slot >= r.slots)
        return 0;
    memcpy(buffer, r.base + static_cast<size_t>(slot) * r.slotSize, r.slotSize);
    *length = static_cast<unsigned int>(r.slotSize);
    return 0;
}

int SharedMem::set(const char* name, void* data, unsigned int length) {
    if (sharedmem == nullptr || name == nullptr || strcmp(name, "radars") != 0) return 1;
    // No terminator: the list's tail beyond a shorter text stays, as its writers expect.
    memcpy(sharedmem->key.radars, data, length < RADARS_TEXT_SIZE ? length : RADARS_TEXT_SIZE);
    return 1;
}

int SharedMem::getIndex(const char* name) {
    Ring r;
    if (!findRing(name, Match::AnyCase, Match::AnyCase, &r)) {
        printf("\nSharedMemory getIndex kent de section nog niet.");
        return 0;
    }
    return loadIndex(r.index);
}

int SharedMem::setIndex(const char* name, int index) {
    Ring r;
    if (!findRing(name, Match::AnyCase, Match::AnyCase, &r)) {
        printf("\nSharedMemory setIndex kent de section nog niet.");
        return index;
    }
    storeIndex(r.index, index);
    return index;
}

int SharedMem::isConnected() { return 1; }
int SharedMem::serverAdd(const char*, int) { return 1; }
int SharedMem::serverAdd(const char*) { return 1; }
void SharedMem::close_socket() {}

int SharedMem::input_timeout(int fd, unsigned int seconds) {
    for (;;) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(fd, &set);
        struct timeval tv;
        tv.tv_sec = seconds;
        tv.tv_usec = 0;
        int r = select(fd + 1, &set, nullptr, nullptr, &tv);
        if (r >= 0 || errno != EINTR) return r;
    }
}
