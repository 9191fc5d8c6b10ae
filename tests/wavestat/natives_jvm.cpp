// libwavestat's natives called from a real JVM (JNI checks on) through the
// Java classes that declare them, with records whose answers physics gives.
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "context.h"
#include "jvm.h"
#include "record.h"

using namespace wavestat_test;

namespace {

const char* const kPlain = "([I[FI[I[F)I";
const char* const kDirectional = "([I[F[F[FFI[I[F)I";

// Times of a 2.56 Hz record in whole milliseconds.
std::vector<int> Times(int n, double intervalMs)
{
    std::vector<int> t(n);
    for (int i = 0; i < n; ++i)
        t[i] = static_cast<int>(i * intervalMs);
    return t;
}

jintArray Ints(JNIEnv* env, const std::vector<int>& v)
{
    jintArray a = env->NewIntArray(static_cast<jsize>(v.size()));
    env->SetIntArrayRegion(a, 0, static_cast<jsize>(v.size()), v.data());
    return a;
}

jfloatArray Floats(JNIEnv* env, const std::vector<float>& v)
{
    jfloatArray a = env->NewFloatArray(static_cast<jsize>(v.size()));
    env->SetFloatArrayRegion(a, 0, static_cast<jsize>(v.size()), v.data());
    return a;
}

std::vector<float> Values(JNIEnv* env, jfloatArray a)
{
    std::vector<float> v(static_cast<size_t>(env->GetArrayLength(a)));
    env->GetFloatArrayRegion(a, 0, static_cast<jsize>(v.size()), v.data());
    return v;
}

// One call of the non-directional native on any attached thread; the result
// array holds `size` sentinels before.  -1 when the call threw.
jint CallHeights(JNIEnv* env, jobject plain, const std::vector<int>& t, const std::vector<float>& h, int maxWaves,
                 const std::vector<int>& codes, int size, std::vector<float>* result)
{
    env->PushLocalFrame(16);
    jclass cls = env->GetObjectClass(plain);
    const jmethodID method = env->GetMethodID(cls, "swapGetHLevelFromSamples", kPlain);
    jfloatArray r = Floats(env, std::vector<float>(size, -7.0f));
    jint n = env->CallIntMethod(plain, method, Ints(env, t), Floats(env, h), maxWaves, Ints(env, codes), r);
    if (env->ExceptionCheck())
        n = -1;
    else
        *result = Values(env, r);
    env->PopLocalFrame(nullptr);
    return n;
}

class WaveNatives : public testsupport::JvmTest {
protected:
    void SetUp() override
    {
        JvmTest::SetUp();
        // Room for the arrays a test makes; all freed together at its end.
        ASSERT_EQ(env->PushLocalFrame(1024), 0);
        plain = newObject("kestrom/brim/dataprocessor/swap/SWAPDataProcessor");
        directional = newObject("kestrom/brim/dataprocessor/swap/SWAPDirDataProcessor");
        ASSERT_TRUE(plain && directional) << takeException();
    }
    void TearDown() override
    {
        env->PopLocalFrame(nullptr);
        JvmTest::TearDown();
    }

    jintArray Ints(const std::vector<int>& v) { return ::Ints(env, v); }
    jfloatArray Floats(const std::vector<float>& v) { return ::Floats(env, v); }
    std::vector<float> Values(jfloatArray a) { return ::Values(env, a); }
    jint Heights(const std::vector<int>& t, const std::vector<float>& h, int maxWaves, const std::vector<int>& codes,
                 int size, std::vector<float>* result)
    {
        return CallHeights(env, plain, t, h, maxWaves, codes, size, result);
    }

    jobject plain = nullptr;
    jobject directional = nullptr;
};

} // namespace

TEST_F(WaveNatives, SineRecordGivesItsParametersByCode)
{
    // 500 + 50 cos(2 pi i / 16) at 2.56 Hz: a 6.25 s (160 mHz) wave, Hm0 = 4
    // sqrt(50^2 / 2), 191 whole waves of height 100 in 20 minutes.
    const std::vector<float> h = Series(3072, 2.56, Wave(500.0, 50.0, 0.16));
    std::vector<float> r;
    ASSERT_EQ(Heights(Times(3072, 390.625), h, 200, {102, 113, 157, 150, 8, 6, 7}, 405, &r), 3072);
    EXPECT_NEAR(r[0], 4.0 * std::sqrt(1250.0), 0.005 * 141.42);
    EXPECT_EQ(r[1], 160.0f);
    EXPECT_EQ(r[2], 6.25f);
    // The second ten minutes without the sample at exactly 600,000 ms (a crest).
    EXPECT_NEAR(r[3], 500.0 - 50.0 / 1535.0, 1e-3);
    EXPECT_EQ(r[4], 191.0f);
    for (int i = 0; i < 200; ++i) {
        EXPECT_NEAR(r[5 + i], i < 191 ? 100.0 : 0.0, 0.5) << "height " << i;
        EXPECT_NEAR(r[205 + i], i < 191 ? 6.25 : 0.0, 0.05) << "period " << i;
    }
}

TEST_F(WaveNatives, RefusedRecordsLeaveTheResultUntouched)
{
    const struct {
        size_t times, heights;
        bool nullHeights;
        const char* printed;
    } cases[] = {
        {10, 9, false, "SWAP ERROR: arrays are not the same size: 10, 9 \n"},
        {0, 0, false, "SWAP ERROR: not enough elements: 0\n"},
        {10, 0, true, "SWAP ERROR: array missing: heights\n"},
    };
    for (const auto& c : cases) {
        const std::string before = output();
        jfloatArray r = Floats(std::vector<float>(4, -7.0f));
        jfloatArray heights = c.nullHeights ? nullptr : Floats(std::vector<float>(c.heights, 1.0f));
        EXPECT_EQ(callInt(plain, "swapGetHLevelFromSamples", kPlain, Ints(std::vector<int>(c.times, 0)), heights, 5,
                          Ints({8}), r),
                  0);
        EXPECT_EQ(output().substr(before.size()), c.printed);
        EXPECT_EQ(Values(r), std::vector<float>(4, -7.0f));
    }
    const std::string before = output();
    jfloatArray r = Floats(std::vector<float>(4, -7.0f));
    jfloatArray one = Floats({1.0f});
    EXPECT_EQ(callInt(directional, "swapGetHDLevelFromSamples", kDirectional, Ints({0}), one, one, one, 0.0f, 5,
                      Ints({8}), r),
              0);
    EXPECT_EQ(output().substr(before.size()), "SWAP ERROR: not enough elements: 1\n");
    EXPECT_EQ(Values(r), std::vector<float>(4, -7.0f));
    const std::string beforeNull = output();
    EXPECT_EQ(callInt(directional, "swapGetHDLevelFromSamples", kDirectional, Ints({0, 1}), Floats({1, 2}), nullptr,
                      Floats({1, 2}), 0.0f, 5, Ints({8}), r),
              0);
    EXPECT_EQ(output().substr(beforeNull.size()), "SWAP ERROR: array missing: x\n");
    EXPECT_EQ(Values(r), std::vector<float>(4, -7.0f));
}

TEST_F(WaveNatives, UnknownCodesAndAShortResultArray)
{
    const std::vector<float> h = Series(3072, 2.56, Wave(500.0, 50.0, 0.16));
    std::vector<float> r;
    ASSERT_EQ(Heights(Times(3072, 390.625), h, 5, {99, 144, 13, 163, 8}, 5, &r), 3072);
    EXPECT_EQ(output(), "SWAP ERROR: Unknown type 144\nSWAP ERROR: Unknown type 163\n");
    EXPECT_EQ(std::vector<float>(r.begin(), r.begin() + 4), std::vector<float>(4, MISSING_VALUE));
    EXPECT_EQ(r[4], 191.0f);
    // Room for 3 of 201 values: the JVM's checked copy shows any write beyond.
    ASSERT_EQ(Heights(Times(3072, 390.625), h, 200, {8, 6}, 3, &r), 3072);
    EXPECT_EQ(r[0], 191.0f);
    EXPECT_NEAR(r[2], 100.0, 0.5);
}

TEST_F(WaveNatives, MeanIntervalAbove400msMeansTheSlowGauge)
{
    // 2999 samples: over 1,199,600 ms the mean interval (divided by n) is
    // 400.0 ms exactly, 2.56 Hz; over 1,199,900 ms 400.1 ms, 1.28 Hz, where
    // the parameters reaching 1000 mHz do not exist.
    const std::vector<int> fastOnly = {104, 105, 107, 108, 110, 114, 118};
    for (int last : {1199600, 1199900}) {
        std::vector<int> t(2999);
        std::vector<float> h(2999);
        for (int i = 0; i < 2999; ++i) {
            t[i] = static_cast<int>(static_cast<long long>(i) * last / 2998);
            h[i] = static_cast<float>(50.0 * std::cos(2.0 * M_PI * 0.1 * t[i] / 1000.0));
        }
        std::vector<float> r;
        ASSERT_EQ(Heights(t, h, 0, fastOnly, 7, &r), 2999);
        for (size_t i = 0; i < fastOnly.size(); ++i)
            EXPECT_EQ(r[i] == MISSING_VALUE, last == 1199900) << fastOnly[i] << " over " << last;
    }
}

TEST_F(WaveNatives, DirectionalRecordGivesDirectionAndSpreadingMatrix)
{
    // A train from x east, y north travelling towards 30 degrees comes from
    // 240; theta0 = 20 turns that to 260.  Code 13 takes 51 x 91 values on
    // the grid of the coefficients themselves, without theta0.
    const DirRecord d(1536, 1.28, {{100.0, 0.1, 30.0, 0.0}});
    std::vector<float> heave = d.heave;
    for (float& v : heave)
        v += 300.0f;
    jfloatArray r = Floats(std::vector<float>(4643 + 2, -7.0f));
    ASSERT_EQ(callInt(directional, "swapGetHDLevelFromSamples", kDirectional, Ints(Times(1536, 781.25)),
                      Floats(heave), Floats(d.x), Floats(d.y), 20.0f, 5, Ints({163, 13, 150}), r),
              1536);
    const std::vector<float> v = Values(r);
    EXPECT_LT(AngleBetween(v[0], ComingFrom(30.0, 20.0)), 0.5);
    // Row 10 (100 mHz) peaks in the column of 240 degrees.
    const float* row = &v[1 + 10 * 91];
    int peak = 0;
    for (int n = 1; n < 90; ++n)
        if (row[n] > row[peak])
            peak = n;
    EXPECT_EQ(peak, 60);
    EXPECT_EQ(row[90], row[0]);
    // Mean level: the samples after 600,000 ms.
    double level = 0.0;
    for (int i = 769; i < 1536; ++i)
        level += heave[i] / 767.0;
    EXPECT_NEAR(v[4642], level, 1e-3);
    EXPECT_EQ(v[4643], -7.0f);
}

TEST_F(WaveNatives, Theta0TurnsEveryDirectionByItsPartOfATurn)
{
    // One train coming from 240 degrees.  Codes: 163, 165 (51 values), the
    // band directions 167, 169, 171, 173, and the spread 164, which no offset
    // touches.
    const DirRecord d(1536, 1.28, {{100.0, 0.1, 30.0, 0.0}});
    const std::vector<int> codes = {163, 165, 167, 169, 171, 173, 164};
    const size_t spread = 56;
    auto directions = [&](float theta0) {
        jfloatArray r = Floats(std::vector<float>(spread + 1, -7.0f));
        EXPECT_EQ(callInt(directional, "swapGetHDLevelFromSamples", kDirectional, Ints(Times(1536, 781.25)),
                          Floats(d.heave), Floats(d.x), Floats(d.y), theta0, 5, Ints(codes), r),
                  1536)
            << theta0;
        return Values(r);
    };
    const std::vector<float> north = directions(0.0f);
    EXPECT_LT(AngleBetween(north[0], ComingFrom(30.0)), 0.5);
    ASSERT_LT(north[spread], 1.0f);
    const std::vector<float> east = directions(90.0f);
    EXPECT_LT(AngleBetween(east[0], ComingFrom(30.0, 90.0)), 0.5);
    for (size_t i = 0; i < spread; ++i) {
        if (north[i] == MISSING_VALUE)
            EXPECT_EQ(east[i], MISSING_VALUE) << i;
        else
            EXPECT_LT(AngleBetween(east[i], north[i] + 90.0), 1e-3) << i;
    }
    // A large offset acts as its remainder of a turn (as Java's % gives it).
    for (float theta0 : {1e30f, 360e6f + 90.0f, -1e30f}) {
        const float part = static_cast<float>(std::fmod(static_cast<double>(theta0), 360.0));
        const std::vector<float> turned = directions(theta0);
        EXPECT_LT(AngleBetween(turned[0], ComingFrom(30.0, part)), 0.5) << theta0;
        EXPECT_EQ(turned, directions(part)) << theta0 << " as " << part;
    }
    // The missing mark of either sign is no offset: no direction, the rest kept.
    for (float theta0 : {MISSING_VALUE, -MISSING_VALUE}) {
        const std::vector<float> none = directions(theta0);
        EXPECT_EQ(std::vector<float>(none.begin(), none.begin() + spread), std::vector<float>(spread, MISSING_VALUE))
            << theta0;
        EXPECT_EQ(none[spread], north[spread]);
    }
}

TEST_F(WaveNatives, TwoJavaThreadsGetTheSerialResults)
{
    // Records of different heights and periods, first one after the other,
    // then from two threads at once.
    const std::vector<int> codes = {102, 113, 150, 8, 6};
    std::vector<std::vector<float>> records;
    std::vector<std::vector<float>> serial;
    for (int k = 0; k < 4; ++k) {
        records.push_back(Series(3072, 2.56, Wave(100.0 * k, 20.0 + 10.0 * k, 0.08 + 0.02 * k)));
        std::vector<float> r;
        Heights(Times(3072, 390.625), records.back(), 50, codes, 54, &r);
        serial.push_back(r);
    }
    JavaVM* vm = nullptr;
    ASSERT_EQ(env->GetJavaVM(&vm), JNI_OK);
    const jobject shared = env->NewGlobalRef(plain);
    int mismatches[2] = {0, 0};
    auto worker = [&](int id) {
        JNIEnv* e = nullptr;
        vm->AttachCurrentThread(reinterpret_cast<void**>(&e), nullptr);
        for (int call = 0; call < 50; ++call) {
            const int k = (call + 2 * id) % 4;
            std::vector<float> r;
            CallHeights(e, shared, Times(3072, 390.625), records[k], 50, codes, 54, &r);
            mismatches[id] += r != serial[k];
        }
        vm->DetachCurrentThread();
    };
    std::thread a(worker, 0), b(worker, 1);
    a.join();
    b.join();
    env->DeleteGlobalRef(shared);
    EXPECT_EQ(mismatches[0], 0);
    EXPECT_EQ(mismatches[1], 0);
}
