// The settings of a radar section as the peak, height and subscriptions
// stages use them: read from the configuration, derived, written back into
// this process's copy of the configuration and kept per section.
#pragma once

#include <cstddef>

#include "sectioncache.h"

class ConfigFile;

constexpr int RADAR_NAME_SIZE = 100;

struct SectionSettings {
    // As configured.
    int sweepsize = 0;
    int nrofsweeps = 0;
    float minimumheight = 0;   // m
    float maximumheight = 0;   // m
    float mountingHeight = 0;  // cm
    float mountingAngle = 0;   // degrees
    float radarOffset = 0;     // cm
    int isFreeSpaceRadar = 0;  // "radarType" begins with "F"
    float distanceFromFlangeToAntennaBottom = 0;  // cm; 0 for a free-space radar
    float pipeDiameter = 0;
    float secondPeakMargin_dB = 0;
    char radarName[RADAR_NAME_SIZE] = {};
    int validDataPointsN = 0;
    float validDataPointsSteps = 0;

    // Derived. All but pipeCorrection are written back ("calculated" marks
    // them) and, from a section's second record on, read back as stored: with
    // the 6 significant digits of their text.
    float pipeCorrection = 0;
    float cosAngle = 0;
    float fourierDistanceCm = 0;
    float thresholdInv = 0;
    int minimumbin = 0;
    int maximumbin = 0;
    float secondPeakMargin = 0;
    float windowstdev = 0;  // read back only: nothing derives it

    // Distance from the antenna in cm of a peak at bin + correction; inside a
    // still pipe only the part beyond the flange is scaled.
    float distanceOf(int bin, float correction) const {
        return distanceFromFlangeToAntennaBottom +
               ((static_cast<float>(bin) + correction) * fourierDistanceCm -
                (distanceFromFlangeToAntennaBottom + radarOffset)) *
                   pipeCorrection;
    }
};

// How the measuring range becomes FFT bins.
enum class BinRange {
    // The peak stage searches a range widened by the radar offset and rounded
    // outward: floor(minimumheight / w), ceil((maximumheight + radaroffset) / w),
    // with w the metres per bin; 1 and 2 when the sweep size gives no bins.
    Widened,
    // The height and subscriptions stages take the range itself, truncated:
    // minimumheight / w, maximumheight / w; 0 and 0 when there are no bins.
    Truncated,
};

class SectionSettingsLoader {
public:
    SectionSettingsLoader(ConfigFile* cf, BinRange bins) : cf_(cf), bins_(bins) {}

    // The settings of the section named by a record's text field (not
    // necessarily terminated) into *out. The section's first record in this
    // process derives the settings and writes them back (answering true); the
    // next one reads them back; later ones take them from a cache.
    bool load(const char* field, std::size_t size, SectionSettings* out);

private:
    ConfigFile* cf_;
    BinRange bins_;
    SectionCache<SectionSettings> readBack_;
};
