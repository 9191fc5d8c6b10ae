// Front-end of brand 1: a Sivers IMA radar module on a serial line at 115200
// baud, 8N1. It takes text commands ended by "\r\n" and answers with text
// lines; a command is accepted when its reply line contains "OK", and a sweep
// is a list of decimal values, one per line, closed by a line with "OK".
#pragma once

#include <termios.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "frontend.h"
#include "serialline.h"
#include "traceparser.h"

// Reply lines of the commands, the values of one sweep (the record's `siv`)
// and the composed version text.
constexpr int SIVERS_LINE_CAPACITY = 100;
constexpr int SIVERS_MAX_VALUES = int(sizeof(u_radar_data::siv) / sizeof(int32_t));
constexpr int SIVERS_VERSION_CAPACITY = 512;

// Appends bytes to a reply line, up to and including its first '\n'; what
// follows in the same read is dropped, and a line longer than capacity - 1 is
// cut. Keeps the line ended by a NUL; true once the '\n' came.
bool appendLine(char* line, int capacity, int* used, const char* bytes, int n);

// The version text is built from the replies of several queries: each one is
// written, after its prefix, over the last character of the text so far (the
// line feed of the previous reply). Cut to the capacity.
void appendVersionPart(char* text, size_t capacity, const char* prefix, const char* reply);

class SiversimaClass : public RadarFrontEnd {
public:
    SiversimaClass(ConfigFile* cf, std::string section, double timeout, const SerialTiming& timing = SerialTiming());

    // Nothing in the program closes the port; an object that goes away does.
    ~SiversimaClass() override;

    using RadarFrontEnd::connection;
    // The sweep into the record's `siv` and its length.
    int getMeasurement(radar_st* record, double timeout) override;
    // Stores the device; the line itself always runs at 115200 8N1.
    int Settings(std::string device, long baudrate, const char* parity, long databits, long stopbits) override;
    int setRS485(int on) override;
    int openComm() override;
    // 0 once the module took "INIT", 1 when it never did.
    int reset(double timeout) override;
    int getVersion() override;
    // 0 when all nine settings were taken, 1 at the first that was not.
    int configRadar(double timeout) override;
    int startMeasurement() override;
    int getStatus(double timeout) override;
    // One sweep into values (SIVERS_MAX_VALUES); *count is the number of
    // values, or 0 when the closing "OK" did not come in time.
    int getMeasurement(int32_t* values, int* count, double timeout);

    // The module takes text lines: writes the text (ends the process when the
    // line cannot be written); -1 without a port.
    int sendCommand(char, char, const char* text, int length, double timeout);
    // One reply line into line (capacity bytes); 0 when its '\n' came. *length is set to 0.
    int receiveData(char* line, int capacity, int* length, double timeout);
    // The text until a reply contains "OK": 0, or 1 after every attempt failed.
    int requestOk(const char* text, int length, double timeout);

    // The framed link's tunnel and echo have no part here.
    int commandAcknowledge(char, const char*, int, double) { return 0; }
    int eatEcho(const char*, int) { return 0; }
    int eatEcho(char) { return 0; }
    int receiveCAN(char*, int, int*, double) { return 0; }
    int sendCAN(int, int, const char*, int, double) { return 1; }

    struct termios sio {};
    int rs485 = 0;
    std::string devicename;
    int sweepSpeed = 0;
    int sweepSize = 0;
    int nrOfSweeps = 0;

private:
    int readable(int ms) const { return waitReadable(connection, ms); }
    int setUp(double timeout);

    SerialTiming timing_;
};
