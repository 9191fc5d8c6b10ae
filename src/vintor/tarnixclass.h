// Front-end of brand 2: the station's own radar board, reached through the feed
// of its reader program (tarnix-pic32). (The board's records keep the name
// "tarnix.h"; this is the class.)
#pragma once

#include <cstddef>
#include <string>

#include "frontend.h"
#include "tarnix.h"

namespace zmq {
class context_t;
class socket_t;
}

// The feed endpoint that a reply to the front-end's request names: 0 with
// *endpoint set (port "5020" when the reply names none); 3, with the parser's
// message, when the reply does not parse; 1 when it holds no publishers object.
int rawdataEndpoint(const std::string& reply, std::string* endpoint, std::string* message);

// A board sweep holds 1025 samples; the FFT stage reads one past the length.
constexpr int MAX_BOARD_SWEEP = 1024;

enum class BoardMessage { Whole, WrongSize, TooLarge };
// A message of the board reader's feed: Whole (copied to *record) only when it
// is one whole record and neither its sweep size nor `configuredSize` is above
// MAX_BOARD_SWEEP; TooLarge leaves the size that is too large (the record's
// first) in *tooLarge. *record is written for a whole record only.
BoardMessage boardRecord(const void* bytes, size_t size, int configuredSize, tarnix_st* record, int* tooLarge);

class TarnixClass : public RadarFrontEnd {
public:
    int sweepSize = 0;
    int nrOfSweeps = 0;
    zmq::context_t* context = nullptr;
    zmq::socket_t* subscriber = nullptr;

    // Asks the configuration service (at the port vintor was given) for the
    // reader's feed port and subscribes to it; ends the process when it cannot.
    TarnixClass(ConfigFile* cfp, std::string Sec, double timeout);
    ~TarnixClass() override;

    // Next record of the feed, oldest first, waiting without limit: its two
    // frames into data.tarnix, length = its sweep size. 0 on a record; 1
    // (length 0, frames untouched) on a receive error, a message of another
    // size, or a sweep size (of the record or of the section) above 1024,
    // which is said once.
    int getMeasurement(radar_st* record, double timeout) override;
    // The board reader's time stamp of the last record.
    bool timeOfSweep(radar_st* record) override;
    int getVersion() override;
    int getStatus(double timeout) override;

    const tarnix_st& lastRecord() const { return board_; }

private:
    int refusedSize = 0;  // the size last said to be too large
    tarnix_st board_{};  // the last record received whole
};
