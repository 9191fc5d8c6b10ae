// A Sivers IMA radar module on a pseudo-terminal: it takes text commands ended
// by "\r\n" and answers with lines, "OK" for every setting it takes and a
// trace of one decimal value per line, closed by "OK", for "trace:data ?".
// Every command is logged as "cmd <text>".
#pragma once

#include <string>
#include <vector>

#include "ptysim.h"

struct SiversSimOptions {
    double distanceCm = 1000.0;   // the water surface the beat tone comes from
    double amplitude = 2000.0;    // tone amplitude in counts
    int points = 1024;            // values per trace until "FREQUENCY:points" sets it
    std::string hardware = "sivers-sim";
    std::string major = "1", minor = "2", revision = "3", date = "2024-05-01";
};

// The values of a trace: the beat tone of a surface at distanceCm.
std::vector<int> traceValues(const SiversSimOptions& o, int points);

// Control lines (besides "hangup"):
//   refuse TEXT, accept         commands starting with TEXT are answered "ERROR"; all taken again
//   split                       the next reply goes out in pieces of 7 bytes, 2 ms apart
//   noend                       the next trace has no closing "OK"
//   longline N                  the next trace starts with a line of N digits and no line end
//   many N                      the next trace has N values
//   silence, resume             no replies at all, and back
class SiversSim : public PtySim {
public:
    explicit SiversSim(const SiversSimOptions& options) : o_(options), points_(options.points) {}
    ~SiversSim() override { stop(); }

protected:
    void input(const uint8_t* data, size_t n) override;
    bool command(const std::string& line) override;

private:
    void answer(const std::string& line);
    void reply(const std::string& text);

    SiversSimOptions o_;
    int points_;
    std::string held_;
    std::string refused_;
    bool split_ = false, noEnd_ = false, silent_ = false;
    int longLine_ = 0, many_ = 0;
};
