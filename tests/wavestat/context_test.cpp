// The context API: which contexts open, the input screen, the messages of the
// code getters, and every field of every record against the value of its
// code (which pins the orders with their deliberate swaps).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "context.h"
#include "record.h"

using namespace wavestat_test;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

template <typename Record>
Record Blank()
{
    Record r;
    std::memset(&r, 0x5a, sizeof r);
    r.size = sizeof r;
    return r;
}

// A 2.56 Hz record whose cleaning counters all differ: a flat run of 27
// samples, two outliers, one step, and single missing samples to repair.
std::vector<float> Troubled()
{
    std::vector<float> x = Series(3072, 2.56, Wave(0.0, 50.0, 0.1));
    for (int i = 400; i < 427; ++i)
        x[i] = 7.0f;
    x[1000] = 900.0f;
    x[2000] = -900.0f;
    for (int i = 2500; i < 3072; ++i)
        x[i] += 40.0f;
    x[1500] = MISSING_VALUE;
    return x;
}

} // namespace

TEST(Context, OpensForTheSixSensorTypesOnly)
{
    SWAPtag_PARM parm{};
    parm.size = 52;
    for (int type = -1; type <= 6; ++type) {
        parm.sensorType = type;
        SWAPWaveAnalysis* c = SWAPOpenContext(&parm);
        EXPECT_EQ(c != nullptr, type >= 0 && type <= 5) << type;
        SWAPCloseContext(c);
    }
    parm.sensorType = 3;
    parm.size = 48;
    EXPECT_EQ(SWAPOpenContext(&parm), nullptr);
    EXPECT_EQ(SWAPOpenContext(nullptr), nullptr);
    EXPECT_EQ(SWAPPutSample(nullptr, 20080101, 0, 1.0f, 0.0f, 0.0f), 0);
    SWAPtag_HLEV1 r = Blank<SWAPtag_HLEV1>();
    EXPECT_EQ(SWAPGetHLevel1(nullptr, &r), 0);
}

TEST(Context, StoredOnlyParametersChangeNoResult)
{
    const std::vector<float> x = Troubled();
    SWAPtag_PARM parm{52, 2, 0.0f, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    SWAPWaveAnalysis* plain = SWAPOpenContext(&parm);
    parm = {52, 2, 0.0f, 3, 1.5f, -2.5f, 10, 20, 30, -10, -20, -30, 45};
    SWAPWaveAnalysis* stored = SWAPOpenContext(&parm);
    for (SWAPWaveAnalysis* c : {plain, stored}) {
        for (int i = 0; i < 3072; ++i)
            SWAPPutSample(c, 20080101, static_cast<long>(i * 390.625), x[i], 0.0f, 0.0f);
        SWAPPutSample(c, 0, 0, 0.0f, 0.0f, 0.0f);
    }
    SWAPtag_HLEV2 a = Blank<SWAPtag_HLEV2>(), b = Blank<SWAPtag_HLEV2>();
    ASSERT_EQ(SWAPGetHLevel2(plain, &a), 1);
    ASSERT_EQ(SWAPGetHLevel2(stored, &b), 1);
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
    SWAPCloseContext(plain);
    SWAPCloseContext(stored);
}

TEST(Context, OutOfRangeAndNonNumbersEnterAsMissingWithFlagNine)
{
    Context c(RIDER);
    const float values[] = {1000000.0f, 1000000.1f, -1000000.1f, NAN, INFINITY, -1000000.0f};
    for (int i = 0; i < 6; ++i)
        SWAPPutSample(c.ctx, 20080101, c.Time(i), values[i], 0.0f, 0.0f);
    SWAPtag_HLEV0 r = Blank<SWAPtag_HLEV0>();
    ASSERT_EQ(SWAPGetHLevel0(c.ctx, &r), 1);
    const float kept[] = {1000000.0f, MISSING_VALUE, MISSING_VALUE, MISSING_VALUE, MISSING_VALUE, -1000000.0f};
    const int32_t flags[] = {1, 9, 9, 9, 9, 1};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(r.s0[i], kept[i]) << i;
        EXPECT_EQ(r.q0[i], flags[i]) << i;
    }
    EXPECT_EQ(r.q0[6], 0);
}

TEST(Context, GettersNameTheCodesTheyDoNotHold)
{
    Context c(GAUGE);
    const struct {
        int code;
        const char* message;
    } scalars[] = {
        {5000, "Non existent level in Get(level, parm): level = 5\n"},
        {1500, "Non existent SPC_H_SPEC: parm = 1500\n"},
        {1000, "Non existent SPC_H_SPEC: parm = 1000\n"},
        {3006, "Non existent SPC_H_QUAL: parm = 3006\n"},
        {2000, "Non existent SPC_H_CLAS: parm = 2000\n"},
        {4007, ""}, // no directional analysis on a gauge: silently missing
    };
    for (const auto& s : scalars) {
        CaptureStdout();
        EXPECT_EQ(c.Get(s.code), MISSING_VALUE);
        EXPECT_EQ(GetCapturedStdout(), s.message) << s.code;
    }
    const struct {
        int code;
        const char* message;
    } arrays[] = {
        {6, "Non existent SPC_0_SENS: parm = 6\n"},
        {1002, "Non existent SPC_H_SPEC array = 1002\n"},
        {2002, "Non existent SPC_H_CLAS: array = 2002\n"},
        {3000, "Non existent level in Get(level, parm, index): level = 3\n"},
        {1, ""}, // a signal the gauge does not have
    };
    for (const auto& a : arrays) {
        CaptureStdout();
        for (float v : c.Array(a.code, 20))
            EXPECT_EQ(v, MISSING_VALUE) << a.code;
        EXPECT_EQ(GetCapturedStdout(), a.message) << a.code;
    }
    Context d(GAUGE_ARRAY);
    CaptureStdout();
    d.Array(4007, 5);
    d.Array(5007, 5);
    d.Get(6011);
    EXPECT_EQ(GetCapturedStdout(), "Non existent SPC_D_SPEC: array = 4007\nNon existent SPC_H_BAND: parm = 5007\n"
                                   "Non existent SPC_H_QUAL: parm = 6011\n");
}

TEST(Context, RecordGettersRefuseAWrongSizeAndLeaveTheRecordUntouched)
{
    Context gauge(GAUGE), array(GAUGE_ARRAY);
    SWAPtag_HLEV2 r = Blank<SWAPtag_HLEV2>();
    r.size = 395;
    const SWAPtag_HLEV2 before = r;
    EXPECT_EQ(SWAPGetHLevel2(gauge.ctx, &r), 0);
    EXPECT_EQ(std::memcmp(&r, &before, sizeof r), 0);
    // The directional records need a directional sensor.
    SWAPtag_HDLEV2 d = Blank<SWAPtag_HDLEV2>();
    EXPECT_EQ(SWAPGetHDLevel2(gauge.ctx, &d), 0);
    EXPECT_EQ(SWAPGetHDLevel2(array.ctx, &d), 1);
    SWAPtag_HDLEV0 d0 = Blank<SWAPtag_HDLEV0>();
    EXPECT_EQ(SWAPGetHDLevel0(gauge.ctx, &d0), 0);
    EXPECT_EQ(SWAPGetHDLevel3(array.ctx, &d0), 1);
}

TEST(Context, SlowContextsLeaveTheTailOfTheLongRecordsMissing)
{
    // A 1.28 Hz context has 768 samples per block and 1536 per record.
    Context c(GAUGE_1_28);
    c.Feed(Series(1536, 1.28, Wave(10.0, 5.0, 0.1)));
    c.Force();
    SWAPtag_HLEV0 r0 = Blank<SWAPtag_HLEV0>();
    SWAPtag_HLEV4 r4 = Blank<SWAPtag_HLEV4>();
    ASSERT_EQ(SWAPGetHLevel3(c.ctx, &r0), 1);
    ASSERT_EQ(SWAPGetHLevel4(c.ctx, &r4), 1);
    EXPECT_NE(r0.s0[767], MISSING_VALUE);
    EXPECT_NE(r4.s3[1535], MISSING_VALUE);
    for (int i = 768; i < 1536; ++i)
        ASSERT_TRUE(r0.s0[i] == MISSING_VALUE && r0.q0[i] == 0) << i;
    for (int i = 1536; i < 3072; ++i)
        ASSERT_TRUE(r4.s3[i] == MISSING_VALUE && r4.q3[i] == 0) << i;
}

#define EXPECT_FIELD(record, code) EXPECT_EQ(record.p##code, c.Get(code)) << #code
#define EXPECT_ARRAY(record, code, n) \
    EXPECT_EQ(std::vector<float>(record.s##code, record.s##code + n), c.Array(code, n)) << #code

TEST(Context, HeaveRecordFieldsHoldTheirCodes)
{
    Context c(RIDER);
    c.Feed(Troubled());
    ASSERT_EQ(c.Force(), 1);
    // The counters differ (jumps, outliers, flat run, repaired), so a swapped
    // field shows.
    const float counters[] = {1, 2, 27, 4};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(c.Get(3002 + i), counters[i]) << 3002 + i;
    SWAPtag_HLEV1 r1 = Blank<SWAPtag_HLEV1>();
    SWAPtag_HLEV2 r2 = Blank<SWAPtag_HLEV2>();
    ASSERT_EQ(SWAPGetHLevel1(c.ctx, &r1), 1);
    ASSERT_EQ(SWAPGetHLevel2(c.ctx, &r2), 1);
    EXPECT_ARRAY(r1, 1000, 101);
    EXPECT_ARRAY(r1, 2000, 600);
    EXPECT_ARRAY(r1, 2001, 600);
    EXPECT_FIELD(r1, 2002);
    EXPECT_ARRAY(r2, 1001, 51);
    const float* p = &r2.p1002;
    for (int code = 1002; code <= 1017; ++code)
        EXPECT_EQ(*p++, c.Get(code)) << code;
    EXPECT_FIELD(r2, 1021);
    EXPECT_FIELD(r2, 1018);
    EXPECT_FIELD(r2, 1019);
    EXPECT_FIELD(r2, 1020);
    p = &r2.p2003;
    for (int code = 2003; code <= 2021; ++code)
        EXPECT_EQ(*p++, c.Get(code)) << code;
    EXPECT_FIELD(r2, 3000);
    EXPECT_FIELD(r2, 3001);
    EXPECT_FIELD(r2, 3004);
    EXPECT_FIELD(r2, 3003);
    EXPECT_FIELD(r2, 3002);
    EXPECT_FIELD(r2, 3005);
    EXPECT_EQ(r2.date, 20080101);
    EXPECT_EQ(r2.time, 10);
}

TEST(Context, DirectionalRecordFieldsHoldTheirCodes)
{
    Context c(GAUGE_ARRAY, 15.0f);
    DirRecord d(1536, 1.28, {{100.0, 0.1, 60.0, 0.0}, {40.0, 0.22, 150.0, 0.0}});
    // Different troubles in the two horizontal signals.
    for (int i = 300; i < 320; ++i)
        d.x[i] = 3.0f;
    d.y[900] = 2000.0f;
    d.y[1200] = MISSING_VALUE;
    c.Feed(d.heave, d.x, d.y);
    ASSERT_EQ(c.Force(), 1);
    SWAPtag_HDLEV1 r1 = Blank<SWAPtag_HDLEV1>();
    SWAPtag_HDLEV2 r2 = Blank<SWAPtag_HDLEV2>();
    ASSERT_EQ(SWAPGetHDLevel1(c.ctx, &r1), 1);
    ASSERT_EQ(SWAPGetHDLevel2(c.ctx, &r2), 1);
    EXPECT_ARRAY(r1, 1000, 101);
    EXPECT_FIELD(r1, 2002);
    for (int code = 4000; code <= 4004; ++code)
        EXPECT_EQ(std::vector<float>(r1.s4000 + 101 * (code - 4000), r1.s4000 + 101 * (code - 3999)),
                  c.Array(code, 101))
            << code;
    EXPECT_ARRAY(r2, 1001, 51);
    const int heave[] = {1002, 1003, 1006, 1009, 1011, 1012, 1013, 1014, 1015, 1016, 1021, 1018, 1019, 1020};
    const float* p = &r2.p1002;
    for (int code : heave)
        EXPECT_EQ(*p++, c.Get(code)) << code;
    for (int code = 2003; code <= 2021; ++code)
        EXPECT_EQ(*p++, c.Get(code)) << code;
    EXPECT_ARRAY(r2, 4005, 51);
    EXPECT_ARRAY(r2, 4006, 51);
    p = &r2.p4007;
    for (int code = 4007; code <= 4011; ++code)
        EXPECT_EQ(*p++, c.Get(code)) << code;
    for (int code = 5000; code <= 5006; ++code)
        EXPECT_EQ(std::vector<float>(r2.s5000 + 15 * (code - 5000), r2.s5000 + 15 * (code - 4999)),
                  c.Array(code, 15))
            << code;
    const int quality[] = {3000, 3001, 3004, 3003, 3002, 3005, 6000, 6001,
                           6002, 6005, 6004, 6003, 6006, 6009, 6008, 6007, 6010};
    p = &r2.p3000;
    for (int code : quality)
        EXPECT_EQ(*p++, c.Get(code)) << code;
    // The counters of the two signals differ.
    EXPECT_NE(c.Get(6005), c.Get(6009));
    EXPECT_NE(c.Get(6004), c.Get(6008));
}
