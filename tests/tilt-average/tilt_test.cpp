// The tilt average's parsers and arithmetic: raw IMU lines, configuration
// replies and the rounding of the stored value.
#include "tilt.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(TiltAverage, TakesOnlyLinesOfFourNumericFields)
{
    const struct {
        const char* line;
        bool ok;
        long long time;
        float x, y, z;
    } rows[] = {
        {"1700000000123,0.25,-0.5,9.75", true, 1700000000123LL, 0.25f, -0.5f, 9.75f},
        {"1,2abc,3,4", true, 1, 2, 3, 4}, // a leading number is taken, as stof does
        {"1,2,3", false, 0, 0, 0, 0},
        {"1,2,3,4,5", false, 0, 0, 0, 0},
        {"1,a,b,c", false, 0, 0, 0, 0},
        {"t,1,2,3", false, 0, 0, 0, 0},
        {"1,1e50,0,0", false, 0, 0, 0, 0},             // beyond float
        {"99999999999999999999,1,0,0", false, 0, 0, 0, 0}, // beyond 64 bits
        {"", false, 0, 0, 0, 0},
    };
    for (const auto& r : rows) {
        long long t = 0;
        float x = 0, y = 0, z = 0;
        ASSERT_EQ(parseRawImuLine(r.line, &t, &x, &y, &z), r.ok) << r.line;
        if (r.ok) {
            EXPECT_EQ(t, r.time);
            EXPECT_EQ(x, r.x);
            EXPECT_EQ(y, r.y);
            EXPECT_EQ(z, r.z);
        }
    }
}

TEST(TiltAverage, TiltIsTheAngleFromTheYAxisRoundedHalfAwayFromZero)
{
    TiltAverage a;
    EXPECT_EQ(a.add(0, 1, 0).tilt, 0.0f);
    EXPECT_FLOAT_EQ(a.add(1, 0, 0).tilt, static_cast<float>(M_PI / 2));
    EXPECT_EQ(meanDegrees(a.sumTilt, a.count), 45.0f);
    EXPECT_TRUE(std::isnan(meanDegrees(0, 0)));
    EXPECT_TRUE(std::isnan(TiltAverage().add(0, 0, 0).tilt));

    EXPECT_EQ(roundTenth(2.25f), 2.3f);
    EXPECT_EQ(roundTenth(-2.25f), -2.3f);
    EXPECT_EQ(roundTenth(2.24f), 2.2f);
    EXPECT_EQ(formatTilt(roundTenth(2.25f)), "2.300000");
    EXPECT_EQ(formatTilt(-NAN), "nan");
    EXPECT_EQ(tiltStoreRequest("fast", 2.3f), R"({"setmem":{"system":{"tilt":{"fast":"2.300000"}}}})");
}

TEST(TiltAverage, SettingsFallBackToDefaultsButNeedASuccessObject)
{
    const struct {
        const char* reply;
        SettingsReply result;
        const char *fast, *slow, *port;
    } rows[] = {
        {R"({"success":{"tilt-average":{"fileNameFast":"/a","fileNameLong":"/b"},
             "RTIMULibDrive":{"publishers":{"rawIMU-pub":"5070"}}}})",
         SettingsReply::Ok, "/a", "/b", "5070"},
        {R"({"success":{"RTIMULibDrive":{"publishers":{"rawIMU-pub":5071}}}})", SettingsReply::Ok, "/d", "/d", "5071"},
        {R"({"success":{"tilt-average":"text","RTIMULibDrive":[1]}})", SettingsReply::Ok, "/d", "/d", "5060"},
        {R"({"success":{"tilt-average":{"fileNameFast":{"x":1}}}})", SettingsReply::Ok, "/d", "/d", "5060"},
        {R"({})", SettingsReply::NotFound, "", "", ""},
        {R"({"success":"ok"})", SettingsReply::NotFound, "", "", ""},
        {R"([1,2])", SettingsReply::NotFound, "", "", ""},
        {"not json", SettingsReply::NotJson, "", "", ""},
    };
    for (const auto& r : rows) {
        TiltSettings s;
        ASSERT_EQ(readTiltSettings(r.reply, "tilt-average", "/d", &s), r.result) << r.reply;
        if (r.result == SettingsReply::Ok) {
            EXPECT_EQ(s.fileNameFast, r.fast);
            EXPECT_EQ(s.fileNameLong, r.slow);
            EXPECT_EQ(s.rawImuPort, r.port);
        }
    }
}
