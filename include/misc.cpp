#include "misc.h"

#include "defaults.h"
#include "uniquefd.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace util {

void error(const char* msg)
{
    perror(msg);
    exit(1);
}

float getFourierDistance(int n)
{
    if (n < 1)
        return 0.0f;
    float sweepTime = static_cast<float>(n) / DEF_sampleFrequency;
    float freqPerFourierPoint = 1.0f / sweepTime;
    float freqPerMeter = 2.0f * DEF_sweepSpeed / DEF_speedOfLight;
    float fD = freqPerFourierPoint / freqPerMeter * 100.0f;
    return fD;
}

float getPipeCorrection(int isFreeSpaceRadar, float pipeDiameter)
{
    if (isFreeSpaceRadar != 0)
        return 1.0f;
    const float XnTE01 = 3.832f;
    const float freeSpaceWaveLength = 3.0f;
    float pipeWaveLength = pipeDiameter * 3.1415927f / XnTE01;
    float r = freeSpaceWaveLength / pipeWaveLength;
    float q = r * r;
    if (q == 1.0f)
        return 1.0f;
    return std::sqrt(1.0f - q);
}

int isPowerOfTwo(int x)
{
    int i = 0;
    while (x > 1 && x % 2 == 0) {
        x /= 2;
        i++;
    }
    return x == 1 ? i : 0;
}

float bytes2float(int n1, int n2, int n3, int n4)
{
    long long sign = n1 < 128 ? 1 : -1;
    int e = ((n1 << 1) & 255) + (n2 >> 7);
    long long m;
    if (e != 0)
        m = ((static_cast<long long>(n2 & 255) | 0x80) << 16) + (n3 << 8) + n4;
    else
        m = (static_cast<long long>(n2 & 0x7F) << 16) + (n3 << 8) + n4;
    double value = static_cast<double>(sign * m) * std::ldexp(1.0, e != 0 ? e - 150 : -149);
    return static_cast<float>(value);
}

int binToHex(const char* p, const int psize, char* buffer)
{
    static const char digits[] = "0123456789ABCDEF";
    for (int i = 0; i < psize; i++) {
        unsigned char byte = static_cast<unsigned char>(p[i]);
        buffer[2 * i] = digits[byte >> 4];
        buffer[2 * i + 1] = digits[byte & 0x0F];
    }
    if (psize > 0)
        buffer[2 * psize] = '\0';
    return 0;
}

char xtod(char c)
{
    if (c >= '0' && c <= '9')
        return static_cast<char>(c - '0');
    if (c >= 'A' && c <= 'F')
        return static_cast<char>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f')
        return static_cast<char>(c - 'a' + 10);
    return 0;
}

int hexToBin(const char* p, char* buffer, int* size)
{
    size_t length = strlen(p);
    int n = 0;
    // An odd length pairs the last digit with the terminating NUL (low digit 0).
    for (size_t i = 0; i < length; i += 2)
        buffer[n++] = static_cast<char>(xtod(p[i]) * 16 + xtod(p[i + 1]));
    *size = n;
    return 0;
}

void floatToString(float argument, std::string* T)
{
    // Called per bin and per peak when records are formatted: no stream per
    // call. to_chars with a precision prints as printf "%.5f" in the C locale.
    char buf[64]; // the largest float is 39 digits before the point
    std::to_chars_result r =
        std::to_chars(buf, buf + sizeof buf, static_cast<double>(argument), std::chars_format::fixed, 5);
    T->assign(buf, r.ptr);
    if (*T == "-inf")
        *T = "0";
}

void ToString(int argument, std::string* T) { *T = std::to_string(argument); }
void ToString(long argument, std::string* T) { *T = std::to_string(argument); }
void ToString(long long argument, std::string* T) { *T = std::to_string(argument); }
void ToString(unsigned long long argument, std::string* T) { *T = std::to_string(argument); }

void doubleToString(double ref, std::string* S)
{
    // "%f" of a huge double needs far more than a fixed small buffer.
    char buf[400];
    snprintf(buf, sizeof buf, "%f", ref);
    *S = buf;
}

void process_mem_usage(int pppid, double& vm_usage, double& resident_set)
{
    vm_usage = 0.0;
    resident_set = 0.0;
    std::string pid;
    ToString(pppid, &pid);
    std::ifstream stat("/proc/" + pid + "/stat");
    if (!stat)
        return;
    std::string line;
    if (!std::getline(stat, line))
        return;
    // The command name may hold blanks; the fixed fields start after its last ')'.
    std::string::size_type close = line.rfind(')');
    if (close == std::string::npos)
        return;
    std::istringstream fields(line.substr(close + 1));
    std::string skip;
    // state .. starttime: 20 fields before vsize.
    for (int i = 0; i < 20; i++)
        if (!(fields >> skip))
            return;
    unsigned long vsize = 0;
    long rss = 0;
    if (!(fields >> vsize >> rss))
        return;
    long page_size_kb = sysconf(_SC_PAGESIZE) / 1024;
    vm_usage = vsize / 1024.0;
    resident_set = static_cast<double>(rss * page_size_kb);
}

std::vector<std::string> explode(const std::string& delimiter, const std::string& str)
{
    std::vector<std::string> arr;
    if (str.empty() || delimiter.empty()) {
        arr.push_back(str);
        return arr;
    }
    size_t strleng = str.length();
    size_t delleng = delimiter.length();
    size_t i = 0;
    size_t k = 0;
    while (i < strleng) {
        size_t j = 0;
        while (i + j < strleng && j < delleng && str[i + j] == delimiter[j])
            j++;
        if (j == delleng) {
            arr.push_back(str.substr(k, i - k));
            i += delleng;
            k = i;
        } else {
            i++;
        }
    }
    arr.push_back(str.substr(k, i - k));
    return arr;
}

std::uint32_t isqrt(std::uint32_t x)
{
    std::uint32_t res = 0;
    std::uint32_t one = 1u << 30;
    while (one > x)
        one >>= 2;
    while (one != 0) {
        if (x >= res + one) {
            x -= res + one;
            res += 2 * one;
        }
        res >>= 1;
        one >>= 2;
    }
    return res;
}

} // namespace util

bool isExactNaN(const std::string& text)
{
    if (text.size() != 3)
        return false;
    std::string lower(text);
    for (char& c : lower)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return lower == "nan";
}

std::vector<std::string> explode(const std::string& delimiter, std::string* text)
{
    if (delimiter.empty())
        return {};
    return util::explode(delimiter, *text);
}

namespace {

struct Pipe {
    UniqueFd readEnd, writeEnd;
};

// A close-on-exec pipe whose ends lie above the descriptors the child gets
// (0, 1 and 3), so that placing them there never clashes with another end.
bool childPipe(Pipe* p)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return false;
    UniqueFd ends[2] = {UniqueFd(fds[0]), UniqueFd(fds[1])};
    for (UniqueFd& end : ends) {
        if (end.get() > 3)
            continue;
        end = UniqueFd(fcntl(end.get(), F_DUPFD_CLOEXEC, 4));
        if (!end)
            return false;
    }
    p->readEnd = std::move(ends[0]);
    p->writeEnd = std::move(ends[1]);
    return true;
}

// Starts gpg with args, reading `in` on its standard input and `pass` on
// descriptor 3 and writing `out` to its standard output; the child's ends are
// closed here. -1 when it cannot start.
pid_t spawnGpg(const std::vector<std::string>& args, Pipe& in, Pipe& out, Pipe& pass)
{
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>("gpg"));
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in.readEnd.get(), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out.writeEnd.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pass.readEnd.get(), 3);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, "gpg", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    in.readEnd.reset();
    out.writeEnd.reset();
    pass.readEnd.reset();
    return rc == 0 ? pid : -1;
}

// SIGPIPE held back while it lives: gpg may stop reading early, and its end of
// a pipe closing must not kill us. One raised meanwhile is taken back at the
// end, unless one was pending already.
class PipeSignalHeld {
public:
    PipeSignalHeld()
    {
        sigemptyset(&pipeSignal_);
        sigaddset(&pipeSignal_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeSignal_, &previous_);
        sigpending(&pendingBefore_);
    }
    ~PipeSignalHeld()
    {
        if (!sigismember(&pendingBefore_, SIGPIPE)) {
            timespec none = {0, 0};
            sigset_t pending;
            sigpending(&pending);
            if (sigismember(&pending, SIGPIPE))
                sigtimedwait(&pipeSignal_, nullptr, &none);
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    PipeSignalHeld(const PipeSignalHeld&) = delete;
    PipeSignalHeld& operator=(const PipeSignalHeld&) = delete;

private:
    sigset_t pipeSignal_, previous_, pendingBefore_;
};

struct Feed {
    UniqueFd fd;
    const std::string* data;
    size_t done;
};

// Writes every feed's data while reading `reader` to its end, so that gpg
// never waits on a full pipe of ours; returns what was read.
std::string pump(Feed (&feeds)[2], UniqueFd& reader)
{
    std::string result;
    while (reader) {
        pollfd items[3];
        int n = 0;
        items[n++] = {reader.get(), POLLIN, 0};
        for (Feed& f : feeds)
            if (f.fd)
                items[n++] = {f.fd.get(), POLLOUT, 0};
        if (poll(items, static_cast<nfds_t>(n), -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int i = 1; i < n; i++) {
            if (items[i].revents == 0)
                continue;
            for (Feed& f : feeds) {
                if (f.fd.get() != items[i].fd)
                    continue;
                ssize_t w = 0;
                if ((items[i].revents & POLLOUT) && f.done < f.data->size())
                    w = write(f.fd.get(), f.data->data() + f.done, f.data->size() - f.done);
                if (w > 0)
                    f.done += static_cast<size_t>(w);
                if (w < 0 || f.done >= f.data->size() || !(items[i].revents & POLLOUT))
                    f.fd.reset();
            }
        }
        if (items[0].revents != 0) {
            char buffer[4096];
            ssize_t r = read(reader.get(), buffer, sizeof buffer);
            if (r > 0)
                result.append(buffer, static_cast<size_t>(r));
            else if (r == 0 || errno != EINTR)
                reader.reset();
        }
    }
    return result;
}

// Runs gpg with args, no shell: input on its standard input, the passphrase and a
// line feed on descriptor 3; returns its standard output. Its standard error is
// the caller's. Throws when the pipes or the process cannot be made.
std::string runGpg(const std::vector<std::string>& args, const std::string& input, const std::string& passphrase)
{
    Pipe in, out, pass;
    if (!childPipe(&in) || !childPipe(&out) || !childPipe(&pass))
        throw std::runtime_error("popen() failed!");
    const pid_t pid = spawnGpg(args, in, out, pass);
    if (pid < 0)
        throw std::runtime_error("popen() failed!");

    PipeSignalHeld held;
    std::string secret = passphrase + "\n";
    Feed feeds[2] = {{std::move(in.writeEnd), &input, 0}, {std::move(pass.writeEnd), &secret, 0}};
    std::string result = pump(feeds, out.readEnd);
    for (Feed& f : feeds)
        f.fd.reset();
    out.readEnd.reset();
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    return result;
}

} // namespace

std::string encrypt_message(const std::string& message, const std::string& passphrase)
{
    return runGpg({"--batch", "--yes", "--armor", "--passphrase-fd", "3", "--symmetric", "--cipher-algo", "AES256"},
                  message + "\n", passphrase);
}

std::string decrypt_message(const std::string& message, const std::string& passphrase)
{
    std::string text = runGpg({"--batch", "--yes", "--passphrase-fd", "3", "--decrypt", "--quiet"}, message + "\n",
                              passphrase);
    text.erase(std::remove(text.begin(), text.end(), '\n'), text.end());
    return text;
}
