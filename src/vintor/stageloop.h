// The hand-over every stage of the radar chain follows: at start it resets a
// semaphore flag; then, for ever, it drains its input rings record by record,
// sets its output flag and waits on its input flag. A stage supplies only what
// it does with one record (and its debug lines around the hand-over).
#pragma once

#include <cstdio>
#include <string>

#include <zmq.hpp>

#include "feedbind.h"

class SharedMem;

// A ring a stage reads and the slot it took last.
struct radarlist_st {
    int index;      // slot of the last record taken from the ring
    char name[20];  // ring and configuration section
};

// The flags of a stage and the texts perror gives when they fail.
struct StageFlags {
    int inputKey;
    int outputKey;               // -1: the stage posts nothing and resets its input flag instead
    const char* semgetFailure;   // nullptr: the sets are used unchecked
    bool resetChecked;           // a failing reset ends the stage with postFailure
    const char* postFailure;
    const char* waitFailure;
};

// What a stage does in the loop. Records are read where they lie in the ring.
class ChainStage {
public:
    virtual ~ChainStage() = default;
    virtual void onRecord(const void* record, int slot) = 0;
    // After every read of `ring` from slot `last`; slot is -1 when nothing was new.
    virtual void traceRead(const radarlist_st& /*ring*/, int /*last*/, int /*slot*/) {}
    // When every ring is drained, before the post.
    virtual void traceIdle() {}
    // After the post, before the wait.
    virtual void tracePosted(int /*outputSem*/, int /*inputSem*/) {}
};

class StageLoop {
public:
    // Obtains the flags and resets the output one (the input one when there is none).
    explicit StageLoop(const StageFlags& flags);

    // The loop over `count` input rings; ends the process with status 1 when a post or a wait fails.
    [[noreturn]] void run(SharedMem& sm, radarlist_st* inputs, int count, ChainStage& stage);

    // One input ring, read from its newest record on.
    static radarlist_st newestOf(SharedMem& sm, const char* ring);

private:
    StageFlags flags_;
    int inputSem_;
    int outputSem_ = -1;
};

// The feed a stage publishes its records on.
template <class Record>
struct StageFeed {
    FeedRecord<Record> record;  // before the context: ZeroMQ may still hold one of its buffers when that ends
    zmq::context_t context{1, 1023};
    zmq::socket_t publisher{context, zmq::socket_type::pub};

    // Binds "tcp://*:<port>", first printing "Starting <label> publisher: <address>\n"
    // when `announce`; a failed bind ends the stage.
    void bind(int port, const char* label, bool announce)
    {
        const std::string address = feedAddress(port);
        if (announce)
            printf("Starting %s publisher: %s\n", label, address.c_str());
        bindFeed(publisher, address, label, BindFailure::EndStage);
    }
    Record& next() { return record.next(); }
    void send() { record.send(publisher); }
};
