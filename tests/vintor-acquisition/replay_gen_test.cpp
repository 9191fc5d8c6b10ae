// The recording generator against the physics it claims: the tone of each
// sweep sits at the beat frequency of the surface's distance, and the up and
// down sweeps differ by the Doppler shift of its vertical speed.
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "acquisition_support.h"
#include "defaults.h"

using namespace testsupport;

namespace {

// Frequency (in bins of the sweep) of the strongest tone, by a double-precision
// DTFT searched on a fine grid around the largest DFT bin.
double toneBin(const std::vector<int>& s) {
    const double n = double(s.size());
    auto power = [&](double k) {
        double re = 0, im = 0;
        for (size_t i = 0; i < s.size(); ++i) {
            re += s[i] * std::cos(2 * M_PI * k * double(i) / n);
            im -= s[i] * std::sin(2 * M_PI * k * double(i) / n);
        }
        return re * re + im * im;
    };
    int best = 1;
    for (int k = 1; k < int(n / 2); ++k)
        if (power(k) > power(best)) best = k;
    double bestK = best;
    for (double k = best - 1.0; k <= best + 1.0; k += 0.0005)
        if (power(k) > power(bestK)) bestK = k;
    return bestK;
}

// Distance (cm) whose beat tone lies at `bin` of a 256-sample sweep.
double binToCm(double bin) {
    const double hzPerCm = 2.0 * double(DEF_sweepSpeed) / double(DEF_speedOfLight) / 100.0;
    return bin * double(DEF_sampleFrequency) / 256.0 / hzPerCm;
}

}  // namespace

TEST(ReplayGenerator, TonesFollowTheDistanceAndTheDopplerShiftOfTheSurface) {
    TempDir dir;
    Process gen(REPLAY_GEN_BIN, {"-d", "1000", "-a", "20", "-T", "8", "-n", "9", "-i", "250", "-N", "0", "-o",
                                 dir.file("rec.txt")});
    ASSERT_TRUE(gen.wait(milliseconds(5000)));
    ASSERT_EQ(gen.exitCode(), 0);
    std::vector<std::string> lines;
    {
        std::ifstream in(dir.file("rec.txt"));
        for (std::string l; std::getline(in, l);) lines.push_back(l);
    }
    ASSERT_EQ(lines.size(), 18u);
    // Pair 0 at t = 0: height 0, rising at 20 * 2 pi / 8 cm/s. Pair 8 at t = 2 s:
    // 20 cm up, at rest.
    struct Case {
        int pair;
        double distance, speed;
    } cases[] = {{0, 1000.0, 20.0 * 2 * M_PI / 8}, {8, 980.0, 0.0}};
    for (const auto& c : cases) {
        acq::Sweep up = acq::parseIndependently(lines[2 * c.pair]);
        acq::Sweep down = acq::parseIndependently(lines[2 * c.pair + 1]);
        EXPECT_EQ(up.time, std::to_string(1700000000000LL + 250LL * c.pair));
        EXPECT_EQ(up.samples.size(), 256u);
        double dUp = binToCm(toneBin(up.samples));
        double dDown = binToCm(toneBin(down.samples));
        // Tolerances: leakage from the mirror tone shifts the estimate by a few mm.
        EXPECT_NEAR((dUp + dDown) / 2, c.distance, 0.5) << c.pair;
        // The height stage's Doppler speed: half the difference times 4.3516097.
        EXPECT_NEAR((dDown - dUp) / 2 * 4.3516097, c.speed, 1.0) << c.pair;
    }
}
