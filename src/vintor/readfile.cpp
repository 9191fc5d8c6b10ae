#include "readfile.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// End of the text that belongs to the line.
const char* lineEnd(const char* p) { return p + std::strcspn(p, "\r\n"); }

void copyField(char* field, size_t size, const char* from, const char* to) {
    size_t n = size_t(to - from);
    if (n > size - 1) n = size - 1;
    std::memset(field, 0, size);
    std::memcpy(field, from, n);
}

// strtol's reading of one piece, base 10, kept within the piece: blanks, a
// sign, digits; an overflow saturates as strtol's does, and no digits give 0.
// Cut to the 16 bits a sample holds. strtol itself cost most of a replayed
// sweep.
int16_t sampleValue(const char* p, const char* end) {
    while (p < end && (*p == ' ' || (*p >= '\t' && *p <= '\r'))) ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    const unsigned long limit = negative ? 0UL - static_cast<unsigned long>(LONG_MIN) : LONG_MAX;
    unsigned long v = 0;
    bool overflow = false;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) {
        const unsigned digit = unsigned(*p - '0');
        if (v > (limit - digit) / 10)
            overflow = true;
        else
            v = v * 10 + digit;
    }
    if (overflow) v = negative ? static_cast<unsigned long>(LONG_MIN) : LONG_MAX;
    else if (negative) v = 0UL - v;
    return int16_t(uint16_t(v & 0xFFFFu));
}

}  // namespace

int extractData(const char* line, readfile_raw_data_t* data) {
    const char* p = std::strstr(line, "raw=");
    if (p == nullptr) return 1;
    p += 4;
    const char* end = lineEnd(p);
    const char* sep[4] = {nullptr, nullptr, nullptr, nullptr};
    int found = 0;
    for (const char* q = p; q < end && found < 4; ++q) {
        if (*q == ';') sep[found++] = q;
    }
    if (found < 3) return 1;
    const char* samplesEnd = found == 4 ? sep[3] : end;

    copyField(data->sensorname, sizeof data->sensorname, p, sep[0]);
    copyField(data->time, sizeof data->time, sep[0] + 1, sep[1]);
    data->sweepnr = int(std::strtol(sep[1] + 1, nullptr, 10));

    int n = 0;
    const char* q = sep[2] + 1;
    while (q < samplesEnd && n < REPLAY_MAX_SAMPLES) {
        const char* comma = static_cast<const char*>(std::memchr(q, ',', size_t(samplesEnd - q)));
        const char* pieceEnd = comma != nullptr ? comma : samplesEnd;
        if (pieceEnd > q) data->data[n++] = sampleValue(q, pieceEnd);
        q = pieceEnd + 1;
    }
    return 0;
}

void printReplayPair(const u_radar_data& data) {
    for (int i = 0; i < 2; ++i) {
        const readfile_raw_data_t& e = data.rf[i];
        printf("\n%dReadfile: name=%s time=%s sweep=%d data[0]=%d", i + 1, e.sensorname, e.time, e.sweepnr,
               e.data[0]);
    }
}

void putReplayTime(radar_st* record) {
    std::memset(record->time, 0, sizeof record->time);
    std::memcpy(record->time, record->data.rf[0].time, strnlen(record->data.rf[0].time, sizeof record->time - 1));
}

ReadfileClass::ReadfileClass(ConfigFile* cfp, std::string Sec, double timeout)
    : RadarFrontEnd(cfp, std::move(Sec), timeout) {
    sweepSize = cf->ValueLong(section, "sweepsize");
    nrOfSweeps = cf->ValueLong(section, "nrofsweeps");
}

ReadfileClass::~ReadfileClass() {
    if (in_stream.is_open()) in_stream.close();
}

int ReadfileClass::Settings(std::string fname) {
    filename = std::move(fname);
    return 0;
}

int ReadfileClass::openRadar() {
    // A file that does not open shows up as "end of file" at the first sweep.
    if (!filename.empty()) in_stream.open(filename);
    return 0;
}

int ReadfileClass::getVersion() {
    printf("\nReadfile version");
    return 0;
}

bool ReadfileClass::isAvailable() { return in_stream.is_open() && !in_stream.eof(); }

// The next line whole, the end of an over-long one (Broken), or, after
// REPLAY_MAX_SKIP characters of one, Unfinished.
ReadfileClass::LineRead ReadfileClass::readLine() {
    if (!in_stream.is_open()) return LineRead::End;
    constexpr long room = long(sizeof line_) - 1;
    for (long skipped = 0;;) {
        in_stream.getline(line_, sizeof line_);
        // getline fails both with nothing left to read and with a full room and
        // no line end; only the second leaves the stream short of its end.
        if (!in_stream.fail() || in_stream.eof()) break;
        in_stream.clear();
        overlong_ = true;
        skipped += room;
        if (skipped >= REPLAY_MAX_SKIP) return LineRead::Unfinished;
    }
    if (overlong_) {
        overlong_ = false;
        return LineRead::Broken;
    }
    if (in_stream.fail()) return LineRead::End;
    // The room holds one character more than a line, for the "\r" of "\r\n".
    const std::streamsize stored = in_stream.gcount() - (in_stream.eof() ? 0 : 1);
    if (stored == room && line_[room - 1] != '\r') return LineRead::Broken;
    return LineRead::Whole;
}

int ReadfileClass::getMeasurement(radar_st* record, double) {
    u_radar_data* data = &record->data;
    int* length = &record->length;
    *length = 0;
    // A pair with a missing or broken line is a failed measurement: pairing its
    // up sweep with an older down sweep would pass off old data as new. A pair
    // an over-long line left unfinished goes on where it stopped, so that its
    // lines are never taken for the next pair's.
    while (pairLines_ < 2) {
        const LineRead got = readLine();
        if (got == LineRead::Unfinished) return 1;
        if (got == LineRead::End) {
            if (pairLines_ == 0) perror("end of file");
            pairLines_ = 0;
            pairBroken_ = false;
            return 1;
        }
        if (got == LineRead::Whole && debug > 4) printf("\nReadfile:%s", line_);
        if (got == LineRead::Broken || extractData(line_, &data->rf[pairLines_]) != 0) pairBroken_ = true;
        ++pairLines_;
    }
    pairLines_ = 0;
    if (pairBroken_) {
        pairBroken_ = false;
        return 1;
    }
    *length = REPLAY_SWEEP_LENGTH;
    if (debug) printReplayPair(*data);
    return 0;
}
