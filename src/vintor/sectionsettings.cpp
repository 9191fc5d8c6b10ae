#include "sectionsettings.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "configfile.h"
#include "misc.h"

namespace {

// Bin numbers come from settings; a NaN or out-of-range value must not make
// the conversion undefined. The margin keeps the peak record's window (bin +-1) in range.
int toBin(float v) {
    if (std::isnan(v)) return 0;
    if (v >= static_cast<float>(INT_MAX - 128)) return INT_MAX - 128;
    if (v <= static_cast<float>(INT_MIN + 128)) return INT_MIN + 128;
    return static_cast<int>(v);
}

int toInt(long v) {
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

void readConfigured(ConfigFile* cf, const std::string& section, SectionSettings* s) {
    s->sweepsize = toInt(cf->ValueLong(section, "sweepsize"));
    s->nrofsweeps = toInt(cf->ValueLong(section, "nrofsweeps"));
    s->minimumheight = cf->ValueFloat(section, "minimumheight");
    s->maximumheight = cf->ValueFloat(section, "maximumheight");
    s->mountingHeight = cf->ValueFloat(section, "mountingheight");
    s->mountingAngle = cf->ValueFloat(section, "mountingangle");
    s->radarOffset = cf->ValueFloat(section, "radaroffset");
    std::string type;
    cf->ValueString(section, "radarType", &type);
    s->isFreeSpaceRadar = !type.empty() && type[0] == 'F' ? 1 : 0;
    s->distanceFromFlangeToAntennaBottom =
        s->isFreeSpaceRadar ? 0.0f : cf->ValueFloat(section, type + "distanceFromFlangeToAntennaBottom");
    s->pipeDiameter = cf->ValueFloat(section, "pipeDiameter");
    s->pipeCorrection = util::getPipeCorrection(s->isFreeSpaceRadar, s->pipeDiameter);
    s->secondPeakMargin_dB = cf->ValueFloat(section, "secondPeakMargin_dB");
    std::string name;
    cf->Value(section, "radarname", &name);
    std::snprintf(s->radarName, sizeof s->radarName, "%s", name.c_str());
    s->validDataPointsN = cf->ValueInt(section, "validDataPointsN");
    s->validDataPointsSteps = cf->ValueFloat(section, "validDataPointsSteps");
}

}  // namespace

bool SectionSettingsLoader::load(const char* field, std::size_t size, SectionSettings* out) {
    if (const SectionSettings* kept = readBack_.find(field, size)) {
        *out = *kept;
        return false;
    }
    const std::string section(field, strnlen(field, size));
    SectionSettings s;
    readConfigured(cf_, section, &s);
    if (cf_->ValueInt(section, "calculated") != 0) {
        s.fourierDistanceCm = cf_->ValueFloat(section, "fourierdistancecm");
        s.minimumbin = toBin(cf_->ValueFloat(section, "minimumbin"));
        s.maximumbin = toBin(cf_->ValueFloat(section, "maximumbin"));
        s.cosAngle = cf_->ValueFloat(section, "cosangle");
        s.thresholdInv = cf_->ValueFloat(section, "thresholdinv");
        s.windowstdev = cf_->ValueFloat(section, "windowstdev");
        s.secondPeakMargin = cf_->ValueFloat(section, "secondPeakMargin");
        // Read back once, they no longer change: later records of the section
        // cost no configuration lookups.
        readBack_.store(field, size, s);
        *out = s;
        return false;
    }

    // The section's first record: derived values are used unrounded.
    cf_->setValue(section, "calculated", 1);
    const float tenth = cf_->ValueFloat(section, "threshold") / 10.0f;
    s.thresholdInv = static_cast<float>(std::pow(10.0, static_cast<double>(tenth)));
    cf_->setValue(section, "thresholdinv", s.thresholdInv);
    s.cosAngle = static_cast<float>(std::cos(static_cast<double>(s.mountingAngle) * M_PI / 180.0));
    cf_->setValue(section, "cosangle", s.cosAngle);
    s.fourierDistanceCm = util::getFourierDistance(s.sweepsize);
    cf_->setValue(section, "fourierdistancecm", s.fourierDistanceCm);
    if (s.fourierDistanceCm == 0.0f) {
        if (bins_ == BinRange::Widened) {
            s.minimumbin = 1;
            s.maximumbin = 2;
        }
        cf_->setValue(section, "minimumbin", 1);
        cf_->setValue(section, "maximumbin", 2);
    } else {
        const float w = s.fourierDistanceCm / 100.0f;
        if (bins_ == BinRange::Widened) {
            s.minimumbin = toBin(std::floor(s.minimumheight / w));
            s.maximumbin = toBin(std::ceil((s.maximumheight + s.radarOffset) / w));
        } else {
            s.minimumbin = toBin(s.minimumheight / w);
            s.maximumbin = toBin(s.maximumheight / w);
        }
        cf_->setValue(section, "minimumbin", s.minimumbin);
        cf_->setValue(section, "maximumbin", s.maximumbin);
    }
    s.secondPeakMargin = static_cast<float>(std::pow(10.0, s.secondPeakMargin_dB / 10.0));
    cf_->setValue(section, "secondPeakMargin", s.secondPeakMargin);
    *out = s;
    return true;
}
