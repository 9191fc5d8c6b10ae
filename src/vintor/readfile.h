// File replay front-end: sweep pairs from a recording, two "raw=" lines per
// measurement (up sweep, then down sweep).
#pragma once

#include <fstream>
#include <string>

#include "frontend.h"

// Samples reported per replayed sweep, whatever the line holds.
constexpr int REPLAY_SWEEP_LENGTH = 256;
constexpr int REPLAY_MAX_SAMPLES = 300;

// Parses one replay line "...raw=name;time;sweepnr;s0,s1,...[;rest]" into one
// entry. Returns 1 and writes nothing when the line has no "raw=" or fewer than
// three ";" after it. Name and time are cut to their fields; at most 300
// samples, each cut to its low 16 bits; samples past the last one keep their
// values. The line ends at a NUL, "\r" or "\n".
int extractData(const char* line, readfile_raw_data_t* data);
inline int extractData(const std::string& line, readfile_raw_data_t* data) {
    return extractData(line.c_str(), data);
}

// The debug lines of a replayed pair, the same for both replay front-ends.
void printReplayPair(const u_radar_data& data);

// A replayed pair's time, the up sweep's, as the record's time text.
void putReplayTime(radar_st* record);

class ReadfileClass : public RadarFrontEnd {
public:
    ReadfileClass(ConfigFile* cfp, std::string Sec, double timeout);
    ~ReadfileClass() override;

    using RadarFrontEnd::Settings;
    int Settings(std::string fname) override;
    int openRadar() override;
    int getVersion() override;
    bool isAvailable() override;
    // Both lines of the next pair into data.rf; length 256, or 0 when a line
    // is missing or broken.
    int getMeasurement(radar_st* record, double timeout) override;
    bool timeOfSweep(radar_st* record) override { putReplayTime(record); return true; }

private:
    bool readLine();

    std::string filename;
    std::ifstream in_stream;
    std::string line_;   // reused, so a sweep allocates nothing once warm
    long sweepSize;
    long nrOfSweeps;
};
