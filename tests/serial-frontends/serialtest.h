// Shared parts of the serial front-end tests: short waits, a front-end on a
// simulator's pseudo-terminal, the simulator's log.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "comm.h"
#include "configfile.h"
#include "ptysim.h"
#include "radarsim.h"
#include "records.h"
#include "siversima.h"
#include "siverssim.h"
#include "serialline.h"
#include "sharedmem.h"

namespace serialtest {

// The radars' waits cut down so that a silent radar costs a fraction of a second.
inline SerialTiming fastTiming() {
    SerialTiming t;
    t.settleMs = 2;
    t.pollCount = 25;
    t.cycleReadableMs = 50;
    t.echoFirstMs = 300;
    t.echoGapMs = 50;
    t.echoByteMs = 50;
    t.replyPauseMs = 2;
    t.answerWindowMs = 400;
    t.answerPollMs = 5;
    t.versionTries = 2;
    t.stepPauseMs = 2;
    t.ackPauseMs = 2;
    t.lineReadableMs = 300;
    t.okPauseMs = 10;
    return t;
}

// A radar section as the acquisition loop would read it.
inline void radarSection(ConfigFile* cf, const std::string& sweepsize = "256", const std::string& nrofsweeps = "2") {
    cf->setValue("radar0", "sweepsize", sweepsize);
    cf->setValue("radar0", "nrofsweeps", nrofsweeps);
    cf->setValue("radar0", "scanspeed", std::string("300"));
}

// The status block the front-ends write, in memory for the test's life.
class StatusBlock {
public:
    StatusBlock() : mem_(new sharedmem_st()) { sharedmem = mem_.get(); }
    ~StatusBlock() { sharedmem = nullptr; }
    status_st& status() { return mem_->status; }

private:
    std::unique_ptr<sharedmem_st> mem_;
};

// The simulator's log lines that start with prefix, from index from on.
inline std::vector<std::string> logged(const PtySim& sim, const std::string& prefix, size_t from = 0) {
    std::vector<std::string> out;
    const std::vector<std::string> all = sim.log();
    for (size_t i = from; i < all.size(); ++i)
        if (all[i].compare(0, prefix.size(), prefix) == 0) out.push_back(all[i]);
    return out;
}

// A frame as the simulator logs it: bytes in hex and the checksum worked out here.
inline std::string frameText(std::vector<uint8_t> bytes) {
    unsigned sum = 0;
    for (uint8_t b : bytes) sum += b;
    bytes.push_back(uint8_t(sum));
    return "frame " + hexText(bytes.data(), bytes.size());
}

// A control line, taken by the simulator before this returns.
inline bool takeControl(PtySim& sim, const std::string& line) {
    const size_t mark = sim.logSize();
    sim.control(line);
    return sim.waitForLog("control " + line, 2000, mark);
}

// A serial radar front-end on the simulator's terminal, opened as the
// acquisition loop opens it (radar address 1, echo deadline 200 ms).
struct RadarLink {
    explicit RadarLink(const RadarSimOptions& o = RadarSimOptions(), int rs485 = 0, const std::string& sweepsize = "256",
                       const std::string& nrofsweeps = "2", const SerialTiming& timing = fastTiming())
        : sim(o) {
        opened = sim.open();
        sim.start();
        radarSection(&cf, sweepsize, nrofsweeps);
        comm.reset(new CommClass(&cf, "radar0", 200.0, timing));
        comm->Settings(sim.slavePath(), 115200, "n", 8, 1);
        comm->setRS485(rs485);
        comm->setRadId(1);
        if (opened) comm->openComm();
    }
    bool control(const std::string& line) { return takeControl(sim, line); }

    RadarSim sim;
    ConfigFile cf;
    bool opened = false;
    std::unique_ptr<CommClass> comm;  // declared last: closes its port before the simulator goes
};

// A Sivers IMA front-end on the simulator's terminal; receives end 1 s after they begin.
struct SiversLink {
    explicit SiversLink(const SiversSimOptions& o = SiversSimOptions(), long baudrate = 115200)
        : sim(o) {
        opened = sim.open();
        sim.start();
        radarSection(&cf, "1024", "2");
        sivers.reset(new SiversimaClass(&cf, "radar0", 1000.0, fastTiming()));
        sivers->Settings(sim.slavePath(), baudrate, "e", 7, 2);
        if (opened) sivers->openComm();
    }
    bool control(const std::string& line) { return takeControl(sim, line); }

    SiversSim sim;
    ConfigFile cf;
    bool opened = false;
    std::unique_ptr<SiversimaClass> sivers;
};

}  // namespace serialtest
