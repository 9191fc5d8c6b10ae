// What every radar front-end offers the acquisition loop: one base class with
// the common operation set, the brand codes and how a brand text picks one.
//
// A front-end overrides what its brand does; the rest answers 0 (nothing to
// do for that brand). A new front-end is one class and one row of the table
// in frontends.cpp.
#pragma once

#include <string>

#include "configfile.h"
#include "defaults.h"
#include "records.h"

class RadarFrontEnd {
public:
    RadarFrontEnd(ConfigFile* cfp, std::string sec, double timeout)
        : cf(cfp), section(std::move(sec)), Timeout(timeout) {}
    virtual ~RadarFrontEnd() = default;
    RadarFrontEnd(const RadarFrontEnd&) = delete;
    RadarFrontEnd& operator=(const RadarFrontEnd&) = delete;

    virtual int setDebug(int level) { debug = level; return 0; }
    // Serial line settings (brands 0 and 1).
    virtual int Settings(std::string device, long baudrate, const char* parity, long databits,
                         long stopbits) {
        (void)device; (void)baudrate; (void)parity; (void)databits; (void)stopbits;
        return 0;
    }
    // Replay file name (brand 3).
    virtual int Settings(std::string filename) { (void)filename; return 0; }
    virtual int setRS485(int on) { (void)on; return 0; }
    virtual int setRadId(int id) { radId = id; return 0; }
    virtual int getRadId() { return radId; }
    virtual int openComm() { return 0; }
    virtual int openRadar() { return 0; }
    virtual int reset(double timeout) { (void)timeout; return 0; }
    virtual int getVersion() { return 0; }
    virtual int configRadar(double timeout) { (void)timeout; return 0; }
    virtual int emptyBuffers(double timeout) { (void)timeout; return 0; }
    virtual int getStatus(double timeout) { (void)timeout; return 0; }
    virtual bool isAvailable() { return connection != 0; }
    virtual int startMeasurement() { return 0; }

    // One sweep pair into the record: the payload member of its brand and the
    // length (2 or more a valid sweep, 1 or less a failed one). Nothing else of
    // the record is touched. The result is for debug lines only.
    virtual int getMeasurement(radar_st* record, double timeout) = 0;

    // For sweeps that carry their own time: writes it into the record's time
    // field and answers true. False (the default) leaves the loop to stamp the
    // wall clock. Called for valid sweeps only.
    virtual bool timeOfSweep(radar_st* record) { (void)record; return false; }

protected:
    ConfigFile* cf;          // not owned
    std::string section;     // "radar0", "radar1" or "radar2"
    double Timeout;
    int debug = 0;
    int radId = 0;
    int connection = 0;      // open device or socket, 0 while there is none
};

// Brand code of a brand text, by case-sensitive substring in the order
// "siversima", "readfile", "readudp", "tarnix"; anything else is ENRAF and the
// text becomes "enraf".
int chooseBrand(std::string* brandText);
