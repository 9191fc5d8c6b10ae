// A serial radar on a pseudo-terminal: it takes the host's request frames
//   01 command ~command address length-high length-low payload checksum
// and answers them as the radar does, including the CAN messages tunnelled in
// command-2 frames (answers fetched piece by piece with command 3). Every
// request frame is logged byte for byte ("frame 01 04 FB 01 00 00 01"), every
// whole CAN message as "can <command> <data hex>", every sweep started as "start".
#pragma once

#include <deque>
#include <set>
#include <string>

#include "ptysim.h"

struct RadarSimOptions {
    double distanceCm = 1000.0;   // the water surface the beat tone comes from
    double amplitude = 2000.0;    // tone amplitude in counts
    int sweeps = 2;               // sweeps in one measurement's payload
    int sweepBytes = 2048;        // payload of a sweep reply until command 1 sets it
    int pieceBytes = 6;           // data bytes per piece of a CAN answer
    bool echo = false;            // a half-duplex line: every byte sent comes back
    bool art16 = false;           // the unit's version text has '6' at index 53
    std::string version = "serial-radar-sim 1.0";
    int temperature = 23;         // byte 4 of the status reply
};

// The payload of a sweep reply: `sweeps` sweeps of the beat tone of a surface
// at distanceCm, 16-bit samples, low byte first.
Bytes sweepPayload(const RadarSimOptions& o, int bytes);
// A reply frame.
Bytes replyFrame(int command, int address, const Bytes& payload, int announced = -1);

// Control lines (besides "hangup"):
//   echo on|off, alter          line echo; alter changes one byte of the next echo
//   junk, split, trail N        the next reply: after 4 junk bytes / in three parts
//                               30 ms apart / followed by N junk bytes
//   oversize                    the next reply announces 65535 bytes and sends them
//   short                       the next sweep reply stops halfway through its payload
//   silence, resume             requests go unheeded (logged, never answered), and back
//   late MS                     the next reply comes MS milliseconds after its request
//   noack C                     the poll after CAN message C goes unanswered
//   badcounter                  the next CAN answer's second piece has a wrong counter
//   nothing                     CAN requests are never answered
//   pending N                   N pieces of leftover data wait for command-3 polls
class RadarSim : public PtySim {
public:
    explicit RadarSim(const RadarSimOptions& options) : o_(options), sweepBytes_(options.sweepBytes) {}
    ~RadarSim() override { stop(); }

protected:
    void input(const uint8_t* data, size_t n) override;
    bool command(const std::string& line) override;

private:
    void request(int command, int address, const Bytes& payload);
    void reply(int command, int address, const Bytes& payload, bool sweep = false);
    void tunnel(const Bytes& piece);
    void message(int command, const Bytes& data);
    void queueAnswer(int command, const Bytes& data);

    RadarSimOptions o_;
    Bytes held_;            // host bytes not yet taken as a frame
    int sweepBytes_;
    // One-shot and standing switches.
    bool alter_ = false, junk_ = false, split_ = false, oversize_ = false, short_ = false;
    bool silent_ = false, badCounter_ = false, nothing_ = false;
    int trail_ = 0;
    int lateMs_ = 0;
    std::set<int> noAck_;
    bool muteNextPoll_ = false;
    // A CAN message coming in, and answer pieces waiting for polls.
    int inIdent_ = -1, inPieces_ = 0;
    Bytes inData_;
    std::deque<Bytes> answer_;
};
