#include "harness.h"

#include "configrequest.h"
#include "handshake.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace testsupport {

using Clock = std::chrono::steady_clock;

std::string sourcePath(const std::string& relative)
{
    return std::string(STATION_SOURCE_DIR) + "/" + relative;
}

std::string configservicePath()
{
    return CONFIGSERVICE_BIN;
}

namespace {

// First port of the kernel's ephemeral range, from which it takes the local
// ports of outgoing connections and the ports of binds to port 0.
int ephemeralLow()
{
    std::ifstream in("/proc/sys/net/ipv4/ip_local_port_range");
    int low = 0;
    return (in >> low) ? low : 32768;
}

// A socket bound to the port on every address, or -1.
int holdPort(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Takes the port for this process's life among every test process on the
// machine (parallel tests, other builds' tests), through a lock on a file per
// port: between a probe and the bind of the program under test, no other test
// can pick the same port at random. False when another process holds it.
bool reservePort(int port)
{
    static std::vector<int> held; // the locks last while their descriptors stay open
    const std::string dir = "/tmp/stationtest-ports";
    if (mkdir(dir.c_str(), 01777) == 0)
        chmod(dir.c_str(), 01777);
    const int fd = open((dir + "/" + std::to_string(port)).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return true; // no lock to be had: the probe alone decides
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return false;
    }
    held.push_back(fd);
    return true;
}

} // namespace

std::vector<int> freePorts(size_t count)
{
    // Picked at random below the ephemeral range: there no connection of any
    // test and no bind to port 0 can take a port between this probe and the
    // bind of the program under test. All sockets stay bound until every port
    // is known, so no port comes twice.
    static std::mt19937 rng(std::random_device{}());
    const int low = 20000;
    const int high = std::min(ephemeralLow(), 32768) - 1;
    std::vector<int> fds, ports;
    for (size_t i = 0; i < count && high > low; i++) {
        std::uniform_int_distribution<int> pick(low, high);
        for (int attempt = 0; attempt < 200; attempt++) {
            int port = pick(rng);
            if (!reservePort(port))
                continue;
            int fd = holdPort(port);
            if (fd >= 0) {
                fds.push_back(fd);
                ports.push_back(port);
                break;
            }
        }
    }
    for (int f : fds)
        close(f);
    if (ports.size() != count)
        throw std::runtime_error("no free port");
    return ports;
}

int freePort()
{
    return freePorts(1).front();
}

TempDir::TempDir()
{
    const char* base = getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/stationtest.XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        throw std::runtime_error("mkdtemp");
    path_ = buf.data();
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

size_t count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

Process::Process(const std::string& program, const std::vector<std::string>& args)
    : Process(program, args, Options())
{
}

Process::Process(const std::string& program, const std::vector<std::string>& args, const Options& options)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    // Everything the child needs is built before fork: only exec-safe calls after it.
    std::vector<std::string> argStore;
    argStore.push_back(program);
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argStore)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> envStore;
    for (char** e = environ; *e; e++)
        envStore.push_back(*e);
    envStore.insert(envStore.end(), options.environment.begin(), options.environment.end());
    std::vector<char*> envp;
    for (auto& e : envStore)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    pid_ = fork();
    if (pid_ < 0) {
        close(fds[0]);
        close(fds[1]);
        throw std::runtime_error("fork");
    }
    if (pid_ == 0) {
        setpgid(0, 0);
        dup2(fds[1], STDOUT_FILENO);
        if (options.mergeStderr)
            dup2(fds[1], STDERR_FILENO);
        if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0)
            _exit(126);
        // A bare name is found on PATH, as a shell would find it.
        execvpe(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    setpgid(pid_, pid_);
    close(fds[1]);
    outFd_ = fds[0];
    fcntl(outFd_, F_SETFL, fcntl(outFd_, F_GETFL) | O_NONBLOCK);
}

Process::~Process()
{
    if (pid_ > 0) {
        kill(-pid_, SIGKILL);
        kill(pid_, SIGKILL);
        if (!exited_)
            waitpid(pid_, &status_, 0);
    }
    if (outFd_ >= 0)
        close(outFd_);
}

bool Process::fill(milliseconds timeout)
{
    if (outFd_ < 0)
        return false;
    pollfd p = {outFd_, POLLIN, 0};
    int n = poll(&p, 1, static_cast<int>(timeout.count()));
    if (n <= 0)
        return false;
    char buf[4096];
    ssize_t got = read(outFd_, buf, sizeof buf);
    if (got > 0) {
        pending_.append(buf, static_cast<size_t>(got));
        output_.append(buf, static_cast<size_t>(got));
        return true;
    }
    if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
        close(outFd_);
        outFd_ = -1;
    }
    return got < 0;
}

bool Process::readLine(std::string* line, milliseconds timeout)
{
    auto deadline = Clock::now() + timeout;
    while (true) {
        size_t nl = pending_.find('\n');
        if (nl != std::string::npos) {
            *line = pending_.substr(0, nl);
            pending_.erase(0, nl + 1);
            return true;
        }
        auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || outFd_ < 0)
            return false;
        fill(left);
    }
}

bool Process::waitForLine(const std::string& text, milliseconds timeout, std::string* line)
{
    auto deadline = Clock::now() + timeout;
    std::string l;
    while (true) {
        auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        if (!readLine(&l, left.count() > 0 ? left : milliseconds(0)))
            return false;
        if (l.find(text) != std::string::npos) {
            if (line)
                *line = l;
            return true;
        }
    }
}

void Process::drain(milliseconds timeout)
{
    auto deadline = Clock::now() + timeout;
    while (outFd_ >= 0) {
        auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return;
        fill(left);
    }
}

void Process::signal(int sig)
{
    if (pid_ > 0 && !exited_)
        kill(pid_, sig);
}

void Process::signalGroup(int sig)
{
    if (pid_ > 0)
        kill(-pid_, sig);
}

bool Process::wait(milliseconds timeout, int* status)
{
    auto deadline = Clock::now() + timeout;
    while (!exited_) {
        pid_t r = waitpid(pid_, &status_, WNOHANG);
        if (r == pid_) {
            exited_ = true;
            break;
        }
        if (Clock::now() >= deadline)
            return false;
        usleep(5000);
    }
    if (status)
        *status = status_;
    return true;
}

int Process::exitCode() const
{
    return exited_ && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

bool Process::running()
{
    return !wait(milliseconds(0));
}

Finished runToEnd(const std::string& program, const std::vector<std::string>& args, bool mergeStderr,
                  milliseconds timeout)
{
    Process::Options options;
    options.mergeStderr = mergeStderr;
    Process p(program, args, options);
    p.drain(timeout);
    p.wait(milliseconds(2000));
    return {p.exitCode(), p.output()};
}

namespace {

milliseconds left(Clock::time_point deadline)
{
    return std::max(milliseconds(0), std::chrono::duration_cast<milliseconds>(deadline - Clock::now()));
}

} // namespace

bool joinFeed(zmq::context_t& context, zmq::socket_t& socket, const std::string& endpoint, milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    // The subscription leaves right behind the handshake, but the publisher reads
    // it only when its I/O thread next runs, and nothing tells when that is.
    if (!connectAndHandshake(context, socket, endpoint, left(deadline)))
        return false;
    // Each time it wakes, that thread reads every connection with bytes waiting.
    // Two more connections, one after the other, are each answered in a later
    // waking than the one before; once the second is answered, a waking that began
    // after the subscription had arrived has ended.
    for (int i = 0; i < 2; i++) {
        zmq::socket_t probe(context, zmq::socket_type::sub);
        probe.set(zmq::sockopt::linger, 0);
        if (!connectAndHandshake(context, probe, endpoint, left(deadline)))
            return false;
    }
    return true;
}

Subscriber::Subscriber(const std::string& endpoint, const std::string& topic)
    : socket_(context_, zmq::socket_type::sub)
{
    socket_.set(zmq::sockopt::linger, 0);
    socket_.set(zmq::sockopt::subscribe, topic);
    socket_.connect(endpoint);
}

bool Subscriber::receive(std::string* message, milliseconds timeout)
{
    zmq::pollitem_t item{static_cast<void*>(socket_), 0, ZMQ_POLLIN, 0};
    if (zmq::poll(&item, 1, timeout) <= 0)
        return false;
    message->clear();
    while (true) {
        zmq::message_t frame;
        if (!socket_.recv(frame, zmq::recv_flags::dontwait))
            return !message->empty();
        message->append(static_cast<const char*>(frame.data()), frame.size());
        if (!frame.more())
            return true;
    }
}

std::vector<std::string> Subscriber::collect(size_t count, milliseconds timeout)
{
    std::vector<std::string> got;
    auto deadline = Clock::now() + timeout;
    std::string m;
    while (got.size() < count) {
        auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || !receive(&m, left))
            break;
        got.push_back(m);
    }
    return got;
}

bool Subscriber::receiveAfter(const std::function<void()>& trigger, std::string* message, milliseconds timeout,
                              milliseconds retry)
{
    auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        trigger();
        if (receive(message, retry))
            return true;
    }
    return false;
}

Publisher::Publisher(int port) : socket_(context_, zmq::socket_type::xpub)
{
    socket_.set(zmq::sockopt::linger, 0);
    socket_.set(zmq::sockopt::ipv6, 1);
    socket_.bind("tcp://*:" + std::to_string(port));
}

bool Publisher::subscribed(milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        zmq::pollitem_t item{socket_.handle(), 0, ZMQ_POLLIN, 0};
        if (zmq::poll(&item, 1, milliseconds(50)) <= 0)
            continue;
        zmq::message_t m;
        if (socket_.recv(m, zmq::recv_flags::dontwait) && m.size() > 0 && static_cast<const uint8_t*>(m.data())[0] == 1)
            return true;
    }
    return false;
}

void Publisher::send(const std::string& bytes)
{
    socket_.send(zmq::buffer(bytes), zmq::send_flags::none);
}

bool request(const std::string& endpoint, const std::string& text, std::string* reply, milliseconds timeout)
{
    return requestReply(endpoint, text, reply, timeout);
}

std::vector<std::string> configServiceArgs(const ConfigServiceOptions& o)
{
    std::vector<std::string> args;
    if (!o.config.empty())
        args.insert(args.end(), {"-c", o.config});
    if (!o.memory.empty())
        args.insert(args.end(), {"-m", o.memory});
    args.insert(args.end(), {"-r", std::to_string(o.repPort), "-p", std::to_string(o.pubPort)});
    if (!o.requestLog.empty())
        args.insert(args.end(), {"-l", o.requestLog});
    if (!o.reply.empty())
        args.insert(args.end(), {"--reply", o.reply});
    if (!o.nullSection.empty())
        args.insert(args.end(), {"--null-section", o.nullSection});
    if (!o.delay.empty())
        args.insert(args.end(), {"--delay", o.delay});
    return args;
}

std::unique_ptr<Process> startConfigService(const ConfigServiceOptions& options, milliseconds timeout)
{
    auto p = std::make_unique<Process>(configservicePath(), configServiceArgs(options));
    if (!p->waitForLine("configservice ready", timeout))
        return nullptr;
    return p;
}

std::unique_ptr<Process> startConfigServiceOnFreePorts(ConfigServiceOptions* options, int attempts)
{
    std::unique_ptr<Process> p;
    for (int attempt = 0; attempt < attempts && !p; attempt++) {
        std::vector<int> ports = freePorts(2);
        options->repPort = ports[0];
        options->pubPort = ports[1];
        p = startConfigService(*options);
    }
    return p;
}

std::vector<std::string> readRequestLog(const std::string& path)
{
    std::string text = readFile(path);
    std::vector<std::string> requests;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t blank = text.find(' ', pos);
        if (blank == std::string::npos)
            break;
        size_t n = std::stoul(text.substr(pos, blank - pos));
        if (blank + 1 + n > text.size())
            break;
        requests.push_back(text.substr(blank + 1, n));
        pos = blank + 1 + n + 1;
    }
    return requests;
}

void* mapSharedFile(const std::string& path, std::size_t size, bool writable, milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        struct stat st;
        if (stat(path.c_str(), &st) == 0 && static_cast<std::size_t>(st.st_size) >= size) {
            const int fd = open(path.c_str(), writable ? O_RDWR : O_RDONLY);
            if (fd < 0)
                return nullptr;
            void* m = mmap(nullptr, size, writable ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, fd, 0);
            close(fd);
            return m == MAP_FAILED ? nullptr : m;
        }
        if (Clock::now() >= deadline)
            return nullptr;
        std::this_thread::sleep_for(milliseconds(10));
    }
}

std::unique_ptr<Process> startConfigServiceWith(const TempDir& dir, const std::string& json,
                                                const std::string& memory)
{
    ConfigServiceOptions o;
    o.config = dir.file("config.json");
    writeFile(o.config, json);
    if (!memory.empty()) {
        o.memory = dir.file("memory.json");
        writeFile(o.memory, memory);
    }
    return startConfigService(o);
}

} // namespace testsupport
