// Rings by name over the shared-memory files, and the semaphore flags that
// tell a stage that new records wait in its input ring.
//
// The supervisor maps the files and sets the globals below before it forks;
// every stage then constructs its own SharedMem and sees the same bytes.
#pragma once

#include <netdb.h>
#include <netinet/in.h>

#include <cstddef>
#include <string>

#include "records.h"
#include "semflag.h"  // the stage hand-over (keys in defaults.h)

class ConfigFile;

extern sharedmem_st* sharedmem;
extern sharedmemRadar_st* sharedmemRadar0;
extern sharedmemRadar_st* sharedmemRadar1;
extern sharedmemRadar_st* sharedmemRadar2;
// Open descriptor of the file behind `sharedmem`; adds to the task rings take
// a record lock on it because the supervisor and the UDP listener both write
// ring "tasks". -1 when nothing is mapped.
extern int sharedmemFd;

enum class SharedFileResult { Ok, WriteFailed, MapFailed, InUse };

// Creates or truncates the regular file at `path` (a symlink or anything that is
// not a regular file is refused as a write failure), makes it `size` zero bytes
// long with every block reserved (a full file system is a write failure here,
// never a SIGBUS at the first touch of the mapping) and maps it shared. With
// `exclusive` the file is first locked for as long as the calling process
// lives (the processes it forks do not hold the lock), and a file another
// process holds locked is left untouched (InUse). On success *map and *fd are set; the descriptor stays
// open. On failure errno tells why and nothing is left open.
SharedFileResult createSharedFile(const std::string& path, size_t size, void** map, int* fd,
                                  bool exclusive = false);

class SharedMem {
public:
    ConfigFile* cf;
    int debug;
    // Present for the interface shared with the memcached client; never used here.
    int sockfd;
    sockaddr_in serv_addr;
    sockaddr_in address;
    hostent* hostip;

    explicit SharedMem(ConfigFile* cf);
    ~SharedMem();

    // Ring names: "log", "radar0".."radar2", "f", "p", "h", "tasks",
    // "subscriptiontasks", "radartasks"; see each operation for letter case.
    int add(const char* name, void* data, unsigned int length);
    int getNext(const char* name, int last, void* buffer, unsigned int* length);
    // The record getNext would copy, where it lies in the ring (nullptr when
    // there is none), its slot in *slot. Read in place: the ring's one writer
    // fills a slot before its index names it and comes back to it only after
    // a whole turn of the ring, many records later than a stage takes.
    const void* nextInPlace(const char* name, int last, int* slot, unsigned int* length);
    int get(const char* name, void* buffer, unsigned int* length, int slot);
    int set(const char* name, void* data, unsigned int length);
    int getIndex(const char* name);
    int setIndex(const char* name, int index);

    int isConnected();
    int serverAdd(const char* host, int port);
    int serverAdd(const char* socketFile);
    void close_socket();

    // select until fd is readable (1), `seconds` pass (0) or an error (-1);
    // an interrupted wait starts again with the same time-out.
    int input_timeout(int fd, unsigned int seconds);
};
