// The reflection line built from a peak and a spectrum record.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "configfile.h"
#include "subscriptions.h"

namespace {

struct Line {
    ConfigFile cf{0, 0};
    std::unique_ptr<SubscriptionsClass> sub;
    std::unique_ptr<peak_st> P = std::make_unique<peak_st>();
    std::unique_ptr<fft_st> F = std::make_unique<fft_st>();
    std::string line;

    explicit Line(const char* sweepsize = "1024") {
        cf.setValue("radar0", "sweepsize", std::string(sweepsize));
        cf.setValue("radar0", "mountingheight", std::string("1200"));
        cf.setValue("radar0", "mountingangle", std::string("0"));
        cf.setValue("radar0", "radaroffset", std::string("20"));
        cf.setValue("radar0", "radarname", std::string("radarA"));
        cf.setValue("radar0", "radarType", std::string("F"));
        sub = std::make_unique<SubscriptionsClass>(&cf);
        std::memset(P.get(), 0, sizeof *P);
        std::memset(F.get(), 0, sizeof *F);
        std::strcpy(P->time, "1765257600000");
        std::strcpy(P->section, "radar0");
        std::strcpy(sub->data_heave.section, "radar0");
        sub->data_heave.distanceAvg = 500;  // height 700
        sub->setVars("radar0");
    }
    // The text between "name=" and the next ";".
    std::string piece(const char* name) {
        sub->reflectionLine(*P, *F, line);
        const std::string key = std::string(";") + name + "=";
        const std::size_t at = line.find(key) + key.size();
        return line.substr(at, line.find(';', at) - at);
    }
};

}  // namespace

TEST(Reflection, WholeLineOfOnePeakAndNoSpectrum) {
    Line l;
    l.P->nrOfSweeps = 1;
    l.P->nrOfPeaks[0] = 1;
    l.P->data[0][0] = {120, 55.5f, 0.25f};
    l.P->windowdown = 10;
    l.P->windowup = 100;
    l.sub->reflectionLine(*l.P, *l.F, l.line);
    // 1024 samples: 0.14633912 m per bin; window bins 10 and 100; offset 20 cm.
    EXPECT_EQ(l.line,
              "time=1765257600000;sensor=radarA;Diag=NaN;Peak=120.00000!700.00000!0.25000;"
              "Window=1.46339m,14.63391m;SC=0.20000m,0.14634m;");
}

TEST(Reflection, PeaksOfBothSweepsAndEmptyOnes) {
    struct Case {
        int sweeps, n0, n1;
        const char* peaks;
    } cases[] = {
        {0, 0, 0, "NaN"},
        {1, 0, 0, ""},  // first sweep without peaks: nothing to cut, no crash
        {2, 0, 1, "!3.00000!700.00000!0.50000"},
        {2, 2, 1, "1.00000!700.00000!0.50000,2.00000!700.00000!0.50000!3.00000!700.00000!0.50000"},
        {2, 1, 0, "1.00000!700.00000!0.50000"},
        {9, 1, 1000, "1.00000!700.00000!0.50000!3.00000!700.00000!0.50000,4.00000!700.00000!0.50000"},
    };
    for (const Case& c : cases) {
        Line l;
        l.P->nrOfSweeps = c.sweeps;
        l.P->nrOfPeaks[0] = c.n0;
        l.P->nrOfPeaks[1] = c.n1;
        for (int k = 0; k < 64; ++k) {
            l.P->data[0][k] = {1 + k, 1, 0.5f};
            l.P->data[1][k] = {3 + k, 1, 0.5f};
        }
        if (c.n1 == 1000) {  // a corrupt count reads no further than the 64 peaks of the row
            std::string expected = "1.00000!700.00000!0.50000!";
            for (int k = 0; k < 64; ++k) {
                if (k) expected += ",";
                expected += std::to_string(3 + k) + ".00000!700.00000!0.50000";
            }
            EXPECT_EQ(l.piece("Peak"), expected);
            continue;
        }
        EXPECT_EQ(l.piece("Peak"), c.peaks) << c.sweeps << " " << c.n0 << " " << c.n1;
    }
}

TEST(Reflection, SpectrumOfEachSweepUpToTheRecordWidth) {
    Line small("8");  // four bins per sweep
    small.F->nrOfSweeps = 2;
    for (int b = 0; b < 8; ++b) {
        small.F->data[0][b] = 1.0f + b;
        small.F->data[1][b] = 0.0f - 0.5f * static_cast<float>(b);
    }
    small.F->data[1][3] = -std::numeric_limits<float>::infinity();
    EXPECT_EQ(small.piece("Diag"), "1.00000,2.00000,3.00000,4.00000!0.00000,-0.50000,-1.00000,0!");

    // A sweep size beyond the record reads 2148 values per sweep, no more.
    Line wide("10000");
    wide.F->nrOfSweeps = 1;
    const std::string d = wide.piece("Diag");
    EXPECT_EQ(std::count(d.begin(), d.end(), ','), 2147);
    EXPECT_EQ(d.back(), '!');
}
