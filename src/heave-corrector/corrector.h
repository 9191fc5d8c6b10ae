// The heave corrector's work on texts: the radar heave line and the five-field
// IMU line parsed, each radar sample paired with the two IMU samples around it in
// time, and the radar heave corrected for roll and pitch plus the IMU heave.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

constexpr size_t RADAR_QUEUE_MAX = 1201;
constexpr size_t IMU_QUEUE_MAX = 201;
// IMU samples this far apart (ms) or more are not interpolated between.
constexpr uint64_t IMU_PAIR_LIMIT = 150;

struct radarheave_st {
    uint64_t time;
    char sensor[20];  // names are cut to 19 characters
    float heave;
};

struct imusample_st {
    uint64_t time;
    float heave;
    float roll;   // degrees
    float pitch;
    float yaw;
};

struct interpolated_st {
    uint64_t time;  // always the radar time
    float heaveIMU;
    float heaveRadar;
    float roll;
    float pitch;
    float yaw;
};

// Cut at every separator, empty pieces kept.
std::vector<std::string> splitText(const std::string& text, const std::string& separator);

// "time=..;sensor=..;heave=..cm": keys in any order, others ignored. A key that
// is missing leaves time 0, sensor "" or heave NaN.
radarheave_st parseRadarLine(const std::string& text, bool quiet);

// Fields of an IMU line; false when it has fewer than five.
bool hasImuFields(const std::string& text);
// "time,heave,roll,pitch,yaw[,...]": the time cut to 13 digits (microseconds
// become milliseconds) plus the time lag. Needs five fields (hasImuFields).
imusample_st parseImuLine(const std::string& text, const std::string& timelag, bool quiet);

float interpolateValue(uint64_t t0, float a, uint64_t t1, float b, uint64_t t);
interpolated_st interpolateSample(const radarheave_st& r, const imusample_st& low, const imusample_st& high, bool quiet);

struct Mounting {
    double height = 0.0;  // H0, same unit as the radar heave
    double angle = 0.0;   // degrees
};

// H0 - (H0 - radar heave) cos(roll) cos(pitch) / cos(angle), plus the IMU heave.
float correctHeave(const interpolated_st& s, const Mounting& m, bool quiet);

// The published line: "time,corrected,roll,pitch,yaw" with %g values.
std::string formatCorrected(const interpolated_st& s, float corrected);

class HeaveAligner {
public:
    HeaveAligner(std::string timelag, bool quiet);

    // Queues a radar text (the oldest dropped when full, or when the text says
    // "NaN"); true when it says "nan" and is to be forwarded at once.
    bool addRadar(const std::string& text);
    // Queues an IMU text; false, and nothing queued, when it has fewer than five fields.
    bool addImu(const std::string& text);
    // One alignment step; true with *out set when a radar sample was aligned.
    bool step(interpolated_st* out);

    size_t radarCount() const { return radarQueue.size(); }
    size_t imuCount() const { return imuQueue.size(); }

private:
    imusample_st takeOldestImu();
    void noData() const;

    std::string timelag;
    bool quiet;
    std::deque<std::string> radarQueue;
    std::deque<std::string> imuQueue;
    imusample_st imuLow{};
    imusample_st imuHigh{};
    bool reloadImuPair = true;
};
