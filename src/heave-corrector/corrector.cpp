#include "corrector.h"

#include "misc.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Out-of-range values become infinities rather than undefined conversions.
float toFloat(double v)
{
    if (v > FLT_MAX)
        return INFINITY;
    if (v < -FLT_MAX)
        return -INFINITY;
    return static_cast<float>(v);
}

// Negative and NaN times become 0, too large ones the largest time.
uint64_t toTime(double v)
{
    if (!(v >= 0.0))
        return 0;
    if (v >= 18446744073709551616.0)
        return UINT64_MAX;
    return static_cast<uint64_t>(v);
}

unsigned long long ull(uint64_t v)
{
    return static_cast<unsigned long long>(v);
}

} // namespace

std::vector<std::string> splitText(const std::string& text, const std::string& separator)
{
    return util::explode(separator, text);
}

radarheave_st parseRadarLine(const std::string& text, bool quiet)
{
    // Cleared first, so a key missing from this line never shows another line's value.
    radarheave_st r{};
    r.heave = NAN;
    for (const std::string& piece : splitText(text, ";")) {
        std::vector<std::string> kv = splitText(piece, "=");
        if (kv.size() < 2)
            continue;
        const std::string& value = kv[1];
        if (kv[0] == "time") {
            r.time = static_cast<uint64_t>(strtoll(value.c_str(), nullptr, 10));
        } else if (kv[0] == "sensor") {
            size_t n = value.copy(r.sensor, sizeof r.sensor - 1);
            r.sensor[n] = '\0';
        } else if (kv[0] == "heave") {
            r.heave = toFloat(strtod(splitText(value, ",")[0].c_str(), nullptr));
        }
    }
    if (!quiet)
        printf("Parsed Hslope: %llu %s %g\n", ull(r.time), r.sensor, r.heave);
    return r;
}

bool hasImuFields(const std::string& text)
{
    size_t commas = 0;
    for (char c : text)
        commas += c == ',';
    return commas >= 4;
}

imusample_st parseImuLine(const std::string& text, const std::string& timelag, bool quiet)
{
    std::vector<std::string> f = splitText(text, ",");
    imusample_st s{};
    if (f.size() < 5)
        return s;
    double time = strtod(f[0].substr(0, 13).c_str(), nullptr) + strtod(timelag.c_str(), nullptr);
    s.time = toTime(time);
    s.heave = toFloat(strtod(f[1].c_str(), nullptr));
    s.roll = toFloat(strtod(f[2].c_str(), nullptr));
    s.pitch = toFloat(strtod(f[3].c_str(), nullptr));
    s.yaw = toFloat(strtod(f[4].c_str(), nullptr));
    if (!quiet)
        printf("Parsed IMU: %llu %g %g %g %g\n", ull(s.time), s.heave, s.roll, s.pitch, s.yaw);
    return s;
}

float interpolateValue(uint64_t t0, float a, uint64_t t1, float b, uint64_t t)
{
    if (b == a)
        return a;
    return a + static_cast<float>(t - t0) * ((b - a) / static_cast<float>(t1 - t0));
}

interpolated_st interpolateSample(const radarheave_st& r, const imusample_st& low, const imusample_st& high, bool quiet)
{
    interpolated_st s;
    s.time = r.time;
    s.heaveRadar = r.heave;
    s.heaveIMU = interpolateValue(low.time, low.heave, high.time, high.heave, r.time);
    s.roll = interpolateValue(low.time, low.roll, high.time, high.roll, r.time);
    s.pitch = interpolateValue(low.time, low.pitch, high.time, high.pitch, r.time);
    s.yaw = interpolateValue(low.time, low.yaw, high.time, high.yaw, r.time);
    if (!quiet)
        printf("Time: %llu HeaveRadar: %g HeaveIMU: %g Pitch: %g Roll: %g Yaw: %g\n", ull(s.time), s.heaveRadar,
               s.heaveIMU, s.pitch, s.roll, s.yaw);
    return s;
}

float correctHeave(const interpolated_st& s, const Mounting& m, bool quiet)
{
    const double cr = std::cos(s.roll * 3.141592653589793 / 180.0);
    const double cp = std::cos(s.pitch * 3.141592653589793 / 180.0);
    const double h0 = m.height;
    const double a = m.angle;
    const double vintorHeave = s.heaveRadar;
    const double distanceToWater = vintorHeave / cr / cp;
    const float rotated = toFloat(h0 - (h0 - vintorHeave) * cr * cp / std::cos(a * 3.141592653589793 / 180.0));
    const float corrected = rotated + s.heaveIMU;
    if (!quiet)
        printf("Time =%llu HeaveRadar =%g HeaveIMU =%g Mount_height =%g Tilt =%g distance_to_water =%g vintor_heave =%g "
               "HeaveRotated =%g HeaveCorrected =%g Roll =%g Pitch =%g\n",
               ull(s.time), s.heaveRadar, s.heaveIMU, h0, a, distanceToWater, vintorHeave, rotated, corrected, s.roll,
               s.pitch);
    return corrected;
}

std::string formatCorrected(const interpolated_st& s, float corrected)
{
    char line[128];
    int n = snprintf(line, sizeof line, "%llu,%g,%g,%g,%g", ull(s.time), corrected, s.roll, s.pitch, s.yaw);
    return std::string(line, n > 0 ? static_cast<size_t>(n) : 0);
}

HeaveAligner::HeaveAligner(std::string timelag, bool quiet) : timelag(std::move(timelag)), quiet(quiet)
{
}

bool HeaveAligner::addRadar(const std::string& text)
{
    if (radarQueue.size() >= RADAR_QUEUE_MAX || (text.find("NaN") != std::string::npos && !radarQueue.empty()))
        radarQueue.pop_front();
    radarQueue.push_back(text);
    return text.find("nan") != std::string::npos;
}

bool HeaveAligner::addImu(const std::string& text)
{
    if (!hasImuFields(text)) {
        if (!quiet)
            printf("IMU line without five fields skipped: %s\n", text.c_str());
        return false;
    }
    if (imuQueue.size() >= IMU_QUEUE_MAX)
        imuQueue.pop_front();
    imuQueue.push_back(text);
    return true;
}

imusample_st HeaveAligner::takeOldestImu()
{
    imusample_st s = parseImuLine(imuQueue.front(), timelag, quiet);
    imuQueue.pop_front();
    return s;
}

void HeaveAligner::noData() const
{
    if (!quiet)
        printf("No Interpolated data Radar size:%zu IMU size:%zu\n", radarQueue.size(), imuQueue.size());
}

bool HeaveAligner::step(interpolated_st* out)
{
    if (imuQueue.size() <= 3 || radarQueue.empty()) {
        noData();
        return false;
    }
    const radarheave_st r = parseRadarLine(radarQueue.front(), quiet);
    if (reloadImuPair) {
        imuLow = takeOldestImu();
        if (!quiet)
            printf("IMU Buffer size: %zu Radar Buffer size: %zu\n", imuQueue.size(), radarQueue.size());
        imuHigh = parseImuLine(imuQueue.front(), timelag, quiet);
    }
    const imusample_st& low = imuLow;
    const imusample_st& high = imuHigh;
    if (high.time - low.time >= IMU_PAIR_LIMIT) {
        if (!quiet)
            printf("Delta Limit: %llu\n", ull(high.time - low.time));
        imuLow = takeOldestImu();
        imuHigh = parseImuLine(imuQueue.front(), timelag, quiet);
        reloadImuPair = false;
        noData();
        return false;
    }
    if (r.time == low.time || r.time == high.time) {
        const imusample_st& match = r.time == low.time ? low : high;
        if (!quiet)
            printf("Interpolate Equal - imu%s: %llu Radar Time :%llu\n", r.time == low.time ? "L" : "H", ull(match.time),
                   ull(r.time));
        radarQueue.pop_front();
        *out = {r.time, match.heave, r.heave, match.roll, match.pitch, match.yaw};
        reloadImuPair = true;
        return true;
    }
    if (low.time < r.time && r.time < high.time) {
        if (!quiet)
            printf("Interpolate - imuL: %llu Radar Time :%llu imuH: %llu Freq: \n", ull(low.time), ull(r.time),
                   ull(high.time));
        radarQueue.pop_front();
        *out = interpolateSample(r, low, high, quiet);
        reloadImuPair = true;
        return true;
    }
    if (r.time < low.time) {
        if (!quiet)
            printf("Vintor buffer pop - radar: %llu  imuLow: %llu  imuHigh: %llu\n", ull(r.time), ull(low.time),
                   ull(high.time));
        radarQueue.pop_front();
        reloadImuPair = false;
    } else {
        if (!quiet)
            printf("heave smoother buffer pop - imuLow: %llu  imuHigh: %llu  Radar: %llu\n", ull(low.time),
                   ull(high.time), ull(r.time));
        reloadImuPair = true;
    }
    noData();
    return false;
}
