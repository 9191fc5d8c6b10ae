#include "surfacetracker.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <iostream>

void SurfaceTracker::registerSection(const std::string& section) {
    if (slots[0].section.empty()) {
        slots[0].section = section;
        if (debug > 7) std::printf("\n-----------> Found 1st sensor! ");
    } else if (slots[1].section.empty() && section != slots[0].section) {
        slots[1].section = section;
        if (debug > 7) std::printf("\n-----------> Found 2nd sensor! ");
    } else if (slots[2].section.empty() && section != slots[0].section &&
               section != slots[1].section) {
        slots[2].section = section;
        if (debug > 7) std::printf("\n-----------> Found 3rd sensor! ");
    } else if (section != slots[0].section && section != slots[1].section &&
               section != slots[2].section) {
        if (debug > 7) std::printf("\n-----------> Found 4th sensor!?!?");
    }
}

int SurfaceTracker::load(const std::string& section) {
    slot = -1;
    for (int n = 0; n < nrOfSlots; ++n) {
        if (slots[n].section == section) {
            slot = n;
            break;
        }
    }
    if (slot < 0) {
        // A section without a slot keeps what its settings left.
        peaksOutsideDynWind = 0;
        if (debug > 7) std::printf("\n-----------> Unknown section !?!? %s", section.c_str());
        return slot;
    }
    const TrackerSlot& t = slots[slot];
    windowstd = static_cast<float>(t.stdDev);
    lastValidTime = t.lastValidTime;
    peaksOutsideDynWind = t.peaksOutsideDynWind;
    if (debug > 7) std::printf("\n-----------> section0%d = %s", slot, section.c_str());
    return slot;
}

void SurfaceTracker::window(const SectionSettings& s, double recordTime) {
    waveHeight = windowstd * 0.04;
    Vmax = static_cast<float>(3.0 * std::sqrt(waveHeight));
    if (Vmax < 1.0f || std::isnan(Vmax)) Vmax = 1.0f;
    dt = (recordTime - lastValidTime) / 1000.0;
    displacement = static_cast<float>((Vmax / 0.01) * 1.5 * dt * (1 + 0.5 * peaksOutsideDynWind));
    const float d = displacement < 40.0f ? 40.0f : displacement;
    for (int i = 0; i < 2; ++i) {
        windowup[i] = static_cast<float>(windowLastDistance[i] + 2.0 * d);
        windowdown[i] = static_cast<float>(windowLastDistance[i] - 3.0 * d);
    }
    if (debug > 7) {
        std::cout << "\n standard deviation = " << windowstd << " [cm]" << " wave height = " << waveHeight << " [m]"
                  << " Vmax = " << Vmax << " [m/sec]";
        std::cout << "\n timestamp = " << recordTime << " dt = " << dt << " [sec]" << " displacement = " << displacement
                  << " [cm]" << " peaksOutsideDynWind = " << peaksOutsideDynWind << " []";
        std::cout << " window up = " << windowup[0] << " " << windowup[1] << " [cm]" << " window down = "
                  << windowdown[0] << " " << windowdown[1] << " [cm]";
    }
    const float maxcm = s.maximumheight * 100.0f;
    const float mincm = s.minimumheight * 100.0f;
    for (int i = 0; i < 2; ++i)
        if (windowup[i] > maxcm || std::isnan(windowup[i])) windowup[i] = maxcm;
    for (int i = 0; i < 2; ++i)
        if (windowdown[i] < mincm || std::isnan(windowdown[i])) windowdown[i] = mincm;
    for (int i = 0; i < 2; ++i) {
        if (windowup[i] < windowdown[i]) {
            windowup[i] = maxcm;
            windowdown[i] = mincm;
        }
    }
    if (debug > 7)
        std::cout << "\n checked window up = " << windowup[0] << " " << windowup[1] << " [cm]"
                  << " checked window down = " << windowdown[0] << " " << windowdown[1] << " [cm]";
}

void SurfaceTracker::update(long long recordTime, float distanceAvg, int recordOutside) {
    if (slot < 0) return;
    TrackerSlot& t = slots[slot];
    t.lastValidTime = static_cast<double>(recordTime);
    if (recordOutside == 0) {
        t.peaksOutsideDynWind = 0;
    } else {
        // Saturate: the count only widens the window, it must never wrap negative.
        const long long sum = static_cast<long long>(t.peaksOutsideDynWind) + recordOutside;
        t.peaksOutsideDynWind = sum > INT_MAX ? INT_MAX : static_cast<int>(sum);
    }
    while (t.buff.size() >= buffSize) t.buff.pop_front();
    t.buff.push_back(static_cast<double>(distanceAvg));
    double S = 0, Q = 0;
    for (double v : t.buff) {
        S += v;
        Q += v * v;
    }
    const double n = static_cast<double>(t.buff.size());
    double R = n * Q - S * S;
    if (std::isnan(R)) R = 0;
    double sd = std::sqrt(R) / n;  // a rounding-negative R gives NaN, floored below
    if (sd < 1.0 || std::isnan(sd)) {
        if (debug > 7) std::cout << "\n stdDev0" << slot << " = " << sd;
        sd = 1.0;
    }
    t.stdDev = sd;
}
