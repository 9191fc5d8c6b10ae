// imu-reader's units: data lines to samples, samples to feed texts, the status
// word's text, the identity record and its file.
#include "imusim.h"
#include "imutest.h"
#include "reader.h"
#include "statusword.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

#include <cmath>


namespace {

TEST(ImuSampleLine, FieldsThreeToEightFillTheSampleOfAnAcceptedLine)
{
    const struct {
        const char* line;
        bool accepted;
        float heave, a3, value;
        uint32_t word;
    } rows[] = {
        {"X,a,b,1.234,10,20,30,0.5,4294967295,z\r\n", true, float(1.234 * 100.0), 30, 0.5f, 0xFFFFFFFFu},
        {"X,a,b,1.234,10,20,30,0.5,-1,z", true, float(1.234 * 100.0), 30, 0.5f, 0xFFFFFFFFu},
        // Blanks around a number, as a device may pad its columns.
        {"X,,, -0.015 ,0,0,\t1e3\r,0, 2147483648 ,,extra", true, float(-0.015 * 100.0), 1000, 0, 0x80000000u},
        {"X,,,0,0,0,inf,0,99999999999,", true, 0, INFINITY, 0, 0x7FFFFFFFu},
        {"X,,,0,0,0,0,0,-99999999999,", true, 0, 0, 0, 0x80000000u},
        {"X,a,b,1.234,10,20,30,0.5,7", false, 0, 0, 0, 0},  // 9 fields
        {"Y,a,b,1.234,10,20,30,0.5,7,z", false, 0, 0, 0, 0}, // another unit's line
        {"", false, 0, 0, 0, 0},
        // A used field that is no number: noise, not a measured 0.
        {"X,a,b,c,d,e,f,g,h,i", false, 0, 0, 0, 0},
        {"X,0,0,abc,10,20,30,0.5,4294967295,z", false, 0, 0, 0, 0},
        {"X,0,0,1.234,10,x,30,0.5,7,z", false, 0, 0, 0, 0},
        {"X,0,0,1.234,10,20,30,-,7,z", false, 0, 0, 0, 0},
        {"X,0,0,1.234,10,20,30,0.5,abc,z", false, 0, 0, 0, 0},
        {"X,0,0,1.234abc,10,20,30,0.5,7,z", false, 0, 0, 0, 0},
        {"X,0,0,1.234,10,20,30 40,0.5,7,z", false, 0, 0, 0, 0},
        {"X,0,0,,10,20,30,0.5,7,z", false, 0, 0, 0, 0},
        {"X,0,0,1.234,10,20,30,0.5, ,z", false, 0, 0, 0, 0},
        {"X,0,0,1.234,10,20,30,0.5,7.5,z", false, 0, 0, 0, 0}, // a word is whole
    };
    for (const auto& r : rows) {
        ImuSample s;
        s.heaveX100 = 42;
        ASSERT_EQ(parseSample(r.line, 'X', &s), r.accepted) << r.line;
        if (!r.accepted) {
            EXPECT_EQ(s.heaveX100, 42) << r.line << ": a refused line leaves the sample";
            continue;
        }
        // heaveX100 is the field times 100 in double precision, stored as float.
        EXPECT_EQ(s.heaveX100, r.heave) << r.line;
        EXPECT_EQ(s.attitude[2], r.a3) << r.line;
        EXPECT_EQ(s.statusValue, r.value) << r.line;
        EXPECT_EQ(s.statusWord, r.word) << r.line;
    }
}

TEST(ImuFeeds, OneLineGivesFourMessagesWithTheSameTime)
{
    ImuSample s;
    ASSERT_TRUE(parseSample("X,a,b,1.234,10,20,30,0.5,4294967295,z\r\n", 'X', &s));
    FeedTexts t;
    formatFeeds(s, 1700000000123000ull, &t);
    EXPECT_STREQ(t.heave, "1700000000123000,123.4");
    EXPECT_STREQ(t.attitude, "1700000000123000,10,20,30");
    EXPECT_STREQ(t.status, "1700000000123000,0.5,4294967295");
    EXPECT_STREQ(t.imu, "1700000000123000,123.4,10,20,30,0.5,4294967295");

    // The widest floats still fit whole.
    ImuSample wide;
    wide.heaveX100 = wide.attitude[0] = wide.attitude[1] = wide.attitude[2] = wide.statusValue = -1.17549435e-38f;
    formatFeeds(wide, 18446744073709551615ull, &t);
    EXPECT_STREQ(t.imu, "18446744073709551615,-1.17549e-38,-1.17549e-38,-1.17549e-38,-1.17549e-38,-1.17549e-38,0");
}

TEST(ImuActions, RebootAnywhereInTheTextRestarts)
{
    for (const char* yes : {"1700000000000,reboot", "reboot", "xrebooty"})
        EXPECT_TRUE(isRebootAction(yes)) << yes;
    for (const char* no : {"1700000000000,log", "", "REBOOT", "re boot"})
        EXPECT_FALSE(isRebootAction(no)) << no;
}

TEST(ImuIdentity, RecordHoldsSixLabelledAnswersAndTheFileIsWrittenOnlyWhenItDiffers)
{
    ImuSim sim{ImuSimOptions()};
    ASSERT_TRUE(sim.open());
    sim.start();
    imutest::Captured log;
    ImuLink link(sim.tty(), 115200, 1, false, false, imutest::fastWaits(std::chrono::milliseconds(200)), log.sink());
    const std::string record = identityRecord(link);
    EXPECT_EQ(record, "Make:\t\timu-sim\r\nModel:\t\tSIM-6\r\nType:\t\tmotion sensor\r\nSerialNo:\t000042\r\n"
                      "Firmware:\t1.0.3\r\nHardware:\tB\r\n");
    sim.control("silence");
    EXPECT_EQ(identityRecord(link), "Make:\t\tErrorModel:\t\tErrorType:\t\tErrorSerialNo:\tErrorFirmware:\tError"
                                    "Hardware:\tError");

    testsupport::TempDir dir;
    const std::string path = dir.file("imuInformation");
    EXPECT_FALSE(fileHasContent(path, record));
    writeIfChanged(path, record, false);
    EXPECT_EQ(testsupport::readFile(path), record);
    utimbuf old{1000000000, 1000000000};
    ASSERT_EQ(utime(path.c_str(), &old), 0);
    writeIfChanged(path, record, false);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1000000000) << "the same record leaves the file alone";
    writeIfChanged(path, "Make:\t\tError", false);
    EXPECT_EQ(testsupport::readFile(path), "Make:\t\tError");

    const std::string directory = dir.file("aDirectory");
    ASSERT_EQ(mkdir(directory.c_str(), 0755), 0);
    EXPECT_FALSE(fileHasContent(directory, record)) << "a path that cannot be read holds no record";
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(writeIfChanged(directory, record, true));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "File " + directory + " not updated: Is a directory\n");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "nothing written, nothing updated";
}

} // namespace
