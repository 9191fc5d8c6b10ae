// A replay file, any bytes, read by the file replay front-end to its end: every
// pair of lines is one measurement, whole exactly when both lines hold a sweep
// (by an independent reading of the line format), nothing is read twice, and
// every sample is what strtol reads in its piece. A line longer than
// REPLAY_MAX_LINE (its "\r\n" not counted) holds no sweep, and each
// REPLAY_MAX_SKIP characters read of it cost one more failed measurement
// before its pair's.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "configfile.h"
#include "fuzzing.h"
#include "readfile.h"

using fuzzing::check;
using fuzzing::quietStdout;

namespace {

// "raw=" and at least three ";" after it, before the line's end (a NUL or
// "\r"), in a line that is not too long.
bool holdsSweep(const std::string& line) {
    const size_t limit = size_t(REPLAY_MAX_LINE) + (!line.empty() && line.back() == '\r' ? 1 : 0);
    if (line.size() > limit) return false;
    const std::string text = line.substr(0, line.find('\0'));
    const size_t raw = text.find("raw=");
    if (raw == std::string::npos) return false;
    int semicolons = 0;
    for (size_t i = raw + 4; i < text.size() && text[i] != '\r'; ++i) semicolons += text[i] == ';';
    return semicolons >= 3;
}

// Each sample as strtol reads its piece (a copy ending at the piece's end).
void checkSamplesAgainstStrtol(const std::string& line) {
    static readfile_raw_data_t parsed;
    if (extractData(line, &parsed) != 0) return;
    std::string text = line.substr(0, line.find('\0'));
    size_t at = text.find("raw=") + 4;
    text = text.substr(0, text.find_first_of("\r\n", at));
    for (int k = 0; k < 3; ++k) at = text.find(';', at) + 1;
    const std::string samples = text.substr(at, text.find(';', at) - at);
    int n = 0;
    for (size_t start = 0; start <= samples.size() && n < REPLAY_MAX_SAMPLES;) {
        size_t end = samples.find(',', start);
        if (end == std::string::npos) end = samples.size();
        if (end > start) {
            const long v = std::strtol(samples.substr(start, end - start).c_str(), nullptr, 10);
            check(parsed.data[n++] == int16_t(uint16_t(static_cast<unsigned long>(v) & 0xFFFFu)));
        }
        start = end + 1;
    }
}

// Failed measurements a line costs before the one of its pair: one per
// REPLAY_MAX_SKIP characters read of it, in whole rooms of a line and a "\r",
// without reaching its end.
size_t unfinished(const std::string& line) {
    const size_t room = size_t(REPLAY_MAX_LINE) + 1;
    const size_t roomsPerMeasurement = (size_t(REPLAY_MAX_SKIP) + room - 1) / room;
    return line.empty() ? 0 : (line.size() - 1) / room / roomsPerMeasurement;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    quietStdout();
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        checkSamplesAgainstStrtol(lines.back());
        start = end + 1;
    }

    const int fd = memfd_create("replay", MFD_CLOEXEC);
    check(fd >= 0);
    check(write(fd, data, size) == static_cast<ssize_t>(size));
    ConfigFile cf(0, 0);
    ReadfileClass replay(&cf, "radar0", 1.0);
    replay.Settings("/proc/self/fd/" + std::to_string(fd));
    replay.openRadar();
    static radar_st record;
    for (size_t pair = 0;; ++pair) {
        size_t owed = 2 * pair < lines.size() ? unfinished(lines[2 * pair]) : 0;
        if (2 * pair + 1 < lines.size()) owed += unfinished(lines[2 * pair + 1]);
        for (; owed > 0; --owed) {
            record.length = 7;
            check(replay.getMeasurement(&record, 1.0) == 1 && record.length == 0);
        }
        record.length = 7;
        const int r = replay.getMeasurement(&record, 1.0);
        if (2 * pair >= lines.size()) {
            check(r == 1 && record.length == 0);
            break;
        }
        const bool whole = 2 * pair + 1 < lines.size() && holdsSweep(lines[2 * pair]) && holdsSweep(lines[2 * pair + 1]);
        check((r == 0) == whole);
        check(record.length == (whole ? REPLAY_SWEEP_LENGTH : 0));
        if (whole) {
            for (const readfile_raw_data_t& e : record.data.rf) {
                check(strnlen(e.sensorname, sizeof e.sensorname) < sizeof e.sensorname);
                check(strnlen(e.time, sizeof e.time) < sizeof e.time);
            }
        }
    }
    close(fd);
    return 0;
}
