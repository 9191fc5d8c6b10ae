// Front-end of brand 0: a radar on a serial line (point to point, or a
// half-duplex RS-485 bus that echoes every byte sent), spoken to in frames
//   01 command ~command address length-high length-low payload checksum
// and set up through CAN messages tunnelled in those frames.
#pragma once

#include <termios.h>

#include <cstdint>
#include <string>

#include "frontend.h"
#include "serialline.h"

// Request frames are built in a buffer of this size, so a payload has at most 193 bytes.
constexpr int FRAME_BUFFER_SIZE = 200;
constexpr int FRAME_MAX_PAYLOAD = FRAME_BUFFER_SIZE - 7;
// Most bytes taken in one read of the port.
constexpr int RECEIVE_CHUNK = 4191;
// Room for a sweep: the record's serial payload.
constexpr int SWEEP_CAPACITY = int(sizeof(u_radar_data::com));
// Replies the set-up reads (acknowledgements, poll replies) and answers it assembles.
constexpr int REPLY_CAPACITY = 4096;
constexpr int CAN_ANSWER_CAPACITY = 1024;

// Writes the frame of one request into frame (FRAME_BUFFER_SIZE bytes); a
// longer payload is cut to FRAME_MAX_PAYLOAD. Returns the frame's size.
int buildFrame(int radId, int command, const char* data, int length, uint8_t* frame);

// Takes reply frames apart byte by byte: skips to a start byte, checks the
// command's complement, takes the announced length and stores the payload.
// The address and checksum are not examined. Bytes that follow a whole payload
// are stored behind it (the checksum first); nothing goes past capacity - 1,
// so the stored bytes can always be ended with a NUL.
class ReplyParser {
public:
    ReplyParser(char* buffer, int capacity) : buffer_(buffer), capacity_(capacity) {}
    // One byte; true once the announced payload is whole.
    bool feed(uint8_t byte);
    int state() const { return state_; }
    bool headerSeen() const { return state_ >= 6; }
    int announced() const { return headerSeen() ? length_ : 0; }
    int count() const { return count_; }
    bool complete() const { return complete_; }
    // Bytes in the buffer; a NUL follows them after terminate().
    int stored() const { return count_ < capacity_ - 1 ? count_ : capacity_ - 1; }
    void terminate() { if (capacity_ > 0) buffer_[stored()] = 0; }

private:
    char* buffer_;
    int capacity_;
    int state_ = 0;
    uint8_t header_[6] = {};
    int length_ = 0;
    int count_ = 0;
    bool complete_ = false;
};

// CAN identifier of a command number: bit 6 moves to bit 10.
int canIdentifier(int command);
// Piece counter of an answer piece (payload bytes 2-3, low first); -1 for a piece under 4 bytes.
int canPieceCounter(const char* payload, int length);
// Pieces announced by the first piece of an answer (bytes 4-5, low first); 0
// when it has 4 bytes or fewer: nothing pending.
int canPiecesAnnounced(const char* payload, int length);

// An answer put together from the data of its pieces (payload bytes 4 on),
// cut at capacity - 1 bytes and always ended by a NUL.
struct CanAnswer {
    char* data;
    int capacity;
    int length = 0;
    CanAnswer(char* buffer, int cap) : data(buffer), capacity(cap) { if (cap > 0) data[0] = 0; }
    void append(const char* payload, int n);
    bool full() const { return length >= capacity - 1; }
};

class CommClass : public RadarFrontEnd {
public:
    CommClass(ConfigFile* cf, std::string section, double timeout, const SerialTiming& timing = SerialTiming());

    // Nothing in the program closes the port; an object that goes away does.
    ~CommClass() override;

    using RadarFrontEnd::connection;
    // The sweep into the record's `com` and its length.
    int getMeasurement(radar_st* record, double timeout) override;
    int Settings(std::string device, long baudrate, const char* parity, long databits, long stopbits) override;
    int setRS485(int on) override;
    int openComm() override;
    int reset(double timeout) override;
    int getVersion() override;
    int configRadar(double timeout) override;
    int emptyBuffers(double timeout) override;
    int getStatus(double timeout) override;
    int startMeasurement() override;
    // One sweep into buffer (SWEEP_CAPACITY bytes). *length is the announced
    // payload length, or 0 when the sweep did not arrive whole or does not fit.
    // Returns the errors counted (0: good).
    int getMeasurement(char* buffer, int* length, double timeout);

    // One request frame; 0 after a send, -1 without a port.
    int sendCommand(char radId, char command, const char* data, int length, double timeout);
    // One reply into buffer (capacity bytes, always ended by a NUL); 0 when it
    // came whole, -1 otherwise. *length is the announced length (0 without a header).
    int receiveData(char* buffer, int capacity, int* length, double timeout);
    // The echo of bytes sent on a half-duplex line: the number of bytes that
    // differ, -1 on time-out; 0 on a point-to-point line.
    int eatEcho(const char* sent, int length);
    int eatEcho(char c);
    int rs485Mode(int mode);

    // CAN tunnel: one message out (returns the pieces sent), one answer in
    // (0 when the last poll was answered, 1 when not).
    int sendCAN(int radId, int command, const char* data, int length, double timeout);
    int receiveCAN(char* answer, int capacity, int* length, double timeout);
    // Message and answer: 0 with an answer, -2 when a poll went unanswered, -1
    // when the window passed without one.
    int requestAnswer(char command, const char* data, int length, char* answer, int capacity, int* answerLength,
                      double timeout);
    // Message and one poll: 0 when the poll was answered, -1 when not.
    int commandAcknowledge(char command, const char* data, int length, double timeout);
    // The sweep initialisation strings; 1 for a sweep size outside their tables.
    static int getSweepInitString24(int sweepSize, int art1a, char* buffer, int* length);
    static int getSweepInitString06(int sweepSize, char* buffer, int* length);

    struct termios sio {};
    int rs485 = 0;
    std::string devicename;
    int sweepSpeed = 0;
    int sweepSize = 0;
    int nrOfSweeps = 0;
    int fdi2c = 0;
    int errorcount = 0;

private:
    int setUp(double timeout);
    bool readable(int ms) const { return waitReadable(connection, ms) > 0; }
    void pause(int ms) const;

    SerialTiming timing_;
    int lastStored_ = 0;              // bytes the last receive put in its buffer
    char reply_[REPLY_CAPACITY];      // replies nobody keeps
    char answer_[CAN_ANSWER_CAPACITY];
};
