// What every radar front-end offers the acquisition loop: one base class with
// the common operation set, the brand codes and how a brand text picks one.
//
// A front-end overrides what its brand does; the rest answers 0 (nothing to
// do for that brand). getMeasurement has one overload per buffer kind; the
// loop calls the one of its brand, and any other answers a failed sweep.
#pragma once

#include <cstdint>
#include <string>

#include "configfile.h"
#include "defaults.h"
#include "records.h"
#include "tarnix.h"

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

    // One sweep pair. *length >= 2 means a valid sweep; 1 or less a failed one.
    virtual int getMeasurement(char* com, int* length, double timeout);          // brand 0
    virtual int getMeasurement(int32_t* siv, int* length, double timeout);       // brand 1
    virtual int getMeasurement(tarnix_st* board, int* length, double timeout);   // brand 2
    virtual int getMeasurement(u_radar_data* data, int* length, double timeout); // brands 3, 4

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

// The front-end of a brand, or nullptr when this build has none for it.
RadarFrontEnd* newFrontEnd(int brand, ConfigFile* cf, const std::string& section, double timeout);

// Constructors of the serial radar, Sivers IMA module and radar board
// front-ends. Each is defined by the unit of that front-end; until one is
// built a placeholder answers nullptr. (A test that runs one of these through
// the loop from the library archive must reference its class, so that its
// unit is linked in.)
RadarFrontEnd* newCommClass(ConfigFile* cf, const std::string& section, double timeout);
RadarFrontEnd* newSiversimaClass(ConfigFile* cf, const std::string& section, double timeout);
RadarFrontEnd* newTarnixClass(ConfigFile* cf, const std::string& section, double timeout);
