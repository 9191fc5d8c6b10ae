// The radar-section settings that the peak, height and subscriptions stages
// share: derived once, written back, read back as stored, then cached.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "configfile.h"
#include "sectionsettings.h"

namespace {

ConfigFile section(long sweepsize) {
    ConfigFile cf(0, 0);
    cf.setValue("radar0", "sweepsize", sweepsize);
    cf.setValue("radar0", "minimumheight", 0.5f);
    cf.setValue("radar0", "maximumheight", 20.0f);
    cf.setValue("radar0", "radaroffset", 0.3f);
    cf.setValue("radar0", "mountingangle", 30.0f);
    return cf;
}

}  // namespace

// Deliberate: the peak stage searches a range widened by the radar offset and
// rounded outward, while the height and subscriptions stages truncate the range itself.
TEST(SectionSettings, EachStageTurnsTheRangeIntoBinsByItsOwnRule) {
    const struct {
        BinRange rule;
        long sweepsize;
        int minimumbin, maximumbin;
    } cases[] = {
        // 512 samples: 0.292678 m per bin, from the radar constants.
        {BinRange::Widened, 512, 1, 70},    // floor(0.5 / w), ceil(20.3 / w) = ceil(69.36)
        {BinRange::Truncated, 512, 1, 68},  // 0.5 / w = 1.71, 20 / w = 68.33
        // No sweep size, no bins: the keys say 1 and 2 for both.
        {BinRange::Widened, 0, 1, 2},
        {BinRange::Truncated, 0, 0, 0},
    };
    for (const auto& c : cases) {
        ConfigFile cf = section(c.sweepsize);
        SectionSettingsLoader loader(&cf, c.rule);
        SectionSettings s;
        EXPECT_TRUE(loader.load("radar0", 6, &s));
        EXPECT_EQ(s.minimumbin, c.minimumbin) << c.sweepsize;
        EXPECT_EQ(s.maximumbin, c.maximumbin) << c.sweepsize;
        if (c.sweepsize == 0) {
            EXPECT_EQ(cf.ValueInt("radar0", "minimumbin"), 1);
            EXPECT_EQ(cf.ValueInt("radar0", "maximumbin"), 2);
        }
    }
}

TEST(SectionSettings, FirstRecordDerivesTheNextReadsBackLaterOnesAreCached) {
    ConfigFile cf = section(512);
    SectionSettingsLoader loader(&cf, BinRange::Truncated);
    SectionSettings s;
    ASSERT_TRUE(loader.load("radar0\0\0\0", 9, &s));
    EXPECT_EQ(s.cosAngle, static_cast<float>(std::cos(30.0 * M_PI / 180.0)));
    EXPECT_EQ(cf.ValueInt("radar0", "calculated"), 1);
    ASSERT_FALSE(loader.load("radar0", 6, &s));
    EXPECT_EQ(s.cosAngle, 0.866025f);  // the stored text's six digits
    cf.setValue("radar0", "cosangle", 0.5f);
    ASSERT_FALSE(loader.load("radar0", 6, &s));
    EXPECT_EQ(s.cosAngle, 0.866025f);
}
