// A stage's feed record: built in place, lent to ZeroMQ, never changed while lent.
#include <gtest/gtest.h>

#include <zmq.hpp>

#include "feedbind.h"

namespace {

struct Rec {
    int n;
    int untouched;
};

}  // namespace

TEST(FeedRecord, ALentRecordIsNeverChangedAndTheNextStartsAsItsCopy)
{
    // In-process pipes keep a message until the subscriber takes it, so a
    // subscriber that does not read holds every buffer the feed lent it.
    zmq::context_t ctx;
    zmq::socket_t pub(ctx, zmq::socket_type::pub);
    pub.bind("inproc://feed");
    zmq::socket_t sub(ctx, zmq::socket_type::sub);
    sub.set(zmq::sockopt::subscribe, "");
    sub.connect("inproc://feed");
    FeedRecord<Rec> feed;
    {  // With nobody subscribed yet the buffer comes straight back.
        zmq::socket_t lone(ctx, zmq::socket_type::pub);
        lone.bind("inproc://nobody");
        Rec* first = &feed.next();
        *first = {0, 42};
        feed.send(lone);
        EXPECT_EQ(&feed.next(), first);
    }
    // Four buffers lent, then two records in the one never lent.
    for (int n = 1; n <= 6; ++n) {
        Rec& r = feed.next();
        EXPECT_EQ(r.untouched, 42) << n;
        EXPECT_EQ(r.n, n - 1) << n;
        r.n = n;
        feed.send(pub);
    }
    for (int n = 1; n <= 6; ++n) {
        zmq::message_t m;
        ASSERT_TRUE(sub.recv(m));
        ASSERT_EQ(m.size(), sizeof(Rec));
        EXPECT_EQ(m.data<Rec>()->n, n) << "message " << n << " was changed after it was sent";
        EXPECT_EQ(m.data<Rec>()->untouched, 42);
    }
}
