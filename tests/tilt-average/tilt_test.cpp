// The tilt average's parsers and arithmetic: raw IMU lines, configuration
// replies and the rounding of the stored value.
#include "tilt.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(TiltAverage, TakesOnlyLinesOfFourNumericFields)
{
    long long t = 0;
    float x = 0, y = 0, z = 0;
    ASSERT_TRUE(parseRawImuLine("1700000000123,0.25,-0.5,9.75", &t, &x, &y, &z));
    EXPECT_EQ(t, 1700000000123LL);
    EXPECT_EQ(x, 0.25f);
    EXPECT_EQ(y, -0.5f);
    EXPECT_EQ(z, 9.75f);
    for (const char* bad : {"1,2,3", "1,2,3,4,5", "1,a,b,c", "t,1,2,3", "1,1e50,0,0", "99999999999999999999,1,0,0", ""})
        EXPECT_FALSE(parseRawImuLine(bad, &t, &x, &y, &z)) << bad;
}

TEST(TiltAverage, TiltIsTheAngleFromTheYAxisRoundedHalfAwayFromZero)
{
    TiltAverage a;
    EXPECT_EQ(a.add(0, 1, 0).tilt, 0.0f);
    EXPECT_FLOAT_EQ(a.add(1, 0, 0).tilt, static_cast<float>(M_PI / 2));
    EXPECT_EQ(meanDegrees(a.sumTilt, a.count), 45.0f);
    EXPECT_EQ(roundTenth(2.25f), 2.3f);
    EXPECT_EQ(roundTenth(-2.25f), -2.3f);
    EXPECT_EQ(formatTilt(roundTenth(2.25f)), "2.300000");
    EXPECT_EQ(formatTilt(meanDegrees(0, 0)), "nan");
}

TEST(TiltAverage, SettingsFallBackToDefaultsButNeedASuccessObject)
{
    const struct {
        const char* reply;
        SettingsReply result;
        const char *fast, *slow, *port;
    } rows[] = {
        {R"({"success":{"tilt-average":{"fileNameFast":"/a","fileNameLong":"/b"},
             "RTIMULibDrive":{"publishers":{"rawIMU-pub":"5070"}}}})", SettingsReply::Ok, "/a", "/b", "5070"},
        {R"({"success":{"RTIMULibDrive":{"publishers":{"rawIMU-pub":5071}}}})", SettingsReply::Ok, "/d", "/d", "5071"},
        {R"({"success":{"tilt-average":"text","RTIMULibDrive":[1]}})", SettingsReply::Ok, "/d", "/d", "5060"},
        {R"({"success":"ok"})", SettingsReply::NotFound, "", "", ""},
        {"not json", SettingsReply::NotJson, "", "", ""},
    };
    for (const auto& r : rows) {
        TiltSettings s;
        ASSERT_EQ(readTiltSettings(r.reply, "tilt-average", "/d", &s), r.result) << r.reply;
        if (r.result == SettingsReply::Ok) {
            EXPECT_EQ(s.fileNameFast + s.fileNameLong + s.rawImuPort, std::string(r.fast) + r.slow + r.port);
        }
    }
}
