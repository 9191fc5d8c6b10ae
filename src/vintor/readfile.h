// File replay front-end: sweep pairs from a recording, two "raw=" lines per
// measurement (up sweep, then down sweep).
#pragma once

#include <fstream>
#include <string>

#include "frontend.h"

// Samples reported per replayed sweep, whatever the line holds.
constexpr int REPLAY_SWEEP_LENGTH = 256;
constexpr int REPLAY_MAX_SAMPLES = 300;
// Longest replay line taken, without its line end; a longer one holds no
// sweep and is dropped whole, by both replay front-ends. (File replay takes
// "\r\n" as a line end; a peer's receive counts its "\r".)
constexpr int REPLAY_MAX_LINE = 12020;
// Characters of an over-long line that file replay reads past in one
// measurement: a line up to this long costs its own pair only, a longer one
// (a device, a file without line ends) a failed measurement per this many
// characters as well, so that no measurement reads without end.
constexpr long REPLAY_MAX_SKIP = 16L << 20;

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
    //
    // A line longer than REPLAY_MAX_LINE is broken: its pair fails, and the
    // pairs after it are read as they come. It is read through line_'s room,
    // at most REPLAY_MAX_SKIP characters of it per measurement, so that a file
    // that never ends a line (a device) costs neither memory nor an endless
    // measurement; a measurement that stops short of its end fails there.
    int getMeasurement(radar_st* record, double timeout) override;
    bool timeOfSweep(radar_st* record) override { putReplayTime(record); return true; }

private:
    enum class LineRead { Whole, Broken, Unfinished, End };
    LineRead readLine();

    std::string filename;
    std::ifstream in_stream;
    char line_[REPLAY_MAX_LINE + 2] = {};  // a line, the "\r" of its line end and a terminator
    bool overlong_ = false;  // inside a line longer than line_ holds
    int pairLines_ = 0;      // lines of the pair being read that have been read
    bool pairBroken_ = false;
    long sweepSize;
    long nrOfSweeps;
};
