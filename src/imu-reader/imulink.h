// The serial link to the IMU: line set-up, one command/reply exchange with a
// time-out, the IMU's command set, and the set-up that brings the IMU into the
// configured state.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

class ConfigClient;

// One log line at a syslog priority; the default writes it to syslog.
using LogSink = std::function<void(int priority, const std::string& text)>;
void syslogSink(int priority, const std::string& text);

// Every wait of the link and of the set-up, the device's own values by default.
struct LinkWaits {
    std::chrono::milliseconds replyBudget{10000};  // whole reply of one exchange
    std::chrono::milliseconds afterStop{1000};     // before the drain that follows a stream stop
    int drainTenths = 10;                          // the drain's wait for its first byte
    std::chrono::milliseconds probeRetry{1000};    // after a probe the IMU did not answer
    std::chrono::milliseconds beforePass{1000};    // after the stream stopped, before the checks
    std::chrono::milliseconds betweenSteps{300};
    std::chrono::milliseconds saveRetry{1000};     // after a refused save
    std::chrono::milliseconds sampleSilence{10000}; // a data line must start within this
    std::chrono::milliseconds readErrorBackoff{1000};

    // All waits multiplied by factor (0 < factor <= 1 makes a fast test run).
    LinkWaits scaled(double factor) const;
};

// One IMU data line, fields 3 to 8.
struct ImuSample {
    float heaveX100 = 0;
    float attitude[3] = {0, 0, 0};
    float statusValue = 0;
    uint32_t statusWord = 0;
};

// Termios speed code of a baud rate: the rate's own code for 300 to 19200 and
// 115200, 38400 for every other rate (with one warning line unless it is 38400).
unsigned speedCode(int baudrate);

// Replies of the IMU, parsed without trusting them.
namespace imureply {
// The reply from the second character after its first comma (from its second
// character without a comma), every CR and LF removed; false when the reply ends
// before that character (a comma at its end).
bool valueOf(const std::string& reply, std::string* value);
// queryInfo's answer: from the second character after the first comma, CR LF
// kept; "Error" without a comma or with nothing after it.
std::string infoOf(const std::string& reply);
// The n numbers of a bracketed reply "x, [a b c]"; false when the list is short,
// unbracketed, or holds a word that is not a number.
bool listOf(const std::string& reply, int n, float* values);
} // namespace imureply

class ImuLink {
public:
    // Set-up from the configuration: reads "imu" and "read-only", opens the line,
    // waits for the IMU and configures it; returns when it is done, or when the
    // device is gone (lost()).
    ImuLink(ConfigClient* configClient, bool verbose, bool saveEnabled, const LinkWaits& waits = LinkWaits(),
            LogSink log = syslogSink);
    // Opens and configures the line to a device (raw 8 bits, no parity).
    ImuLink(const std::string& devicePath, int baudrate, int stopbits, bool verbose, bool saveEnabled,
            const LinkWaits& waits = LinkWaits(), LogSink log = syslogSink, int parityFlags = 0);
    // The empty device path at 115200 (the open fails, "Error 5").
    ImuLink();
    ~ImuLink();
    ImuLink(const ImuLink&) = delete;
    ImuLink& operator=(const ImuLink&) = delete;

    int configureLine(int fd, unsigned speed, int parityFlags, int stopFlags);
    void setBlocking(int fd, bool block);
    void closeLink();

    // One exchange: bytes written; 0 on time-out or read error; -1 on a wait
    // error or a link that never opened. *reply keeps its CR LF.
    int sendCommand(const std::string& command, std::string* reply);

    int stopStream();
    int startStream();
    int restartImu();
    int startStreamSd();
    int stopStreamSd();
    int sendExit();
    int probeImu();
    int saveSettings();
    std::string queryInfo(const std::string& command);
    int checkAndSet(const std::string& group, const std::string& param, const std::string& value);
    int checkMountingAngles(float pitch, float roll, float yaw);
    int checkFineAngles(float pitch, float roll, float yaw);
    int checkInvertAxes(int roll, int pitch, int yaw, int surge, int sway, int heave);
    int readMountingAngles(float* pitch, float* roll, float* yaw);
    int readFineAngles(float* pitch, float* roll, float* yaw);

    // The next data line whose first character is outputId's and that has at
    // least 10 fields, numbers where they are used (parseSample); false for any
    // other line, a silent IMU or a read error.
    bool readSample(ImuSample* sample);

    // Why the device is gone (it never opened, hung up, hit end of file or failed
    // a read or write); empty while it is there. A lost link stays lost: every
    // exchange then fails at once, and the set-up gives up.
    bool lost() const { return !lostReason.empty(); }
    std::string lostReason;

    int settingsChanged = 0;
    int serialFd = -1;
    std::string outputId;
    std::string devicePath;
    int baudrate = 115200;
    int databits = 8;
    int stopbits = 1;
    bool verbose = false;
    bool saveEnabled = false;
    ConfigClient* configClient = nullptr;

private:
    // What the configuration asks of the IMU.
    struct Targets {
        std::string usemode, list, token, id, format, protocol, datarate;
        float mounting[3];
        float fine[3];
        int invert[6];
    };
    // The line's settings and the angles, in the order they are looked up (a
    // missing one ends the program, naming it); the line's parity flags.
    int readLineSettings(ConfigClient& cc, Targets* targets);
    void readOutputs(ConfigClient& cc, Targets* targets);
    // Until the IMU answers; false when the device is gone.
    bool waitForImu();
    // Passes of stopping the stream and checking each target until one pass
    // finds them all set, then the save.
    void configure(const Targets& targets);
    // One pass of the checks; true when every one found its value set.
    bool checkPass(const Targets& targets);
    void openLine(int parityFlags);
    enum class Read { Byte, TimedOut, WaitError, ReadError, Gone };
    // One byte within timeoutMs; Gone marks the link lost.
    Read readByte(char* byte, int timeoutMs);
    void markLost(const std::string& why);
    bool setReadMode(int fd, int minCount, int tenths);
    int fixedCommand(const std::string& command);
    int checkList(const std::string& query, const std::string& setPrefix, const double* want, int n, bool integers);
    int readList(const std::string& query, float* pitch, float* roll, float* yaw);
    void pause(std::chrono::milliseconds wait) const;
    void logAndPrint(const std::string& text) const;

    LinkWaits waits;
    LogSink log;
};

// Fills *sample from one data line (NUL-terminated, CR LF allowed): the first
// character must be idChar, there must be at least 10 comma-separated fields,
// fields 3 to 7 must each be a number (strtod) and field 8 a whole number
// (strtol), blanks around them allowed. False, *sample untouched, otherwise.
bool parseSample(const char* line, char idChar, ImuSample* sample);
