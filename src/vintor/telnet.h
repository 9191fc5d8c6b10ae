// Telnet status service: one request per TCP connection, answered with one
// JSON text chosen by the request's first byte ("c" configuration, "f" latest
// spectrum, "r" + digit latest measurement of a radar, "s" subscription
// sections, anything else the unit's status). Each connection is served by a
// child process of its own.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "defaults.h"
#include "records.h"

class ConfigFile;
class SharedMem;

// Paths, commands, keys and bounds of the service; the defaults are the
// system's, tests give their own.
struct TelnetSettings {
    std::string uptimePath = "/proc/uptime";
    std::string watchdogFile = "/opt/kestrom/tmp/watchdogtimesync";
    // Member name and command line of each system-information member, in reply order.
    std::vector<std::pair<std::string, std::string>> commands = {{"ntp", "/usr/bin/ntpq -p"},
                                                                 {"cpuinfo", "/bin/cat /proc/cpuinfo"},
                                                                 {"loadavg", "/bin/cat /proc/loadavg"},
                                                                 {"df", "/bin/df"},
                                                                 {"version", "/bin/cat /proc/version"}};
    int reloadKey = KEYRELOADCONFIGSUBSCRIPTIONS;
    // A client that sends or takes nothing for this long is dropped, so no
    // connection holds a child for ever.
    int ioTimeoutSeconds = 30;
    // Connections served at once; further ones wait in the listen queue.
    int maxConnections = 64;
    // After the answer, what the client still sends is read and dropped until
    // it closes, for at most this long and this many bytes.
    int drainMilliseconds = 2000;
    size_t drainBytes = 1 << 20;
};

// Appends `text` (n bytes) as the inside of a JSON string: quotes, backslashes
// and control characters escaped, and a byte that is not part of UTF-8 text
// taken as the Latin-1 character it would be, so the reply stays valid JSON.
void appendJsonEscaped(std::string& out, const char* text, size_t n);
// The same conversion to UTF-8 without escaping, for texts the JSON library escapes.
std::string utf8Text(const std::string& text);
// Appends one line of command output: tabs become blanks, the line ends at its
// first CR or LF, then "<br>".
void appendOutputLine(std::string& out, const char* line);
// "Hours h min m" of whole seconds.
std::string uptimeText(long seconds);

// The reply texts, from their inputs alone. `outputs` are the processed outputs
// of the commands, paired with their member names.
std::string statusJson(const status_st& status, const std::string& time, long uptimeSeconds,
                       const std::vector<std::pair<std::string, std::string>>& outputs);
std::string fftJson(const fft_st& record);
std::string rawJson(int slot, const radar_st& record);
std::string subscriptionsJson(ConfigFile* cf);
std::string configJson(ConfigFile* cf);

class TelnetClass {
public:
    ConfigFile* cf;
    int portnr;
    std::unique_ptr<SharedMem> storage;
    int debug;
    std::string json;  // the reply of the current connection, whole
    int key_reload_config_subscriptions;
    int sem_reload_config_subscriptions;
    TelnetSettings settings;

    explicit TelnetClass(ConfigFile* cfp, const TelnetSettings& s = TelnetSettings());
    ~TelnetClass();

    // The accept loop; never returns.
    [[noreturn]] void process();

    // Each builds its reply into json and returns 0. processData ends the
    // process when /proc/uptime or a command cannot be read.
    int processData();
    int fftToJson();
    int rawToJson(char radarnr);
    int subscriptionsToJson(const char* mesg);
    int configToJson(const char* mesg);

    // Builds the reply to one request of `length` bytes into json.
    void answer(const char* request, size_t length);
    // The whole life of a connection child: read the request, send the reply, end.
    [[noreturn]] void serveConnection(int fd);

private:
    int children_ = 0;
    // Reaps every ended child; with `block`, waits for at least one first.
    void reap(bool block);
};
