// Which peak of a sweep is the water surface, and the memory per radar
// section that lets that choice follow the surface from record to record.
#pragma once

#include <cstddef>
#include <cstdio>
#include <deque>
#include <iostream>
#include <string>

#include "sectionsettings.h"

// Memory of one radar section kept between its records.
struct TrackerSlot {
    std::string section;  // empty while free
    double stdDev = 1.0;  // cm, never below 1
    double lastValidTime = 0.0;  // epoch ms
    int peaksOutsideDynWind = 0;
    std::deque<double> buff;  // averaged distances, oldest first
};

struct PeakChoice {
    int bin = 0;
    float height = -10.0f;
    float correction = 0.0f;
};

// Follows the surface of up to three radar sections from record to record:
// a static window (the measuring range), a dynamic window around the last
// valid distance that widens with time and expected surface speed, and a
// margin a farther peak must beat to replace a nearer one.
class SurfaceTracker {
public:
    static constexpr std::size_t buffSize = 3072;
    static constexpr int nrOfSlots = 3;

    TrackerSlot slots[nrOfSlots];
    int debug = 0;
    const char* sectionName = "";  // of the record being handled, for debug lines
    const char* timeText = "";     // its time text, for debug lines

    // Window state of the record being handled (members of the height stage).
    float windowup[2] = {0, 0};
    float windowdown[2] = {0, 0};
    float windowLastDistance[2] = {0, 0};
    float windowstd = 0;
    double lastValidTime = 0;

    // Per-record working values.
    int slot = -1;
    int peaksOutsideDynWind = 0;
    double waveHeight = 0;
    float Vmax = 1.0f;
    double dt = 0;
    float displacement = 0;

    // Gives a free slot to a section not seen before (first three names only).
    void registerSection(const std::string& section);
    // Loads the section's slot into the window state; returns the slot or -1.
    int load(const std::string& section);
    // Dynamic windows of both sweeps and the velocity bound for a record at
    // recordTime (epoch ms).
    void window(const SectionSettings& s, double recordTime);
    // The surface peak of sweep i among n peaks (increasing bin); counts the
    // sweep when the peak the margin prefers in the static window is not it.
    template <class Peak>
    PeakChoice choose(const SectionSettings& s, const Peak* peaks, int n, int i);
    // Statistics of the section after a valid record.
    void update(long long recordTime, float distanceAvg, int recordOutside);

private:
    bool inStatic(const SectionSettings& s, float d) const {
        return d >= s.minimumheight * 100.0f && d <= s.maximumheight * 100.0f;
    }
};

template <class Peak>
PeakChoice SurfaceTracker::choose(const SectionSettings& s, const Peak* peaks, int n, int i) {
    PeakChoice hSt;
    PeakChoice hStMax;
    for (int k = 0; k < n; ++k) {
        const float height = peaks[k].height;
        if (debug > 7) std::cout << "\n peak number = " << k << " [-]" << " peak height = " << height << " [-]";
        if (!(height > hStMax.height * s.secondPeakMargin)) continue;
        const float d = s.distanceOf(peaks[k].bin, peaks[k].correction);
        if (debug > 7) std::cout << "\n distance = " << d;
        if (!inStatic(s, d)) continue;
        if (debug > 7) std::cout << "\n In static!! " << " peak distance = " << d << " [cm]";
        hStMax.bin = peaks[k].bin;
        hStMax.height = height;
        if (!(height > hSt.height * s.secondPeakMargin)) continue;
        if (debug > 8)
            std::printf("\n%s (heave all peaks d:%f >= windowdown=%f)&&(d=%f <= windowup=%f)", sectionName, d,
                        windowdown[i], d, windowup[i]);
        if (debug > 7)
            std::cout << "Within DWindow: height:" << hSt.height << ", Correction: " << hSt.correction
                      << ", bin:" << hSt.bin << ", Time:" << timeText << ", d:" << d << ",WindowDown:" << windowdown[i]
                      << ",Windowup:" << windowup[i];
        if (!(d >= windowdown[i] && d <= windowup[i])) continue;
        if (debug > 7) std::cout << "\n In dynamic!! ";
        hSt.bin = peaks[k].bin;
        hSt.height = height;
        hSt.correction = peaks[k].correction;
    }
    if (hSt.bin != hStMax.bin) {
        ++peaksOutsideDynWind;
        if (debug > 7) std::printf(" !!!peaksOutsideDynWind!!! %d,%d", hSt.bin, hStMax.bin);
    }
    return hSt;
}
