// One peak record at a time through the height stage, with the configuration
// filled locally: no service is needed here.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "configfile.h"
#include "h.h"

namespace {

constexpr double FD_1024 = 14.633912;  // cm per bin of a 1024-sample sweep
constexpr long long T0 = 1765257600000;

// A free-space radar with a 1..20 m range, 1024 samples and threshold 10 dB
// (peaks must be higher than 10).
void configure(ConfigFile& cf, const std::string& section, float offset = 0) {
    cf.setValue(section, "minimumheight", std::string("1"));
    cf.setValue(section, "maximumheight", std::string("20"));
    cf.setValue(section, "sweepsize", std::string("1024"));
    cf.setValue(section, "mountingheight", std::string("1200"));
    cf.setValue(section, "mountingangle", std::string("0"));
    cf.setValue(section, "radaroffset", std::to_string(offset));
    cf.setValue(section, "radarType", std::string("F"));
    cf.setValue(section, "threshold", std::string("10"));
    cf.setValue(section, "secondPeakMargin_dB", std::string("3"));
}

struct Sweep {
    std::vector<peak_struct> peaks;
};

// A peak whose distance is d cm for a free-space radar with the given offset.
peak_struct at(double d, float height = 1000, double offset = 0) {
    const double bins = (d + offset) / FD_1024;
    peak_struct p;
    p.bin = static_cast<int>(bins);
    p.correction = static_cast<float>(bins - p.bin);
    p.height = height;
    return p;
}

void load(HClass& h, long long time, const char* section, std::vector<Sweep> sweeps, int fftKey = 7) {
    peak_st& p = h.data_peak;
    std::memset(&p, 0, sizeof p);
    std::snprintf(p.time, sizeof p.time, "%lld", time);
    std::snprintf(p.section, sizeof p.section, "%s", section);
    p.radnr = 3;
    p.fft_key = fftKey;
    p.nrOfSweeps = static_cast<int>(sweeps.size());
    for (std::size_t s = 0; s < sweeps.size() && s < 2; ++s) {
        p.nrOfPeaks[s] = static_cast<int>(sweeps[s].peaks.size());
        for (std::size_t k = 0; k < sweeps[s].peaks.size(); ++k) p.data[s][k] = sweeps[s].peaks[k];
        p.energy[s] = 1e6 * (s + 1);
    }
}

struct Stage {
    ConfigFile cf{5010, 5011};
    HClass h{&cf};
    status_st status{};
    Stage() { configure(cf, "radar0"); }
    void run(long long time, std::vector<Sweep> sweeps, int j = 4, const char* section = "radar0") {
        load(h, time, section, std::move(sweeps));
        h.handleRecord(j, status);
    }
};

}  // namespace

TEST(HeightStage, ValidRecordGivesAverageDopplerAndItsRecordFields) {
    Stage st;
    st.run(T0, {{{at(500.0)}}, {{at(501.0)}}}, 9);
    const heave_st& r = st.h.data_heave;
    EXPECT_STREQ(r.time, "1765257600000");
    EXPECT_STREQ(r.section, "radar0");
    EXPECT_EQ(r.radnr, 3);
    EXPECT_EQ(r.nrOfSweeps, 2);
    EXPECT_EQ(r.peak_key, 9);
    EXPECT_EQ(r.fft_key, 7);
    EXPECT_EQ(r.nan, 0);
    EXPECT_NEAR(r.distance[0], 500.0, 1e-3);
    EXPECT_NEAR(r.distance[1], 501.0, 1e-3);
    EXPECT_NEAR(r.distanceAvg, 500.5, 1e-3);
    EXPECT_NEAR(r.VDoppler, 0.5 * 4.3516097, 1e-3);  // 2.1758049 cm/s
    EXPECT_FLOAT_EQ(r.Ep[0], 1000);
    EXPECT_FLOAT_EQ(r.energy[1], 2e6f);
    EXPECT_EQ(st.status.peak, 1);
    EXPECT_EQ(st.status.peakmiss, 0);
    // The window centre and time of this section are kept for its next record,
    // the distances as their text with 6 significant digits gives them back.
    const float up = r.distance[0], down = r.distance[1];
    st.run(T0 + 100, {});
    for (int i = 0; i < 2; ++i) {
        std::ostringstream text;
        text << static_cast<double>(i == 0 ? up : down);
        EXPECT_EQ(st.h.tracker.windowLastDistance[i], std::stof(text.str())) << text.str();
    }
    EXPECT_EQ(st.h.tracker.lastValidTime, static_cast<double>(T0));
}

TEST(HeightStage, DopplerBoundOfOneAndAHalfTimesTheSurfaceSpeed) {
    // First record: std 1 cm, so Vmax 1 m/s and the bound 150 cm/s, i.e. a
    // distance difference of 2 * 150 / 4.3516097 = 68.94 cm.
    struct Case {
        double diff;
        bool rejected;
    } cases[] = {{68.8, false}, {69.1, true}, {-68.8, false}, {-69.1, true}};
    for (const Case& c : cases) {
        Stage st;
        st.run(T0, {{{at(800.0)}}, {{at(800.0 + c.diff)}}});
        const heave_st& r = st.h.data_heave;
        SCOPED_TRACE(c.diff);
        EXPECT_NEAR(r.VDoppler, c.diff * 0.5 * 4.3516097, 1e-2);  // set even when rejected
        EXPECT_EQ(r.nrOfSweeps, c.rejected ? 0 : 2);
        EXPECT_EQ(r.nan, c.rejected ? 15 : 0);
        EXPECT_EQ(st.status.peakmiss, c.rejected ? 1 : 0);
        EXPECT_EQ(st.status.peak, c.rejected ? 0 : 1);
    }
}

TEST(HeightStage, FaultCodesOfInvalidRecords) {
    {  // No sweeps at all.
        Stage st;
        st.run(T0, {});
        EXPECT_EQ(st.h.data_heave.nrOfSweeps, 0);
        EXPECT_EQ(st.h.data_heave.nan, 1);
        EXPECT_EQ(st.status.peakmiss, 1);
    }
    {  // Both chosen peaks not above the threshold (10): 5 + 6 + 1.
        Stage st;
        st.run(T0, {{{at(500.0, 10)}}, {{at(501.0, 9)}}});
        EXPECT_EQ(st.h.data_heave.nan, 12);
        EXPECT_FLOAT_EQ(st.h.data_heave.Ep[1], 9);
    }
    {  // Sweep 1 without peaks keeps the previous record's distance and height.
        Stage st;
        st.run(T0, {{{at(500.0)}}, {{at(501.0, 2000)}}});
        st.h.data_peak.nan = 0;
        st.run(T0 + 100, {{{at(502.0)}}, {}});
        const heave_st& r = st.h.data_heave;
        EXPECT_EQ(r.nrOfSweeps, 0);
        EXPECT_EQ(r.nan, 1);
        EXPECT_NEAR(r.distance[0], 502.0, 1e-2);
        EXPECT_NEAR(r.distance[1], 501.0, 1e-2);
        EXPECT_FLOAT_EQ(r.Ep[1], 2000);
        EXPECT_EQ(st.status.peak, 1);
        EXPECT_EQ(st.status.peakmiss, 1);
    }
    {  // The peak stage's own count is carried on.
        Stage st;
        load(st.h, T0, "radar0", {{{at(500.0)}}, {{at(500.0)}}});
        st.h.data_peak.nan = 3;
        st.h.handleRecord(0, st.status);
        EXPECT_EQ(st.h.data_heave.nan, 3);
        EXPECT_EQ(st.h.data_heave.nrOfSweeps, 2);
    }
}

TEST(HeightStage, CorruptCountsNeverIndexPastTheRecord) {
    Stage st;
    load(st.h, T0, "radar0", {{{at(500.0)}}, {{at(500.0)}}});
    st.h.data_peak.nrOfSweeps = 7;
    st.h.data_peak.nrOfPeaks[0] = 100000;
    st.h.data_peak.nrOfPeaks[1] = -3;
    std::memset(st.h.data_peak.time, '9', sizeof st.h.data_peak.time);  // no terminator
    std::memset(st.h.data_peak.section, 'r', sizeof st.h.data_peak.section);
    st.h.handleRecord(0, st.status);
    EXPECT_EQ(st.h.data_heave.nrOfSweeps, 0);
    EXPECT_EQ(st.status.peakmiss, 1);
}

TEST(HeightStage, SingleSweepRadarsGiveValidHeightsWithoutVelocity) {
    Stage st;
    for (int k = 0; k < 3; ++k) {
        st.run(T0 + 100 * k, {{{at(500.0 + k)}}});
        const heave_st& r = st.h.data_heave;
        EXPECT_EQ(r.nrOfSweeps, 1);
        EXPECT_EQ(r.nan, 0);
        EXPECT_NEAR(r.distanceAvg, 500.0 + k, 1e-2);
        EXPECT_TRUE(std::isnan(r.VDoppler));
    }
    EXPECT_EQ(st.status.peak, 3);
}

TEST(HeightStage, FlangeDistanceAndPipeFactorFollowTheRadarType) {
    struct Case {
        const char* type;
        bool freeSpace;
        float flange;
    } cases[] = {{"P", false, 12.5f}, {"", false, 7.0f}, {"Free", true, 0.0f}, {"F", true, 0.0f}};
    for (const Case& c : cases) {
        ConfigFile cf(5010, 5011);
        configure(cf, "radar0");
        cf.setValue("radar0", "radarType", std::string(c.type));
        cf.setValue("radar0", "pipeDiameter", std::string("10"));
        cf.setValue("radar0", "PdistanceFromFlangeToAntennaBottom", std::string("12.5"));
        cf.setValue("radar0", "distanceFromFlangeToAntennaBottom", std::string("7"));
        cf.setValue("radar0", "FreedistanceFromFlangeToAntennaBottom", std::string("99"));
        HClass h(&cf);
        h.setVars("radar0");
        SCOPED_TRACE(c.type);
        EXPECT_EQ(h.settings.isFreeSpaceRadar, c.freeSpace ? 1 : 0);
        EXPECT_FLOAT_EQ(h.settings.distanceFromFlangeToAntennaBottom, c.flange);
        // Pipe of 10 cm: sqrt(1 - (3 * 3.832 / (10 * pi))^2) = 0.93064.
        EXPECT_NEAR(h.settings.pipeCorrection, c.freeSpace ? 1.0 : 0.93064, 1e-5);
        EXPECT_EQ(cf.ValueInt("radar0", "calculated"), 1);
        EXPECT_NEAR(cf.ValueFloat("radar0", "thresholdinv"), 10.0, 1e-4);
        EXPECT_NEAR(cf.ValueFloat("radar0", "secondPeakMargin"), std::pow(10.0, 0.3), 1e-5);
        // 1 m at 0.14633912 m per bin: bin 6.
        EXPECT_EQ(cf.ValueInt("radar0", "minimumbin"), 6);
        EXPECT_EQ(cf.ValueInt("radar0", "maximumbin"), 136);
    }
}

TEST(HeightStage, MissingSweepSizePutsEveryPeakAtTheFlange) {
    ConfigFile cf(5010, 5011);
    configure(cf, "radar0", 20);
    cf.content_.erase("radar0/sweepsize");
    cf.setValue("radar0", "radarType", std::string("P"));
    cf.setValue("radar0", "PdistanceFromFlangeToAntennaBottom", std::string("30"));
    cf.setValue("radar0", "pipeDiameter", std::string("20"));
    HClass h(&cf);
    status_st status{};
    load(h, T0, "radar0", {{{{40, 1000, 0.5f}}}, {{{90, 1000, 0}}}});
    h.handleRecord(0, status);
    // -(flange + offset) * factor + flange, with the factor of a 20 cm pipe 0.98312.
    for (float d : h.data_heave.distance) EXPECT_NEAR(d, -(30 + 20) * 0.98312 + 30, 1e-3);
    EXPECT_EQ(cf.ValueInt("radar0", "minimumbin"), 1);
    EXPECT_EQ(cf.ValueInt("radar0", "maximumbin"), 2);
}

TEST(HeightStage, SecondRecordUsesTheWindowOfTheFirstOnlyWhenItWasValid) {
    // A lone peak 300 cm from the last surface, 0.1 s later, lies outside the
    // dynamic window [500 - 120, 500 + 80] but inside the static one.
    {
        Stage st;
        st.run(T0, {{{at(500.0)}}, {{at(500.0)}}});
        st.run(T0 + 100, {{{at(800.0)}}, {{at(800.0)}}});
        EXPECT_EQ(st.h.data_heave.nrOfSweeps, 0);
        EXPECT_NEAR(st.h.tracker.windowup[0], 580.0, 1e-2);
        EXPECT_NEAR(st.h.tracker.windowdown[1], 380.0, 1e-2);
    }
    {  // First record invalid: no centre was kept, the window is the static one.
        Stage st;
        st.run(T0, {{{at(500.0, 1)}}, {{at(500.0, 1)}}});
        st.run(T0 + 100, {{{at(800.0)}}, {{at(800.0)}}});
        EXPECT_EQ(st.h.data_heave.nrOfSweeps, 2);
        EXPECT_FLOAT_EQ(st.h.tracker.windowup[0], 2000.0f);
        EXPECT_FLOAT_EQ(st.h.tracker.windowdown[0], 100.0f);
    }
}

TEST(HeightStage, SurfaceLostIsFoundAgainAsTheWindowWidens) {
    // Surface at 500 cm every 100 ms, then it shows at 790 cm. At 1 m/s the
    // far edge moves out 300 cm per second since the last valid record, from
    // 500 + 2 * 40: it reaches 790 cm one second after the last valid record.
    Stage st;
    for (int k = 0; k < 5; ++k) st.run(T0 + 100 * k, {{{at(500.0)}}, {{at(500.0)}}});
    ASSERT_EQ(st.status.peak, 5);
    const long long lastValid = T0 + 400;
    long long foundAt = 0;
    for (int k = 1; k <= 20 && foundAt == 0; ++k) {
        const long long t = lastValid + 100 * k;
        st.run(t, {{{at(790.0)}}, {{at(790.0)}}});
        if (st.h.data_heave.nrOfSweeps == 2) foundAt = t;
    }
    EXPECT_EQ(foundAt, lastValid + 1000);
    EXPECT_NEAR(st.h.data_heave.distanceAvg, 790.0, 1e-2);
    // A strong nearer echo hides the surface; a strong farther one does not pull it away.
    st.run(foundAt + 100, {{{at(300.0, 1e6), at(792.0, 100)}}, {{at(792.0, 100), at(1500.0, 1e6)}}});
    EXPECT_EQ(st.h.data_heave.nrOfSweeps, 0);
    st.run(foundAt + 200, {{{at(793.0, 100), at(1500.0, 1e6)}}, {{at(793.0, 100), at(1500.0, 1e6)}}});
    EXPECT_EQ(st.h.data_heave.nrOfSweeps, 2);
    EXPECT_NEAR(st.h.data_heave.distanceAvg, 793.0, 1e-2);
    EXPECT_EQ(st.h.tracker.slots[0].peaksOutsideDynWind, 2);
}

TEST(HeightStage, EachRadarMeasuresWithItsOwnSettings) {
    ConfigFile cf(5010, 5011);
    configure(cf, "radar0", 0);
    configure(cf, "radar1", 50);
    HClass h(&cf);
    status_st status{};
    // Both radars see the same bins; radar1's offset takes 50 cm off, on its
    // first record and on every later one.
    for (int k = 0; k < 3; ++k) {
        for (const char* section : {"radar0", "radar1"}) {
            load(h, T0 + 100 * k, section, {{{at(600.0)}}, {{at(600.0)}}});
            h.handleRecord(0, status);
            const double expected = std::string(section) == "radar0" ? 600.0 : 550.0;
            EXPECT_NEAR(h.data_heave.distanceAvg, expected, 1e-2) << section << " record " << k;
        }
    }
    EXPECT_EQ(status.peak, 6);
    EXPECT_EQ(h.tracker.slots[1].section, "radar1");
    EXPECT_EQ(h.tracker.slots[1].buff.size(), 3u);
}

// Above debug level 7 the stage writes its labelled values with the stream's
// default formatting, in the order it works them out; at 7 none of them.
TEST(HeightStage, LabelledValuesAboveDebugLevelSeven) {
    // First record of the section: deviation 1 cm, so Vmax 1 m/s; the whole
    // epoch time as the time step, so the window is the measuring range.
    const double dt = T0 / 1000.0;
    const float d = static_cast<float>((1.0 / 0.01) * 1.5 * dt);
    auto g = [](double v) {
        std::ostringstream os;
        os << static_cast<float>(v);
        return os.str();
    };
    const std::vector<std::string> texts = {
        "\n-----------> Found 1st sensor! ",
        "\n-----------> section00 = radar0",
        "\n standard deviation = 1 [cm] wave height = 0.04 [m] Vmax = 1 [m/sec]",
        "\n timestamp = 1.76526e+12 dt = 1.76526e+09 [sec] displacement = " + g(d) + " [cm] peaksOutsideDynWind = 0 []",
        " window up = " + g(2.0 * d) + " " + g(2.0 * d) + " [cm] window down = " + g(-3.0 * d) + " " + g(-3.0 * d) + " [cm]",
        "\n checked window up = 2000 2000 [cm] checked window down = 100 100 [cm]",
        "\n number of sweeps = 2 [-]",
        "\n sweep number = 0 [-] number of peaks = 2 [-]",
        "\n peak number = 0 [-] peak height = 5 [-]",
        "\n distance = 300",
        "\n In static!!  peak distance = 300 [cm]",
        "\n peak number = 1 [-] peak height = 1000 [-]",
        "\n distance = 500",
        "\n In static!!  peak distance = 500 [cm]",
        "Within DWindow: height:5, Correction: " + g(at(300.0).correction) + ", bin:" + std::to_string(at(300.0).bin) +
            ", Time:1765257600000, d:500,WindowDown:100,Windowup:2000",
        "\n In dynamic!! ",
        "\n thresholdInv = 10",
        "\n sweep number = 1 [-] number of peaks = 1 [-]",
        "\n thresholdInv = 10",
        "\n distanceAvg = 500.5 [cm]\n VDoppler = ",
        "\n stdDev00 = 0",
    };
    const struct {
        int level;
        bool shown;
    } levels[] = {{7, false}, {8, true}};
    for (const auto& l : levels) {
        SCOPED_TRACE(l.level);
        Stage st;
        st.h.debug = l.level;
        testing::internal::CaptureStdout();
        st.run(T0, {{{at(300.0, 5), at(500.0)}}, {{at(501.0)}}});
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(st.h.data_heave.nrOfSweeps, 2);
        size_t from = 0;
        for (const std::string& t : texts) {
            const size_t at = out.find(t, from);
            if (!l.shown) {
                EXPECT_EQ(out.find(t), std::string::npos) << t;
                continue;
            }
            ASSERT_NE(at, std::string::npos) << "missing or out of order: " << t << "\nin:\n" << out;
            from = at + t.size();
        }
        if (l.shown) {
            const size_t v = out.find("\n VDoppler = ");
            ASSERT_NE(v, std::string::npos);
            EXPECT_NEAR(std::strtod(out.c_str() + v + 13, nullptr), 0.5 * 4.3516097, 1e-3);
            EXPECT_EQ(out.find(" [cm/sec]", v), out.find_first_not_of("0123456789.-e+", v + 13));
        }
    }
}

TEST(HeightStage, PairFaultCodeByWhatFailsFirst) {
    struct Row {
        int sweeps, validPeaks;
        float sum, velocity;
        bool mountingFinite;
        bool offsetFinite;
        int code;
    } rows[] = {
        {2, 2, 1000, 10, true, true, 0},             // valid pair
        {1, 1, 500, NAN, true, true, 0},             // one sweep: no velocity, no bound
        {0, 0, 0, 0, true, true, 1},                 // no sweeps
        {2, 1, 500, 0, true, true, 1},               // one sweep without a valid pick
        {3, 2, 1000, 0, true, true, 1},              // a corrupt count never matches
        {2, 2, NAN, 0, true, true, 1},               // a distance that is no number
        {2, 2, 1000, 150.5f, true, true, 15},        // beyond the bound (150 cm/s)
        {2, 2, 1000, -150.5f, false, true, 15},      // the velocity decides before the mounting
        {2, 2, 1000, 150, true, true, 0},            // exactly the bound passes
        {1, 1, 500, NAN, false, true, NAN_MOUNTING}, // mounting gives no height
        {2, 0, 0, 0, false, true, 1},                // no pick decides before the mounting
        {2, 0, 0, 0, true, false, NAN_MOUNTING},     // an offset that is no number: no pick made
    };
    for (const Row& r : rows) {
        PairCheck c;
        c.sweeps = r.sweeps;
        c.validPeaks = r.validPeaks;
        c.distanceSum = r.sum;
        c.velocity = r.velocity;
        c.velocityBound = 150;
        c.mountingFinite = r.mountingFinite;
        c.offsetFinite = r.offsetFinite;
        EXPECT_EQ(pairFault(c), r.code) << r.sweeps << " sweeps, " << r.validPeaks << " valid, v " << r.velocity;
    }
}
