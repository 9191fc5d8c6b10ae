// How a stage publishes the records of its feed (binding it: publisherbind.h).
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>

#include <zmq.hpp>

#include "publisherbind.h"

// A socket a stage listens on cannot be bound (errno says why): prints
// "<label> <address>:<port>: <reason>" on standard error, then `text` as
// perror writes it, and ends the process with status 1 (the supervisor, or
// for a radar the radar manager, starts it again).
[[noreturn]] void listenerBindFailed(const char* label, const sockaddr_in& address, const char* text);

// The configured port of a socket a stage listens on. One that is no port
// number (the socket call would take it modulo 65536, or 0 as any port) ends
// the process as a failed bind does: "<label> port <port>: not a port number
// (1-65535)" on standard error, status 1.
int listenerPort(const char* label, long port);

// The record a stage stores in its ring and publishes, built once in a buffer
// the feed's message then takes without a copy or an allocation: with nobody
// subscribed ZeroMQ hands it back at once, otherwise when the last
// subscriber's copy is on its way. A record is built over the last one (the
// fields it does not set keep their values), so while ZeroMQ still holds that
// buffer the next one starts as its copy; with every buffer held, the record
// is built in one never lent and its message is a copy, as a plain send makes.
template <class Record>
class FeedRecord {
public:
    FeedRecord() : buffers_(new Buffer[spare + 1]()) {}
    ~FeedRecord()
    {
        // A buffer ZeroMQ still holds must outlive this: leave them.
        for (int i = 0; i < spare; ++i)
            if (lent(i)) {
                buffers_.release();
                return;
            }
    }
    FeedRecord(const FeedRecord&) = delete;
    FeedRecord& operator=(const FeedRecord&) = delete;

    // Where to build the next record: the last one's contents.
    Record& next()
    {
        if (current_ != spare && !lent(current_))
            return buffers_[current_].record;
        int to = spare;
        for (int i = 0; i < spare; ++i)
            if (!lent(i)) {
                to = i;
                break;
            }
        if (to != current_) {
            std::memcpy(&buffers_[to].record, &buffers_[current_].record, sizeof(Record));
            current_ = to;
        }
        return buffers_[current_].record;
    }

    // Publishes the record next() gave.
    void send(zmq::socket_t& publisher)
    {
        Buffer& b = buffers_[current_];
        if (current_ == spare) {
            publisher.send(zmq::const_buffer(&b.record, sizeof(Record)), zmq::send_flags::none);
            return;
        }
        b.lent.store(true, std::memory_order_relaxed);
        zmq::message_t message(&b.record, sizeof(Record), giveBack, &b.lent);
        publisher.send(message, zmq::send_flags::none);
    }

private:
    static constexpr int spare = 4;  // buffers that can be lent; one more is never lent
    struct Buffer {
        Record record;
        std::atomic<bool> lent{false};
    };
    bool lent(int i) const { return buffers_[i].lent.load(std::memory_order_acquire); }
    static void giveBack(void*, void* lent)
    {
        static_cast<std::atomic<bool>*>(lent)->store(false, std::memory_order_release);
    }

    std::unique_ptr<Buffer[]> buffers_;
    int current_ = 0;
};
