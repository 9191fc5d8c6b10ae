// Replies of a memcached server, as the ring client reads them: whatever the
// bytes, a whole value lies inside what was received and the client's buffer,
// and a reply is never judged whole one byte early.
#include <cstdint>
#include <cstdlib>

#include "memcache.h"

using memcachereply::Status;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // The first byte picks how much the reader can hold.
    size_t room = data[0] == 0 ? MEMCACHE_BUFFER_SIZE : 8 + data[0] * 4u;
    const char* buf = reinterpret_cast<const char*>(data + 1);
    size_t len = size - 1 < room ? size - 1 : room;

    memcachereply::GetReply r = memcachereply::parseGet(buf, len, room);
    if (r.status == Status::Value || r.status == Status::NotValue) {
        if (r.total > len || r.total > room) abort();
        if (r.status == Status::Value && r.dataOffset + r.length + 7 != r.total) abort();
        if (memcachereply::parseGet(buf, r.total - 1, room).status != Status::Incomplete) abort();
    }
    if (r.status == Status::Incomplete && len >= room) abort();

    size_t line = 0;
    Status s = memcachereply::parseSet(buf, len, room, &line);
    if ((s == Status::Stored || s == Status::NotValue) && (line == 0 || line > len)) abort();
    if (s == Status::Incomplete && len >= room) abort();
    return 0;
}
