// Peak stage on hand-made spectrum records: the five-point detector, the
// settings it derives from a radar section, and the peak record it fills.
#include "configfile.h"
#include "peak.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace {

std::vector<peak_struct> detect(PeakClass& p, std::vector<float> row, int start, int end, float threshold)
{
    std::vector<peak_struct> list;
    p.peakDetect(row.data(), static_cast<int>(row.size()), start, end, 0, 0, &list, threshold);
    return list;
}

TEST(PeakDetect, FivePointMaximaAndTheirCentroid)
{
    ConfigFile cf(0, 0);
    PeakClass p(&cf);
    const float nan = std::numeric_limits<float>::quiet_NaN();

    // Symmetric peak: bin 4, height 9, no correction.
    auto a = detect(p, {0, 0, 1, 3, 9, 3, 1, 0, 0, 0}, 0, 100, 8.5f);
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].bin, 4);
    EXPECT_EQ(a[0].height, 9.0f);
    EXPECT_EQ(a[0].correction, 0.0f);

    // Asymmetric: (2*1 + 6 - 2 - 2*1) / 19 toward the larger neighbour.
    auto b = detect(p, {0, 0, 0, 1, 2, 9, 6, 1, 0, 0}, 0, 100, 0.0f);
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(b[0].bin, 5);
    EXPECT_NEAR(b[0].correction, 4.0 / 19.0, 1e-6);

    const struct {
        const char* what;
        std::vector<float> row;
        int start, end;
        float threshold;
        std::vector<int> bins;
    } cases[] = {
        {"plateau of two equal maxima", {0, 0, 1, 9, 9, 1, 0, 0}, 0, 100, 0, {}},
        {"maxima at bin 0 and 1", {9, 8, 1, 0, 0, 0, 0, 0}, 0, 100, 0, {}},
        {"maximum at size-2", {0, 0, 0, 0, 0, 1, 9, 0}, 0, 100, 0, {}},
        {"maximum at size-3 is the last searched", {0, 0, 0, 0, 1, 9, 2, 0}, 0, 100, 0, {5}},
        {"start below 2 searches from 2", {0, 1, 9, 1, 0, 0, 0, 0}, -5, 100, 0, {2}},
        {"end is exclusive", {0, 0, 1, 9, 1, 0, 0, 0}, 0, 3, 0, {}},
        {"threshold must be exceeded", {0, 0, 1, 9, 1, 0, 0, 0}, 0, 100, 9, {}},
        {"NaN never qualifies", {0, 0, 1, nan, 1, 0, 0, 0}, 0, 100, 0, {}},
        {"NaN neighbour blocks a peak", {0, 0, nan, 9, 1, 0, 0, 0}, 0, 100, 0, {}},
        {"two peaks three bins apart", {0, 0, 9, 1, 0, 8, 1, 0, 0, 0}, 0, 100, 0, {2, 5}},
        {"start beyond end", {0, 0, 1, 9, 1, 0, 0, 0}, 6, 3, 0, {}},
    };
    for (auto& c : cases) {
        auto found = detect(p, c.row, c.start, c.end, c.threshold);
        std::vector<int> bins;
        for (auto& f : found)
            bins.push_back(f.bin);
        EXPECT_EQ(bins, c.bins) << c.what;
    }

    // Values around a candidate that sum to exactly 0 give correction 0.
    auto z = detect(p, {0, -2, -3, 4, -1, 2, 0, 0}, 0, 100, -10);
    ASSERT_EQ(z.size(), 1u);
    EXPECT_EQ(z[0].bin, 3);
    EXPECT_EQ(z[0].correction, 0.0f);
}

TEST(PeakDetect, StatisticsOfASeries)
{
    ConfigFile cf(0, 0);
    PeakClass p(&cf);
    float v[] = {2, 4, 4, 4, 5, 5, 7, 9};
    EXPECT_FLOAT_EQ(p.meanValue(v, 8), 5.0f);
    EXPECT_FLOAT_EQ(p.standardDeviation(v, 8), 2.0f);
    EXPECT_EQ(p.meanValue(v, 0), 0.0f);
    EXPECT_EQ(p.standardDeviation(v, 0), 0.0f);
    EXPECT_EQ(p.standardDeviation(v, -3), 0.0f);
}

// A spectrum record of the given section; row values set by the caller.
std::unique_ptr<fft_st> spectrum(const char* section, int length, int sweeps)
{
    std::unique_ptr<fft_st> r(new fft_st());
    std::strcpy(r->time, "1765250000456");
    std::memcpy(r->section, section, std::strlen(section) + 1);
    r->radnr = 3;
    r->nrOfSweeps = sweeps;
    r->length = length;
    r->energy[0] = 1234.0;
    r->energy[1] = 5678.0;
    r->nan = 0;
    return r;
}

TEST(PeakSettings, DerivedFromTheRadarSectionOnceThenReadBack)
{
    ConfigFile cf(0, 0);
    cf.setValue("radar1", "sweepsize", 512);
    cf.setValue("radar1", "minimumheight", 0.5f);
    cf.setValue("radar1", "maximumheight", 20.0f);
    cf.setValue("radar1", "radaroffset", 0.3f);
    cf.setValue("radar1", "mountingangle", 30.0f);
    cf.setValue("radar1", "threshold", -30.0f);
    cf.setValue("radar1", "radarType", std::string("F"));
    PeakClass p(&cf);

    // A freshly started stage has derived nothing yet.
    EXPECT_EQ(cf.ValueInt("radar1", "calculated"), 0);
    EXPECT_EQ(cf.ValueFloat("radar1", "cosangle"), 0.0f);

    EXPECT_EQ(p.setVars("radar1"), 0);
    // Centimetres per bin: c / (2 * sweep speed) * sample rate / n, from the radar constants.
    const double c = 299792458.0 / 1.0003, speed = 512e6 / (512 * 24e-6);
    EXPECT_NEAR(p.settings.fourierDistanceCm, c / (2 * speed) / (512 * 24e-6) * 100, 1e-3);
    EXPECT_NEAR(p.settings.fourierDistanceCm, 29.2678, 1e-4);
    EXPECT_EQ(p.settings.minimumbin, 1);  // floor(0.5 / 0.292678)
    EXPECT_EQ(p.settings.maximumbin, 70); // ceil(20.3 / 0.292678)
    EXPECT_FLOAT_EQ(p.settings.thresholdInv, 0.001f);
    EXPECT_EQ(p.settings.cosAngle, static_cast<float>(std::cos(30.0 * M_PI / 180.0)));
    EXPECT_EQ(p.settings.isFreeSpaceRadar, 1);
    EXPECT_EQ(cf.ValueInt("radar1", "calculated"), 1);
    EXPECT_EQ(cf.ValueInt("radar1", "minimumbin"), 1);
    EXPECT_EQ(cf.ValueInt("radar1", "maximumbin"), 70);

    // The next record reads back the stored six-digit texts.
    p.setVars("radar1");
    EXPECT_EQ(p.settings.cosAngle, 0.866025f);
    EXPECT_EQ(p.settings.thresholdInv, 0.001f);
    EXPECT_EQ(p.settings.minimumbin, 1);
    EXPECT_EQ(p.settings.maximumbin, 70);

    // The peak record carries the range and its window edges.
    auto in = spectrum("radar1", 512, 2);
    std::unique_ptr<peak_st> out(new peak_st());
    p.processRecord(*in, 17, *out);
    EXPECT_EQ(out->minimumbin, 1);
    EXPECT_EQ(out->maximumbin, 70);
    EXPECT_EQ(out->windowdown, 2);
    EXPECT_EQ(out->windowup, 69);
    EXPECT_EQ(out->fft_key, 17);
}

TEST(PeakSettings, AlternatingSectionsKeepTheirOwnRanges)
{
    ConfigFile cf(0, 0);
    const struct { const char* section; float minimum, maximum; int minimumbin, maximumbin; } cases[] = {
        {"radar0", 1.0f, 10.0f, 3, 35}, // floor(1 / 0.292678), ceil(10 / 0.292678)
        {"radar1", 0.5f, 20.0f, 1, 69}, // floor(0.5 / 0.292678), ceil(20 / 0.292678)
    };
    for (const auto& c : cases) {
        cf.setValue(c.section, "sweepsize", 512);
        cf.setValue(c.section, "minimumheight", c.minimum);
        cf.setValue(c.section, "maximumheight", c.maximum);
    }
    PeakClass p(&cf);
    std::unique_ptr<peak_st> out(new peak_st());
    // Deriving, reading back, then records of a known section: the range stays that section's.
    for (int round = 0; round < 3; ++round) {
        for (const auto& c : cases) {
            auto in = spectrum(c.section, 512, 1);
            p.processRecord(*in, round, *out);
            EXPECT_EQ(out->minimumbin, c.minimumbin) << c.section << " round " << round;
            EXPECT_EQ(out->maximumbin, c.maximumbin) << c.section << " round " << round;
            EXPECT_NEAR(p.settings.fourierDistanceCm, 29.2678, 1e-4);
        }
    }
}

TEST(PeakSettings, MissingAndUnusableSettings)
{
    ConfigFile cf(0, 0);
    // No threshold: 10^0; no sweep size: the range 1..2, in which nothing is searched.
    PeakClass p(&cf);
    p.setVars("radar2");
    EXPECT_EQ(p.settings.thresholdInv, 1.0f);
    EXPECT_EQ(p.settings.minimumbin, 1);
    EXPECT_EQ(p.settings.maximumbin, 2);
    EXPECT_EQ(p.settings.isFreeSpaceRadar, 0);
    auto in = spectrum("radar2", 512, 1);
    for (int i = 0; i < 256; ++i)
        in->data[0][i] = (i % 4 == 0) ? 100.0f : 0.0f;
    std::unique_ptr<peak_st> out(new peak_st());
    p.processRecord(*in, 0, *out);
    EXPECT_EQ(out->nrOfPeaks[0], 0);

    // A range from settings that do not fit an int is bounded, not undefined.
    cf.setValue("radar0", "sweepsize", 256);
    cf.setValue("radar0", "maximumheight", std::string("1e300"));
    cf.setValue("radar0", "minimumheight", std::string("nan"));
    p.setVars("radar0");
    EXPECT_EQ(p.settings.minimumbin, 0);
    EXPECT_GT(p.settings.maximumbin, 1000000);
    auto big = spectrum("radar0", 256, 1);
    big->data[0][40] = 5.0f;
    p.processRecord(*big, 0, *out);
    EXPECT_EQ(out->nrOfPeaks[0], 1);
    EXPECT_GT(out->windowup, 0);
}

TEST(PeakRecord, FilledFromTheSpectrumRecord)
{
    ConfigFile cf(0, 0);
    cf.setValue("radar0", "sweepsize", 512);
    cf.setValue("radar0", "minimumheight", 0.0f);
    cf.setValue("radar0", "maximumheight", 200.0f);
    cf.setValue("radar0", "threshold", 0.0f); // thresholdInv 1
    PeakClass p(&cf);
    std::unique_ptr<peak_st> out(new peak_st());

    // 80 peaks in sweep 0 (every third bin), one in sweep 1.
    auto in = spectrum("radar0", 512, 2);
    for (int i = 3; i < 3 + 80 * 3; i += 3)
        in->data[0][i] = 2.0f;
    in->data[1][100] = 7.0f;
    in->data[1][101] = 3.0f;
    in->nan = 0;
    p.processRecord(*in, 42, *out);
    EXPECT_EQ(out->nrOfPeaks[0], 64);
    EXPECT_EQ(out->data[0][0].bin, 3);
    EXPECT_EQ(out->data[0][63].bin, 3 + 63 * 3);
    EXPECT_EQ(out->nrOfPeaks[1], 1);
    EXPECT_EQ(out->data[1][0].bin, 100);
    EXPECT_NEAR(out->data[1][0].correction, 3.0 / 10.0, 1e-6);
    EXPECT_STREQ(out->time, "1765250000456");
    EXPECT_STREQ(out->section, "radar0");
    EXPECT_EQ(out->radnr, 3);
    EXPECT_EQ(out->nrOfSweeps, 2);
    EXPECT_EQ(out->energy[0], 1234.0);
    EXPECT_EQ(out->energy[1], 5678.0);
    EXPECT_EQ(out->fft_key, 42);

    // A failed measurement: header copied, rows and counts as they were.
    auto failed = spectrum("radar0", 512, 0);
    failed->nan = 1;
    std::strcpy(failed->time, "1765250000999");
    p.processRecord(*failed, 43, *out);
    EXPECT_EQ(out->nrOfSweeps, 0);
    EXPECT_EQ(out->nan, 1);
    EXPECT_STREQ(out->time, "1765250000999");
    EXPECT_EQ(out->nrOfPeaks[0], 64);
    EXPECT_EQ(out->nrOfPeaks[1], 1);
    EXPECT_EQ(out->data[1][0].bin, 100);
    EXPECT_EQ(out->fft_key, 43);

    // A corrupt slot: more sweeps and samples than a record holds stay inside its rows.
    auto corrupt = spectrum("radar0", 1 << 30, 7);
    corrupt->data[1][2140] = 50.0f;
    p.processRecord(*corrupt, 44, *out);
    EXPECT_EQ(out->nrOfSweeps, 2);
    EXPECT_EQ(out->nrOfPeaks[1], 0); // bin 2140 lies beyond maximumbin
    auto negative = spectrum("radar0", -8, 2);
    p.processRecord(*negative, 45, *out);
    EXPECT_EQ(out->nrOfPeaks[0], 0);
    EXPECT_EQ(out->nrOfPeaks[1], 0);
}

} // namespace
