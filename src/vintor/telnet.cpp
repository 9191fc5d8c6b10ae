#include "telnet.h"

#include <cjson/cJSON.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "children.h"
#include "configfile.h"
#include "feedbind.h"
#include "misc.h"
#include "sharedmem.h"
#include "timer.h"
#include "utf8.h"

namespace {

// Appends the character at p: a UTF-8 sequence as it is, any other byte as the
// Latin-1 character it would be. Returns the bytes taken.
size_t appendUtf8(std::string& out, const unsigned char* p, size_t n) {
    if (p[0] < 0x80) {
        out += static_cast<char>(p[0]);
        return 1;
    }
    if (size_t len = utf8Length(p, n)) {
        out.append(reinterpret_cast<const char*>(p), len);
        return len;
    }
    out += static_cast<char>(0xC0 | (p[0] >> 6));
    out += static_cast<char>(0x80 | (p[0] & 0x3F));
    return 1;
}

// A hand-built one-line object of string members.
class JsonObject {
public:
    explicit JsonObject(std::string& out) : out_(out) { out_ += '{'; }
    // Opens a member's string value; the caller appends the escaped text.
    std::string& open(const char* name) {
        if (!first_) out_ += ',';
        first_ = false;
        out_ += '"';
        out_ += name;
        out_ += "\":\"";
        return out_;
    }
    void close() { out_ += '"'; }
    void text(const char* name, const char* value, size_t n) {
        appendJsonEscaped(open(name), value, n);
        close();
    }
    void text(const char* name, const std::string& value) { text(name, value.data(), value.size()); }
    // A fixed-size text field of a record, which need not be terminated.
    template <size_t N>
    void field(const char* name, const char (&value)[N]) {
        text(name, value, strnlen(value, N));
    }
    void number(const char* name, long value) { text(name, std::to_string(value)); }
    void end() { out_ += '}'; }

private:
    std::string& out_;
    bool first_ = true;
};

const char* connectionText(int v) {
    switch (v) {
    case 0: return "No connection";
    case 1: return "Comport succesfull opened";
    case 2: return "Got Radar reactions";
    default: return "unknown status";
    }
}

const char* communicationText(int v) {
    switch (v) {
    case 0: return "No communication";
    case 1: return "radar initialisation";
    case 2: return "radar requestdata";
    default: return "unknown status";
    }
}

// Values in the default stream format (6 significant digits), each followed by a blank.
void appendValues(std::string& out, const float* values, int count) {
    char number[32];
    for (int i = 0; i < count; ++i) {
        int n = snprintf(number, sizeof number, "%g ", static_cast<double>(values[i]));
        out.append(number, static_cast<size_t>(n));
    }
}

// Signed 16-bit little-endian samples of sweep s of a serial radar's payload,
// each followed by a blank; offsets beyond the payload are not read.
void appendSamples(std::string& out, const radar_st& r, int s) {
    if (r.nrOfSweeps <= 0 || r.length <= 0) return;
    const long long length = r.length;
    const long long perSweep = length / r.nrOfSweeps;
    const long long base = s * length / 2;
    const auto* com = reinterpret_cast<const unsigned char*>(r.data.com);
    for (long long i = 0; i < perSweep; i += 2) {
        long long at = base + i;
        if (at + 1 >= static_cast<long long>(sizeof r.data.com)) break;
        int v = static_cast<int16_t>(static_cast<uint16_t>(com[at] | (com[at + 1] << 8)));
        out += std::to_string(v);
        out += ' ';
    }
}

// Prints a cJSON tree (formatted, as the library prints it) and frees it.
std::string printTree(cJSON* root) {
    std::string out;
    if (char* text = cJSON_Print(root)) {
        out = text;
        cJSON_free(text);
    }
    cJSON_Delete(root);
    return out;
}

// A child object whose members are read with Value (empty when missing).
void addSection(cJSON* parent, ConfigFile* cf, const std::string& section, const char* const* keys, size_t count) {
    cJSON* object = cJSON_CreateObject();
    for (size_t i = 0; i < count; ++i) {
        std::string value;
        cf->Value(section, keys[i], &value);
        cJSON_AddItemToObject(object, keys[i], cJSON_CreateString(utf8Text(value).c_str()));
    }
    cJSON_AddItemToObject(parent, section.c_str(), object);
}

// Sends all of `text`; false when the client is gone or stalls.
bool sendAll(int fd, const std::string& text) {
    size_t sent = 0;
    while (sent < text.size()) {
        ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

// Ends the stream after the answer: the end goes out at once, then what the
// client still sends is dropped until it closes, within the bounds. Closing
// with bytes unread would reset the connection instead, and a reset can cost
// the client the part of the answer it has not read yet.
void endStream(int fd, int milliseconds, size_t bytes) {
    using Clock = std::chrono::steady_clock;
    shutdown(fd, SHUT_WR);
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    char discard[4096];
    for (size_t taken = 0; taken < bytes;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return;
        pollfd p{fd, POLLIN, 0};
        int r = poll(&p, 1, static_cast<int>(left));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return;
        ssize_t n = recv(fd, discard, sizeof discard, MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        if (n <= 0) return;
        taken += static_cast<size_t>(n);
    }
}

}  // namespace

void appendJsonEscaped(std::string& out, const char* text, size_t n) {
    static const char hex[] = "0123456789abcdef";
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; i < n; ++i) {
        unsigned char c = p[i];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            i += appendUtf8(out, p + i, n - i) - 1;
        }
    }
}

std::string utf8Text(const std::string& text) {
    std::string out;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    for (size_t i = 0; i < text.size();) i += appendUtf8(out, p + i, text.size() - i);
    return out;
}

void appendOutputLine(std::string& out, const char* line) {
    size_t n = strcspn(line, "\r\n");
    std::string clean(line, n);
    for (char& c : clean)
        if (c == '\t') c = ' ';
    appendJsonEscaped(out, clean.data(), clean.size());
    out += "<br>";
}

std::string uptimeText(long seconds) {
    long h = seconds / 3600;
    long m = (seconds - h * 3600) / 60;
    return "Hours " + std::to_string(h) + " min " + std::to_string(m);
}

std::string statusJson(const status_st& status, const std::string& time, long uptimeSeconds,
                       const std::vector<std::pair<std::string, std::string>>& outputs) {
    std::string out;
    JsonObject o(out);
    o.text("time", time);
    o.text("uptime", uptimeText(uptimeSeconds));
    o.text("connection", connectionText(status.radarConnection), strlen(connectionText(status.radarConnection)));
    o.text("communication", communicationText(status.radarCom), strlen(communicationText(status.radarCom)));
    o.number("nr_fft", status.fft);
    o.number("nr_peak", status.peak);
    o.number("nr_peakmiss", status.peakmiss);
    // Command outputs are escaped line by line as they are read.
    for (const auto& member : outputs) {
        o.open(member.first.c_str()) += member.second;
        o.close();
    }
    o.field("radarVersion", status.radarVersion);
    o.end();
    return out;
}

std::string fftJson(const fft_st& record) {
    int L = record.length;
    if (L < 0) L = 0;
    if (L > MAX_FFT_BUFFER_SIZE) L = MAX_FFT_BUFFER_SIZE;
    std::string out;
    out.reserve(128 + static_cast<size_t>(L) * 2 * 14);
    JsonObject o(out);
    o.field("time", record.time);
    o.field("section", record.section);
    o.number("length", record.length);
    appendValues(o.open("fft-up"), record.data[0], L);
    o.close();
    appendValues(o.open("fft-down"), record.data[1], L);
    o.close();
    o.end();
    return out;
}

std::string rawJson(int slot, const radar_st& record) {
    std::string out;
    JsonObject o(out);
    o.number("index", slot);
    o.number("status", record.status);
    o.field("radarVersion", record.radarVersion);
    o.number("radnr", record.radnr);
    o.number("brand", record.brand);
    o.field("time", record.time);
    o.field("section", record.section);
    o.number("nrOfSweeps", record.nrOfSweeps);
    o.number("length", record.length);
    o.number("nan", record.nan);
    if (record.brand == ENRAF) {
        appendSamples(o.open("rawdata-up"), record, 0);
        o.close();
        if (record.nrOfSweeps >= 1) {
            // One sweep has no down sweep behind it in the payload.
            if (record.nrOfSweeps >= 2) appendSamples(o.open("rawdata-down"), record, 1);
            else o.open("rawdata-down");
            o.close();
        }
    } else {
        o.text("rawdata-up", std::string("raw data for brand not yep implemented "));
    }
    o.end();
    return out;
}

std::string subscriptionsJson(ConfigFile* cf) {
    static const char* const keys[] = {"active", "ipnr", "portnr", "kindof", "onceinthe", "differencetrigger"};
    cJSON* root = cJSON_CreateObject();
    for (int n = 0; n < 200; ++n) {
        std::string section = "subscription" + std::to_string(n);
        if (cf->SectionExists(section)) addSection(root, cf, section, keys, sizeof keys / sizeof keys[0]);
    }
    return printTree(root);
}

std::string configJson(ConfigFile* cf) {
    static const char* const vintorKeys[] = {"timeserver", "timeport"};
    static const char* const radarKeys[] = {"radarname",     "scanspeed",      "threshold",     "minimumheight",
                                            "maximumheight", "mountingangle", "mountingheight", "radaroffset"};
    cJSON* root = cJSON_CreateObject();
    if (cf->SectionExists("vintor")) addSection(root, cf, "vintor", vintorKeys, 2);
    for (const char* radar : {"radar0", "radar1", "radar2"}) {
        if (cf->SectionExists(radar) && cf->ValueInt(radar, "active") != 0)
            addSection(root, cf, radar, radarKeys, sizeof radarKeys / sizeof radarKeys[0]);
    }
    return printTree(root);
}

TelnetClass::TelnetClass(ConfigFile* cfp, const TelnetSettings& s)
    : cf(cfp),
      portnr(cfp->ValueInt("vintor", "telnetport")),
      storage(new SharedMem(cfp)),
      debug(cfp->ValueInt("vintor", "debugtelnet")),
      key_reload_config_subscriptions(s.reloadKey),
      sem_reload_config_subscriptions(getSemaphore(s.reloadKey)),
      settings(s) {}

TelnetClass::~TelnetClass() {}

int TelnetClass::processData() {
    FILE* f = fopen(settings.uptimePath.c_str(), "r");
    if (f == nullptr) {
        perror("supt");
        exit(1);
    }
    char uptime[12] = {0};
    size_t got = fread(uptime, 1, 11, f);
    (void)got;
    fclose(f);
    long seconds = strtol(uptime, nullptr, 10);
    printf("System up for %ld  seconds, %ld hours\n", seconds, seconds / 3600);

    char now[32] = {0};
    time_t t = wallClock().tv_sec;
    struct tm local;
    localtime_r(&t, &local);
    strftime(now, sizeof now, "%Y-%m-%d %H:%M", &local);

    std::vector<std::pair<std::string, std::string>> outputs;
    for (const auto& command : settings.commands) {
        fflush(stdout);
        FILE* p = popen(command.second.c_str(), "r");
        if (p == nullptr) {
            printf("Failed to run command\n");
            exit(0);
        }
        std::string text;
        char line[3999];
        while (fgets(line, sizeof line, p) != nullptr) appendOutputLine(text, line);
        pclose(p);
        outputs.emplace_back(command.first, std::move(text));
    }
    status_st status;
    memset(&status, 0, sizeof status);
    if (sharedmem != nullptr) memcpy(&status, &sharedmem->status, sizeof status);
    json = statusJson(status, now, seconds, outputs);
    return 0;
}

int TelnetClass::fftToJson() {
    std::unique_ptr<fft_st> record(new fft_st());
    unsigned int length = 0;
    storage->get("f", record.get(), &length, storage->getIndex("f"));
    json = fftJson(*record);
    return 0;
}

// Only "r0" to "r2" name a ring; any other radar, and one whose file is not
// mapped, shows an empty record.
int TelnetClass::rawToJson(char radarnr) {
    std::unique_ptr<radar_st> record(new radar_st());
    int slot = 0;
    if (radarnr >= '0' && radarnr <= '2') {
        std::string section = std::string("radar") + radarnr;
        unsigned int length = 0;
        slot = storage->getIndex(section.c_str());
        storage->get(section.c_str(), record.get(), &length, slot);
    }
    json = rawJson(slot, *record);
    return 0;
}

int TelnetClass::subscriptionsToJson(const char*) {
    json = subscriptionsJson(cf);
    return 0;
}

int TelnetClass::configToJson(const char*) {
    json = configJson(cf);
    return 0;
}

void TelnetClass::answer(const char* request, size_t length) {
    std::string rest(length > 0 ? request + 1 : request, length > 0 ? length - 1 : 0);
    switch (length > 0 ? request[0] : '\0') {
    case 'c': configToJson(rest.c_str()); break;
    case 'f': fftToJson(); break;
    case 'r': rawToJson(length > 1 ? request[1] : '\0'); break;
    case 's': subscriptionsToJson(rest.c_str()); break;
    default: processData(); break;
    }
}

void TelnetClass::serveConnection(int fd) {
    timeval timeout;
    timeout.tv_sec = settings.ioTimeoutSeconds;
    timeout.tv_usec = 0;
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    char request[1001] = {0};
    ssize_t n;
    while ((n = read(fd, request, 1000)) < 0 && errno == EINTR) {
    }
    // Nothing was asked: close without a reply.
    if (n > 0) {
        answer(request, static_cast<size_t>(n));
        sendAll(fd, json);
        if (debug != 0) {
            const std::string dashes(55, '-');
            printf("%s", dashes.c_str());
            printf("Send %s\n", json.c_str());
            printf("%s", dashes.c_str());
            printf("\nTelnet close conn");
        }
        endStream(fd, settings.drainMilliseconds, settings.drainBytes);
    }
    close(fd);
    exit(0);
}

void TelnetClass::reap(bool block) {
    for (;;) {
        pid_t r = waitpid(-1, nullptr, block ? 0 : WNOHANG);
        if (r > 0) {
            if (children_ > 0) --children_;
            if (debug != 0) printf("\nTelnet conection closed");
            block = false;
            continue;
        }
        if (r == 0) return;
        if (errno == EINTR) continue;
        if (errno == ECHILD) {
            children_ = 0;
            return;
        }
        perror("waitpid");
        exit(123);
    }
}

void TelnetClass::process() {
    if (debug != 0) printf("\nTelnet socket");
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) util::error("socket");
    // A restarted stage must not wait for the old connections' TIME_WAIT to pass.
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<uint16_t>(listenerPort("telnet status service", portnr)));
    if (debug != 0) printf("\nTelnet bind");
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0)
        listenerBindFailed("telnet status service", address, "bind");
    if (debug != 0) printf("\nTelnet listen");
    if (::listen(fd, 1024) < 0) util::error("listen");
    fflush(stdout);

    const std::string touch = "/bin/touch " + settings.watchdogFile;
    for (;;) {
        while (children_ >= settings.maxConnections) reap(true);
        int conn = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (conn < 0) {
            // Out of descriptors or memory: give the children time to end.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                reap(false);
                usleep(100000);
            } else if (errno != EINTR && errno != ECONNABORTED && errno != EPROTO && errno != EPERM) {
                util::error("accept");
            }
            continue;
        }
        if (getSemaphoreValue(sem_reload_config_subscriptions) > 0) {
            cf->readConfig();
            setSemaphore(sem_reload_config_subscriptions, 0);
        }
        fflush(stdout);
        fflush(stderr);
        pid_t pid = childtree::forkTied(kEndWithParent);
        if (pid == 0) {
            close(fd);
            setProcessTitle("vintorTelConn");
            serveConnection(conn);
        }
        close(conn);
        if (pid > 0) ++children_;
        reap(false);
        if (system(touch.c_str()) == -1) util::error("error creating watchdogtimesync");
        fflush(stdout);
    }
}
