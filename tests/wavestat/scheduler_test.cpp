// The record scheduler: calendar arithmetic, slots of the sample grid, and
// when analysis runs happen over which blocks, seen through the context.
#include <gtest/gtest.h>

#include "context.h"
#include "record.h"

using namespace wavestat_test;

TEST(DateStamp, StepsOverMidnightMonthsAndLeapYears)
{
    struct Case {
        DATESTAMP from;
        int micros;
        DATESTAMP expect;
    } cases[] = {
        {{20080301, 0, 0}, -1, {20080229, 86399, 999999}},
        {{20070301, 0, 0}, -1, {20070228, 86399, 999999}},
        {{20081231, 86399, 999999}, 1, {20090101, 0, 0}},
        {{20000301, 0, 0}, -1, {20000229, 86399, 999999}},  // 2000 is a leap year
        {{19000301, 0, 0}, -1, {19000228, 86399, 999999}},  // 1900 is not
        {{20080101, 10, 0}, -10000000, {20080101, 0, 0}},   // an exact negative second
        {{20080101, 5, 500000}, -7000000, {20071231, 86398, 500000}},
    };
    for (const Case& c : cases) {
        DATESTAMP s = c.from;
        s.AddMicroSeconds(c.micros);
        EXPECT_TRUE(s.Equal(c.expect)) << c.from.GetDate() << " " << c.micros << " -> " << s.GetDate() << " "
                                       << s.GetTime() << " " << s.GetMicroSeconds();
    }
    DATESTAMP d(20081231, 0, 0);
    d.NextDay();
    EXPECT_EQ(d.GetDate(), 20090101);
    d.PrevDay();
    EXPECT_EQ(d.GetDate(), 20081231);
}

TEST(Scheduler, CleanRecordRunsOnceAtTheBlockEdgeAndOnceWhenForced)
{
    // A gauge's tide filter leaves the first samples of the record without a
    // tide, so the run over block 0 alone keeps 2 of its 3 sub-series.
    Context c(GAUGE);
    const std::vector<float> x = Series(3072, 2.56, Wave(500.0, 50.0, 0.16));
    for (int i = 0; i < 3072; ++i) {
        const int ran = SWAPPutSample(c.ctx, 20080101, c.Time(i), x[i], 0.0f, 0.0f);
        ASSERT_EQ(ran, i == 1537 ? 1 : 0) << "sample " << i;
        if (ran) {
            SWAPtag_HLEV2 r{};
            r.size = sizeof r;
            ASSERT_EQ(SWAPGetHLevel2(c.ctx, &r), 1);
            EXPECT_EQ(r.date, 20080101);
            EXPECT_EQ(r.time, 0);
            EXPECT_EQ(r.p3000, 2.0f);
        }
    }
    ASSERT_EQ(c.Force(), 1);
    SWAPtag_HLEV2 r{};
    r.size = sizeof r;
    ASSERT_EQ(SWAPGetHLevel2(c.ctx, &r), 1);
    EXPECT_EQ(r.time, 10);
    EXPECT_EQ(r.p3000, 6.0f);
    EXPECT_NEAR(r.p1003, 141.42, 0.5);
}

TEST(Scheduler, DuplicateAndEarlierSamplesAreDropped)
{
    const std::vector<float> x = Series(3072, 2.56, Wave(0.0, 50.0, 0.1));
    Context clean(RIDER), noisy(RIDER);
    clean.Feed(x);
    for (int i = 0; i < 3072; ++i) {
        SWAPPutSample(noisy.ctx, 20080101, noisy.Time(i), x[i], 0.0f, 0.0f);
        SWAPPutSample(noisy.ctx, 20080101, noisy.Time(i), 999.0f, 0.0f, 0.0f);
        SWAPPutSample(noisy.ctx, 20080101, noisy.Time(i) - 100, -999.0f, 0.0f, 0.0f);
    }
    clean.Force();
    noisy.Force();
    for (int code : {1003, 2003, 3000, 3001, 3002, 3003, 3004, 3005})
        EXPECT_EQ(noisy.Get(code), clean.Get(code)) << code;
}

TEST(Scheduler, ForceRunsOnlyPastTheEndOfTheBlockInHand)
{
    Context c(RIDER);
    EXPECT_EQ(SWAPForce(c.ctx, 20080101, 700), 0); // nothing placed yet
    c.Feed(Series(1000, 2.56, Wave(0.0, 50.0, 0.1)));
    EXPECT_EQ(SWAPForce(c.ctx, 20080101, 599), 0);
    EXPECT_EQ(SWAPForce(c.ctx, 20080101, 600), 1);
    SWAPtag_HLEV2 r{};
    r.size = sizeof r;
    ASSERT_EQ(SWAPGetHLevel2(c.ctx, &r), 1);
    EXPECT_EQ(r.time, 0);
    EXPECT_EQ(r.p3001, 1000.0f * 100.0f / 3072.0f);
}

TEST(Scheduler, SlotsRoundToTheNearestGridTimeAcrossBlockEdges)
{
    // At 1.28 Hz a sample at 00:09:59.9 is nearer 00:10:00 than the last slot
    // of its block: it opens the next block.
    Context c(GAUGE_1_28);
    ASSERT_EQ(SWAPPutSample(c.ctx, 20080101, 0, 1.0f, 0.0f, 0.0f), 0);
    ASSERT_EQ(SWAPPutSample(c.ctx, 20080101, 599900, 2.0f, 0.0f, 0.0f), 0);
    ASSERT_EQ(SWAPPutSample(c.ctx, 20080101, 600781, 3.0f, 0.0f, 0.0f), 1);
    SWAPPutSample(c.ctx, 20080101, 601563, 4.0f, 0.0f, 0.0f); // rotates the blocks
    const std::vector<float> current = c.Array(0, 768);
    EXPECT_EQ(current[0], 2.0f);
    EXPECT_EQ(current[1], 3.0f);
    EXPECT_EQ(current[2], 4.0f);
    EXPECT_EQ(current[767], MISSING_VALUE);
}

TEST(Scheduler, NegativeTimesBelongToTheDayBefore)
{
    Context c(RIDER);
    ASSERT_EQ(SWAPPutSample(c.ctx, 20080101, -1000, 5.0f, 0.0f, 0.0f), 0);
    ASSERT_EQ(SWAPPutSample(c.ctx, 20080101, 0, 6.0f, 0.0f, 0.0f), 0);
    ASSERT_EQ(SWAPPutSample(c.ctx, 20080101, 391, 7.0f, 0.0f, 0.0f), 1);
    SWAPtag_HLEV0 r{};
    r.size = sizeof r;
    ASSERT_EQ(SWAPGetHLevel0(c.ctx, &r), 1);
    EXPECT_EQ(r.date, 20071231);
    EXPECT_EQ(r.time, 1430);
    EXPECT_EQ(r.s0[1533], 5.0f); // 23:59:59.000 in the block from 23:50
}

TEST(Scheduler, AJumpOfThreeBlocksStartsAnEmptyRecord)
{
    Context c(RIDER);
    const std::vector<float> block = Series(1536, 2.56, Wave(0.0, 50.0, 0.1));
    EXPECT_EQ(c.Feed(block), 0);
    // The first sample 30 minutes on runs the analysis of what was held.
    EXPECT_EQ(c.Feed({block[0]}, {}, {}, 1800000), 1);
    EXPECT_EQ(c.Get(3000), 3.0f);
    // Block 3 and the start of block 4: the run over blocks 2 (empty) and 3.
    std::vector<float> rest(block.begin() + 1, block.end());
    rest.push_back(block[0]);
    rest.push_back(block[1]);
    EXPECT_EQ(c.Feed(rest, {}, {}, 1800000 + 391), 1);
    EXPECT_EQ(c.Get(3000), 3.0f);
    SWAPtag_HLEV2 r{};
    r.size = sizeof r;
    ASSERT_EQ(SWAPGetHLevel2(c.ctx, &r), 1);
    EXPECT_EQ(r.time, 30);
    EXPECT_EQ(r.p3001, 50.0f);
}
