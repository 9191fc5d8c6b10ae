#include "imusim.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "numbers.h"

using Clock = std::chrono::steady_clock;

namespace {

// A control line's count; 0 (none) for text that is not one.
int wholeOrZero(const std::string& text)
{
    int v = 0;
    return parseWholeNumber(text.c_str(), &v) ? v : 0;
}

} // namespace

std::map<std::string, std::string> imuSimDefaults()
{
    return {
        {"usemode,", "2"},
        {"output,list", "3"},
        {"output,token", "44"},
        {"output,id", "X1"},
        {"output,format", "1"},
        {"output,protocol", "0"},
        {"output,rate", "10"},
        {"mounting,angles", "[0 0 0]"},
        {"mounting,anglesFine", "[0 0 0]"},
        {"parser,parser_main,InvertAxes", "[1 1 1 1 1 1]"},
        {"info,make", "imu-sim"},
        {"info,model", "SIM-6"},
        {"info,type", "motion sensor"},
        {"info,serial no", "000042"},
        {"info,firmware ver", "1.0.3"},
        {"info,hardware ver", "B"},
    };
}

ImuSim::ImuSim(const ImuSimOptions& o) : options(o), params(imuSimDefaults()), streaming(o.streaming)
{
    for (const auto& p : o.params)
        params[p.first] = p.second;
}

ImuSim::~ImuSim()
{
    stop();
    for (int fd : wakePipe)
        if (fd >= 0)
            close(fd);
}

bool ImuSim::open()
{
    // Holding the slave keeps the terminal alive while the reader reopens it, and
    // a raw slave never echoes the IMU's lines back as commands; a reader that
    // does not read must not stall the simulator: lines are dropped.
    if (!pty.openForDevice())
        return false;
    if (pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    if (!options.linkPath.empty()) {
        unlink(options.linkPath.c_str());
        if (symlink(pty.slavePath.c_str(), options.linkPath.c_str()) != 0)
            return false;
    }
    return true;
}

void ImuSim::start()
{
    thread = std::thread([this] { run(); });
}

void ImuSim::stop()
{
    {
        std::lock_guard<std::mutex> g(lock);
        stopping = true;
    }
    wake();
    if (thread.joinable())
        thread.join();
}

void ImuSim::wake()
{
    if (wakePipe[1] >= 0)
        (void)!write(wakePipe[1], "w", 1);
}

void ImuSim::control(const std::string& line)
{
    {
        std::lock_guard<std::mutex> g(lock);
        apply(line);
    }
    wake();
}

std::vector<std::string> ImuSim::commands() const
{
    std::lock_guard<std::mutex> g(lock);
    return received;
}

bool ImuSim::waitForCommands(size_t count, std::chrono::milliseconds timeout) const
{
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        if (commands().size() >= count)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return commands().size() >= count;
}

std::string ImuSim::param(const std::string& key) const
{
    std::lock_guard<std::mutex> g(lock);
    auto it = params.find(key);
    return it == params.end() ? "" : it->second;
}

void ImuSim::apply(const std::string& line)
{
    const size_t space = line.find(' ');
    const std::string word = line.substr(0, space);
    const std::string arg = space == std::string::npos ? "" : line.substr(space + 1);
    if (word == "silence") {
        silent = true;
    } else if (word == "resume") {
        silent = false;
        silentFor = 0;
    } else if (word == "silent-for") {
        silentFor = wholeOrZero(arg);
    } else if (word == "refuse") {
        refusePrefix = arg;
    } else if (word == "noeol") {
        noEol = true;
    } else if (word == "reply") {
        overrideReply = true;
        overrideText = arg;
    } else if (word == "badlist") {
        badList = true;
    } else if (word == "param") {
        const size_t eq = arg.find('=');
        if (eq != std::string::npos)
            params[arg.substr(0, eq)] = arg.substr(eq + 1);
    } else if (word == "line") {
        options.line = arg;
    } else if (word == "tail") {
        tailLines = wholeOrZero(arg);
    } else if (word == "emit") {
        emitNow = true;
    } else if (word == "hangup") {
        hangup = true;
    }
}

void ImuSim::send(const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(pty.master, text.data() + done, text.size() - done);
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

void ImuSim::emitLine()
{
    send(options.line + "\r\n");
}

std::chrono::microseconds ImuSim::period() const
{
    double rate = strtod(params.at("output,rate").c_str(), nullptr);
    rate = std::min(1000.0, std::max(0.1, rate == rate ? rate : 10.0));
    return std::chrono::microseconds(static_cast<long long>(1e6 / rate));
}

namespace {

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Position after the n-th comma, or npos.
size_t afterCommas(const std::string& text, int n)
{
    size_t at = 0;
    for (int i = 0; i < n; i++) {
        at = text.find(',', at);
        if (at == std::string::npos)
            return at;
        at++;
    }
    return at;
}

} // namespace

// The reply line to one command, without CR LF; "" for none.
std::string ImuSim::answer(const std::string& command)
{
    const std::string ok = "0000, OK";
    const std::string error = "5101, ERROR";
    if (command.empty())
        return error;
    if (command == "save" || command == "exit")
        return ok;
    if (command == "restart") {
        streaming = options.streaming;
        return ok;
    }
    if (command == "set,output,start") {
        streaming = true;
        return ok;
    }
    if (command == "set,output,stop") {
        streaming = false;
        return ok;
    }
    // Recording on the unit's own card: nothing to show here.
    if (command == "set,output,start sd" || command == "set,output,stop sd")
        return ok;
    const bool get = startsWith(command, "get,"), getpar = startsWith(command, "getpar,");
    if (get || getpar) {
        auto it = params.find(command.substr(get ? 4 : 7));
        if (it == params.end())
            return error;
        std::string value = it->second;
        if (badList && !value.empty() && value[0] == '[') {
            badList = false;
            value = value.substr(0, value.find(' '));
        }
        return "0000, " + value;
    }
    const bool set = startsWith(command, "set,"), setpar = startsWith(command, "setpar,");
    if (set || setpar) {
        const std::string rest = command.substr(set ? 4 : 7);
        const size_t valueAt = afterCommas(rest, set ? 2 : 3);
        if (valueAt == std::string::npos)
            return error;
        params[rest.substr(0, valueAt - 1)] = rest.substr(valueAt);
        return ok;
    }
    return error;
}

void ImuSim::handle(const std::string& command)
{
    received.push_back(command);
    if (options.echo) {
        printf("cmd %s\n", command.c_str());
        fflush(stdout);
    }
    if (silent)
        return;
    if (silentFor > 0) {
        silentFor--;
        return;
    }
    std::string reply;
    if (overrideReply) {
        overrideReply = false;
        reply = overrideText;
    } else if (!refusePrefix.empty() && startsWith(command, refusePrefix)) {
        refusePrefix.clear();
        reply = "5102, ERROR";
    } else {
        reply = answer(command);
    }
    if (!noEol)
        reply += "\r\n";
    noEol = false;
    send(reply);
    if (command == "set,output,stop")
        for (; tailLines > 0; tailLines--)
            emitLine();
}

void ImuSim::run(int controlFd)
{
    auto next = Clock::now();
    std::string controlText;
    while (true) {
        int timeout = -1;
        {
            std::lock_guard<std::mutex> g(lock);
            if (stopping || hangup)
                break;
            if (emitNow) {
                emitNow = false;
                emitLine();
            }
            if (streaming) {
                auto now = Clock::now();
                if (now >= next) {
                    emitLine();
                    next = std::max(next + period(), now);
                }
                timeout = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count()) + 1;
            } else {
                next = Clock::now() + period(); // the first line comes a period after the start
            }
        }
        pollfd p[3] = {{pty.master, POLLIN, 0}, {wakePipe[0], POLLIN, 0}, {controlFd, POLLIN, 0}};
        if (poll(p, controlFd >= 0 ? 3 : 2, timeout) < 0 && errno != EINTR)
            break;
        char buf[512];
        if (p[1].revents & POLLIN)
            while (read(wakePipe[0], buf, sizeof buf) > 0) {
            }
        if (controlFd >= 0 && (p[2].revents & (POLLIN | POLLHUP))) {
            ssize_t n = read(controlFd, buf, sizeof buf);
            if (n > 0) {
                controlText.append(buf, static_cast<size_t>(n));
                size_t nl;
                while ((nl = controlText.find('\n')) != std::string::npos) {
                    control(controlText.substr(0, nl));
                    controlText.erase(0, nl + 1);
                }
            } else if (n == 0) {
                controlFd = -1; // standard input closed: commands only
            }
        }
        if (p[0].revents & POLLIN) {
            ssize_t n = read(pty.master, buf, sizeof buf);
            std::lock_guard<std::mutex> g(lock);
            if (n > 0)
                pending.append(buf, static_cast<size_t>(n));
            size_t nl;
            while ((nl = pending.find('\n')) != std::string::npos) {
                std::string command = pending.substr(0, nl);
                pending.erase(0, nl + 1);
                if (!command.empty() && command.back() == '\r')
                    command.pop_back();
                handle(command);
            }
        }
    }
    std::lock_guard<std::mutex> g(lock);
    if (hangup) {
        pty.close();
    }
}
