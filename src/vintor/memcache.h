// The named rings of SharedMem kept in a memcached server instead of the
// shared-memory files, over the server's text protocol on one TCP or
// Unix-domain stream socket. Index item N holds the slot written last as
// decimal text; record items N0..N50 hold the records (51 slots per ring).
#pragma once

#include <netdb.h>
#include <netinet/in.h>
#include <sys/un.h>

#include <chrono>
#include <cstddef>

struct memcache_server_st {
    int socket_tcp;          // 1: TCP to ip:port; 0: Unix-domain socket at socketfile
    char socketfile[108];
    char ip[20];
    int port;
};

// One buffer carries a whole request or a whole reply: a spectrum record
// (17248 bytes) with its protocol lines fits.
constexpr size_t MEMCACHE_BUFFER_SIZE = 17348;
// Slots 0..MEMCACHE_LAST_SLOT of every ring.
constexpr int MEMCACHE_LAST_SLOT = 50;

// Results of Memcache::get.
constexpr int MEMCACHE_OK = 0;
constexpr int MEMCACHE_MISSING = -1;       // the reply is not a value: no such item
constexpr int MEMCACHE_TOO_LARGE = -2;     // the item exceeds the caller's capacity
constexpr int MEMCACHE_LOST = -3;          // no whole reply in time, or the server closed
constexpr int MEMCACHE_WRITE_FAILED = -6;  // the request could not be sent
constexpr int MEMCACHE_READ_FAILED = -7;   // reading failed, or the reply made no sense

class Memcache {
public:
    int debug;
    memcache_server_st server;
    int sockfd;  // -1 when not connected
    sockaddr_in serv_addr;
    sockaddr_un address;
    hostent* hostip;

    // `timeout` bounds the wait for each whole reply.
    explicit Memcache(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    ~Memcache();
    Memcache(const Memcache&) = delete;
    Memcache& operator=(const Memcache&) = delete;

    // Where the server is; neither connects. 0 when the host (at most 19
    // characters) or the socket path does not fit. A path holding exactly one
    // "%d" or "%i" has it replaced by 1; any other '%' is a plain character.
    int serverAdd(const char* host, int port);
    int serverAdd(const char* socketFile);

    // Connects when not connected. A socket, lookup or connect failure ends
    // the process with status 1.
    int isConnected();

    // 1 only when the server answered "STORED"; 0 for any other answer, a
    // request that does not fit the buffer or a key the protocol cannot carry,
    // a lost connection or a time-out (these two close the socket, so the next
    // call connects again).
    int set(const char* key, void* data, unsigned int length);
    // Copies the item into buffer when it holds at most `capacity` bytes and
    // sets *length; otherwise one of the MEMCACHE_ codes, buffer untouched.
    int get(const char* key, void* buffer, unsigned int* length, unsigned int capacity);

    // Ring operations (slots 0..50, index item = slot written last).
    // add: an index item that is missing, too long or answered with a reply
    // that makes no sense starts the ring at slot 0 (index "0"); without an
    // answer from the server nothing is stored. Always 1.
    int add(const char* name, void* data, unsigned int length);
    // The record after slot `last` and its slot, -1 when none is newer or the
    // index cannot be read, or a negative MEMCACHE_ code from fetching it.
    int getNext(const char* name, int last, void* buffer, unsigned int* length, unsigned int capacity);
    int getIndex(const char* name);  // 0 when the index item cannot be read
    int setIndex(const char* name, int index);

    void close_socket();
    // select until fd is readable (1), `seconds` pass (0) or an error (-1);
    // an interrupted wait starts again with the same time-out.
    int input_timeout(int fd, unsigned int seconds);

private:
    enum class Exchange { Done, Lost, ReadFailed };
    bool sendAll(const char* data, size_t size);
    // Reads into buf until `complete` says the reply is whole, the time-out
    // passes or the stream ends.
    template <typename Complete>
    Exchange readReply(char* buf, size_t* have, Complete complete);
    int getIndexItem(const char* name, int* index);

    std::chrono::milliseconds timeout_;
};

// The server's replies, parsed from the bytes received so far. Pure functions,
// so that a fuzzer can drive them.
namespace memcachereply {

enum class Status {
    Incomplete,  // more bytes are needed
    Value,       // a whole "VALUE" reply: data at dataOffset, `length` bytes
    Stored,      // the line "STORED"
    NotValue,    // one whole line that is neither ("END", an error line)
    TooLarge,    // the announced item cannot fit in `room` bytes with its lines
    Malformed,   // cannot be a reply to the request
};

struct GetReply {
    Status status = Status::Incomplete;
    size_t dataOffset = 0;
    unsigned int length = 0;
    size_t total = 0;  // bytes of the whole reply once it is complete
};

// Reply to "get <key>" in buf[0..len); `room` is the most the reader can hold.
GetReply parseGet(const char* buf, size_t len, size_t room);

// Reply to "set": one line, Stored or NotValue; *lineEnd is then its byte
// count with the line end. Malformed when no line ends within `room` bytes.
Status parseSet(const char* buf, size_t len, size_t room, size_t* lineEnd);

}  // namespace memcachereply
