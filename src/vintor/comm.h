// Front-end of brand 0: a radar on a serial line (point to point, or a
// half-duplex RS-485 bus that echoes every byte sent), spoken to in frames
//   01 command ~command address length-high length-low payload checksum
// and set up through CAN messages tunnelled in those frames.
#pragma once

#include <termios.h>

#include <cstdint>
#include <string>

#include "cananswer.h"
#include "frontend.h"
#include "replyparser.h"
#include "serialline.h"

// Most bytes taken in one read of the port.
constexpr int RECEIVE_CHUNK = 4191;
// Room for a sweep: the record's serial payload.
constexpr int SWEEP_CAPACITY = int(sizeof(u_radar_data::com));
// Replies the set-up reads (acknowledgements, poll replies) and answers it assembles.
constexpr int REPLY_CAPACITY = 4096;
constexpr int CAN_ANSWER_CAPACITY = 1024;

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
    // Set-up steps: the unit's version (answers art1a: 0 for a unit whose
    // version has '6' at byte 53), the antenna offsets (printed only), and a
    // sweep initialisation string (24 or 6), the section's own or the built one.
    int readCanVersion(double timeout);
    void readAntennaOffsets(double timeout);
    int sweepInitString(int command, int art1a, std::string* text);
    bool readable(int ms) const { return waitReadable(connection, ms) > 0; }
    void pause(int ms) const;

    SerialTiming timing_;
    int lastStored_ = 0;              // bytes the last receive put in its buffer
    char reply_[REPLY_CAPACITY];      // replies nobody keeps
    char answer_[CAN_ANSWER_CAPACITY];
};
