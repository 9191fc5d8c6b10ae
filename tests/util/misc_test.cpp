#include "misc.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>

using namespace util;

TEST(Geometry, FourierDistanceMatchesTheWorkedValues)
{
    struct { int n; float cm; } cases[] = {
        {256, 58.535648f}, {512, 29.267824f}, {1024, 14.633912f}, {0, 0.0f}, {-5, 0.0f},
    };
    for (auto& c : cases)
        EXPECT_EQ(getFourierDistance(c.n), c.cm) << "n=" << c.n;
}

TEST(Geometry, FourierDistanceFollowsRangeResolution)
{
    // Independent physics: c / (2 B) per bin for a full sweep of 512 samples.
    double c = 299792458.0 / 1.0003;
    double perBin = c / (2.0 * 512e6) * 100.0;
    EXPECT_NEAR(getFourierDistance(512), perBin, 1e-3);
}

TEST(Geometry, PipeCorrectionForTheWorkedDiameters)
{
    struct { float d; float factor; } cases[] = {{10.0f, 0.93064f}, {5.0f, 0.68146f}, {20.0f, 0.98312f}};
    for (auto& c : cases)
        EXPECT_NEAR(getPipeCorrection(0, c.d), c.factor, 5e-6) << "d=" << c.d;
}

TEST(Geometry, PipeCorrectionAtAndBelowTheCutOff)
{
    for (float d : {0.0f, 1.0f, 5.0f, 3.6f, 1e6f})
        EXPECT_EQ(getPipeCorrection(1, d), 1.0f) << "free space, d=" << d;
    EXPECT_TRUE(std::isnan(getPipeCorrection(0, 0.0f)));
    EXPECT_TRUE(std::isnan(getPipeCorrection(0, 3.6f)));

    // Walk the floats around the cut-off diameter 3 * 3.832 / pi: the exact-one
    // guard answers 1, narrower pipes NaN, wider ones a factor below 1.
    float d = 3.0f * 3.832f / 3.1415927f;
    d = std::nextafter(d, 0.0f);
    d = std::nextafter(d, 0.0f);
    bool sawExactOne = false;
    for (int i = 0; i < 5; i++, d = std::nextafter(d, 100.0f)) {
        float w = d * 3.1415927f / 3.832f;
        float r = 3.0f / w;
        float q = r * r;
        float f = getPipeCorrection(0, d);
        if (q == 1.0f) {
            sawExactOne = true;
            EXPECT_EQ(f, 1.0f);
        } else if (q > 1.0f) {
            EXPECT_TRUE(std::isnan(f)) << d;
        } else {
            EXPECT_LT(f, 0.01f) << d;
        }
    }
    EXPECT_TRUE(sawExactOne);
}

TEST(Numbers, PowerOfTwoExponent)
{
    struct { int x; int k; } cases[] = {
        {1, 0}, {0, 0}, {-4, 0}, {2, 1}, {6, 0}, {256, 8}, {512, 9}, {1024, 10}, {1 << 30, 30}, {1023, 0},
    };
    for (auto& c : cases)
        EXPECT_EQ(isPowerOfTwo(c.x), c.k) << c.x;
}

TEST(Numbers, BigEndianBytesToFloat)
{
    struct { int b[4]; float v; } cases[] = {
        {{0x3F, 0x80, 0, 0}, 1.0f},
        {{0xC0, 0x20, 0, 0}, -2.5f},
        {{0, 0, 0, 1}, std::ldexp(1.0f, -149)},
        {{0x80, 0, 0, 0}, 0.0f},
        {{0x7F, 0x7F, 0xFF, 0xFF}, std::numeric_limits<float>::max()},
        {{0x00, 0x80, 0, 0}, std::numeric_limits<float>::min()},
        {{0x42, 0xF6, 0xE9, 0x79}, 123.456f},
    };
    for (auto& c : cases)
        EXPECT_EQ(bytes2float(c.b[0], c.b[1], c.b[2], c.b[3]), c.v) << c.v;
    EXPECT_EQ(bytes2float(0x7F, 0x80, 0, 0), std::numeric_limits<float>::infinity());
    EXPECT_EQ(bytes2float(0xFF, 0x80, 0, 0), -std::numeric_limits<float>::infinity());
}

TEST(Text, HexEncodingBothWays)
{
    char buf[16];
    memset(buf, 'x', sizeof buf);
    const char bytes[] = {0x0A, static_cast<char>(0xFF)};
    EXPECT_EQ(binToHex(bytes, 2, buf), 0);
    EXPECT_EQ(std::string(buf, 5), std::string("0AFF\0", 5));
    EXPECT_EQ(buf[5], 'x');

    memset(buf, 'x', sizeof buf);
    binToHex(bytes, 0, buf);
    EXPECT_EQ(buf[0], 'x') << "psize 0 writes nothing, not even the NUL";

    char out[8];
    int size = -1;
    hexToBin("0aFf7", out, &size);
    ASSERT_EQ(size, 3);
    EXPECT_EQ(static_cast<unsigned char>(out[0]), 0x0A);
    EXPECT_EQ(static_cast<unsigned char>(out[1]), 0xFF);
    EXPECT_EQ(static_cast<unsigned char>(out[2]), 0x70) << "odd length: NUL is the low digit";
    hexToBin("", out, &size);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(xtod('g'), 0);
    EXPECT_EQ(xtod('9'), 9);
    EXPECT_EQ(xtod('c'), 12);
}

TEST(Text, NumberTexts)
{
    std::string t;
    struct { float v; const char* text; } floats[] = {
        {-std::numeric_limits<float>::infinity(), "0"},
        {std::numeric_limits<float>::infinity(), "inf"},
        {1.5f, "1.50000"},
        {0.000004f, "0.00000"},
        {-2.25f, "-2.25000"},
    };
    for (auto& c : floats) {
        floatToString(c.v, &t);
        EXPECT_EQ(t, c.text);
    }
    ToString(-42, &t);
    EXPECT_EQ(t, "-42");
    ToString(-3000000000L, &t);
    EXPECT_EQ(t, "-3000000000");
    ToString(-9000000000000000000LL, &t);
    EXPECT_EQ(t, "-9000000000000000000");
    ToString(18446744073709551615ULL, &t);
    EXPECT_EQ(t, "18446744073709551615");
    doubleToString(2.5, &t);
    EXPECT_EQ(t, "2.500000");
    doubleToString(-1e300, &t);
    EXPECT_EQ(t.size(), 1 + 301 + 7u) << "large values are not cut short";
}

TEST(Text, FloatTextIsPrintfFixedFiveEverywhere)
{
    // Halfway cases, the extremes and a spread of magnitudes, each against the C library.
    std::vector<float> values = {0.000005f, -0.000005f, 0.000015f, 1.000005f, 2.675e-3f, -0.0f,
                                 std::numeric_limits<float>::max(), std::numeric_limits<float>::lowest(),
                                 std::numeric_limits<float>::denorm_min()};
    for (int e = -20; e <= 37; e++)
        for (float m : {1.0f, 1.2345678f, -7.654321f})
            values.push_back(m * std::pow(10.0f, static_cast<float>(e)));
    std::string t;
    char expected[80];
    for (float v : values) {
        snprintf(expected, sizeof expected, "%.5f", static_cast<double>(v));
        floatToString(v, &t);
        EXPECT_EQ(t, expected) << v;
    }
}

TEST(Text, ExplodeKeepsEmptyPieces)
{
    using V = std::vector<std::string>;
    struct { const char* delim; const char* str; V pieces; } cases[] = {
        {";", "a;b;", {"a", "b", ""}},
        {";", "a;;b", {"a", "", "b"}},
        {"", "a;b", {"a;b"}},
        {";", "", {""}},
        {",", "abc", {"abc"}},
        {"::", "a::b:c", {"a", "b:c"}},
        {"aa", "aaa", {"", "a"}},
    };
    for (auto& c : cases)
        EXPECT_EQ(explode(c.delim, c.str), c.pieces) << c.delim << " | " << c.str;
}

TEST(Numbers, IntegerSquareRoot)
{
    struct { std::uint32_t x; std::uint32_t r; } cases[] = {
        {0, 0}, {1, 1}, {15, 3}, {16, 4}, {17, 4}, {65535, 255}, {65536, 256},
        {4294967295u, 65535}, {4294836225u, 65535}, {4294836224u, 65534},
    };
    for (auto& c : cases)
        EXPECT_EQ(isqrt(c.x), c.r) << c.x;
}

TEST(Process, MemoryFigures)
{
    double vm = -1, rss = -1;
    process_mem_usage(getpid(), vm, rss);
    EXPECT_GT(vm, 0.0);
    EXPECT_GT(rss, 0.0);
    EXPECT_GE(vm, rss);
    process_mem_usage(-7, vm, rss);
    EXPECT_EQ(vm, 0.0);
    EXPECT_EQ(rss, 0.0);
}

TEST(Process, MemoryFiguresOfAProcessWhoseNameHoldsBlanksAndParentheses)
{
    // The name sits between parentheses in /proc/<pid>/stat and may hold both;
    // the figures must still be the process's own, as statm gives them in pages.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        prctl(PR_SET_NAME, "a b) c d e");
        ssize_t n = write(ready[1], "r", 1);
        (void)n;
        for (;;)
            pause();
    }
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    // Measure once the child sleeps in pause() and its figures stand still.
    std::string proc = "/proc/" + std::to_string(child);
    double vm = 0, rss = 0;
    long pages = 0, resident = 0;
    for (int i = 0; i < 200; i++) {
        std::string stat;
        std::getline(std::ifstream(proc + "/stat"), stat);
        if (stat.substr(stat.rfind(')') + 2, 1) == "S")
            break;
        usleep(5000);
    }
    process_mem_usage(child, vm, rss);
    std::ifstream(proc + "/statm") >> pages >> resident;
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(ready[0]);
    close(ready[1]);
    long pageKb = sysconf(_SC_PAGESIZE) / 1024;
    ASSERT_GT(pages, 0);
    EXPECT_EQ(vm, static_cast<double>(pages * pageKb));
    // The kernel counts resident pages for stat and statm a little apart.
    EXPECT_NEAR(rss, static_cast<double>(resident * pageKb), resident * pageKb / 4.0);
}

TEST(Process, ErrorExitsWithStatusOne)
{
    EXPECT_EXIT(error("boom"), ::testing::ExitedWithCode(1), "boom");
}
