#include "boardsim.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "boardlink.h"
#include "ptysim.h"
#include "timer.h"

Bytes syncWire() { return {0xFF, 0xFF}; }
Bytes tickWire() { return {0x55, 0x55}; }
Bytes lineEndWire() { return {0x0A, 0x0D}; }

Bytes join(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes sweepWire(const SweepSpec& spec)
{
    beagle_raw_data_t f{};
    f.version = FRAME_VERSION;
    f.temperature = 25;
    // On the wire the more significant unit of a 32-bit field comes first.
    f.start_freq = swapHalves(24000000u);
    f.bandwidth = swapHalves(250000u);
    f.id = swapHalves(spec.id);
    f.time = swapHalves(spec.boardTime);
    f.gain = spec.first ? FIRST_SWEEP_GAIN : 0;
    f.offset = 0;
    const double phase = spec.first ? 0.0 : 0.3;
    for (int n = 0; n < 1025; n++)
        f.data[n] = static_cast<uint16_t>(std::lround(2048.0 + 1500.0 * std::sin(2.0 * M_PI * spec.toneCycles * n / 1024.0 + phase)));
    f.crc = sweepFrameCRC(f);
    if (f.crc == 0) {
        // A zero check word is never accepted: nudge one sample.
        f.data[1024] ^= 1;
        f.crc = sweepFrameCRC(f);
    }
    if (spec.badCheck) f.crc = static_cast<uint16_t>(f.crc ^ 0x5A5A);
    Bytes out(sizeof f);
    memcpy(out.data(), &f, sizeof f);
    return out;
}

bool CommandParser::next(BoardCommand* cmd)
{
    while (!held.empty()) {
        const uint8_t b = held[0];
        size_t need = 1;
        if (b == 'Z') {
            static const uint8_t start[4] = {0x00, 0x08, 0x30, 0x40};
            if (held.size() < 5) return false;
            if (memcmp(&held[1], start, 4) == 0) {
                cmd->kind = BoardCommand::START;
                need = 5;
            } else {
                if (held.size() < 7) return false;
                cmd->kind = BoardCommand::RATE;
                cmd->rate = static_cast<uint16_t>(held[1] << 8 | held[2]);
                need = 7;
            }
        } else if (b == 'r') {
            if (held.size() < 3) return false;
            cmd->kind = BoardCommand::STOP;
            need = 3;
        } else if (b == 'A') {
            if (held.size() < 5) return false;
            cmd->kind = BoardCommand::ASK;
            need = 5;
        } else {
            cmd->kind = BoardCommand::UNKNOWN;
            cmd->byte = b;
        }
        held.erase(held.begin(), held.begin() + static_cast<long>(need));
        return true;
    }
    return false;
}

namespace {

int64_t monoMs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void writeAll(int fd, const Bytes& b)
{
    size_t done = 0;
    while (done < b.size()) {
        ssize_t n = write(fd, b.data() + done, b.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            printf("write failed: %s\n", strerror(errno));
            return;
        }
        done += static_cast<size_t>(n);
    }
}

class Board {
public:
    Board(const SimOptions& o, int fd) : opt(o), master(fd) {}

    void command(const BoardCommand& c)
    {
        switch (c.kind) {
        case BoardCommand::START:
            streaming = true;
            rate = 8;
            // First tick shortly after the start command.
            lastTick = monoMs() + 20 - period();
            printf("cmd start\n");
            break;
        case BoardCommand::RATE:
            rate = c.rate;
            printf("cmd rate %u period %d\n", rate, period());
            break;
        case BoardCommand::STOP:
            streaming = false;
            printf("cmd stop\n");
            break;
        case BoardCommand::ASK: {
            printf("cmd ask\n");
            Bytes answer(static_cast<size_t>(opt.answerBytes));
            for (size_t i = 0; i < answer.size(); i++) answer[i] = static_cast<uint8_t>(i + 1);
            writeAll(master, answer);
            break;
        }
        case BoardCommand::UNKNOWN:
            printf("cmd unknown %02X\n", c.byte);
            break;
        }
    }

    // Returns false when the board is to hang up.
    bool control(const std::string& line)
    {
        if (line == "garbage") garbage = true;
        else if (line == "badcheck") badCheck = true;
        else if (line == "orphan") orphan = true;
        else if (line == "split") split = true;
        else if (line == "silence") silent = true;
        else if (line == "resume") silent = false;
        else if (line == "lineend") writeAll(master, join({syncWire(), lineEndWire()}));
        else if (line == "tick") sendTick();
        else if (line == "hangup") return false;
        else if (!line.empty()) printf("unknown control %s\n", line.c_str());
        return true;
    }

    int waitMs() const
    {
        if (!streaming || silent) return 200;
        int64_t left = lastTick + period() - monoMs();
        return left < 0 ? 0 : static_cast<int>(left);
    }

    void due()
    {
        if (!streaming || silent) return;
        // The rate word sets the length of the period under way, as on the board.
        const int64_t now = monoMs();
        if (now < lastTick + period()) return;
        lastTick += period();
        if (lastTick + period() <= now) lastTick = now;
        if (garbage) {
            writeAll(master, Bytes{0x12, 0x34, 0x56, 0x78});
            garbage = false;
        }
        sendTick();
        SweepSpec first{id++, boardTime, true, opt.toneCycles, badCheck};
        SweepSpec second{id++, boardTime + 1, false, opt.toneCycles, false};
        boardTime += static_cast<uint32_t>(period());
        badCheck = false;
        if (orphan) {
            orphan = false;
        } else if (split) {
            split = false;
            Bytes f = join({syncWire(), sweepWire(first)});
            const size_t cut[4] = {0, 700, 1500, f.size()};
            for (int i = 0; i < 3; i++) {
                writeAll(master, Bytes(f.begin() + static_cast<long>(cut[i]), f.begin() + static_cast<long>(cut[i + 1])));
                if (i < 2) usleep(100000);
            }
        } else {
            writeAll(master, join({syncWire(), sweepWire(first)}));
        }
        writeAll(master, join({syncWire(), sweepWire(second)}));
    }

private:
    int period() const
    {
        int p = opt.periodMs + (static_cast<int>(rate) - 8) * opt.stepMs;
        return p < 5 ? 5 : p;
    }

    void sendTick()
    {
        writeAll(master, join({syncWire(), tickWire()}));
        printf("tick %lld\n", static_cast<long long>(getTime()));
    }

    const SimOptions& opt;
    int master;
    bool streaming = false;
    bool silent = false, garbage = false, badCheck = false, orphan = false, split = false;
    unsigned rate = 8;
    int64_t lastTick = 0;
    uint32_t id = 1;
    uint32_t boardTime = 0;
};

} // namespace

int runBoardSim(const SimOptions& options)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    PtyPair pty;
    if (!pty.open()) {
        perror("board-sim: pseudo-terminal");
        return 1;
    }
    if (!publishPath(options.linkFile, pty.slavePath)) {
        perror("board-sim: link file");
        return 1;
    }
    printf("slave %s\n", pty.slavePath.c_str());
    printf("board-sim ready\n");

    Board board(options, pty.master);
    CommandParser parser;
    std::string control;
    // Opened for writing as well, a control FIFO never reads as ended between writers.
    int controlFd = STDIN_FILENO;
    if (!options.controlFile.empty()) {
        controlFd = ::open(options.controlFile.c_str(), O_RDWR | O_CLOEXEC);
        if (controlFd < 0) {
            perror("board-sim: control file");
            return 1;
        }
    }
    bool stdinOpen = true;
    for (;;) {
        struct pollfd fds[2] = {{pty.master, POLLIN, 0}, {controlFd, POLLIN, 0}};
        int r = poll(fds, stdinOpen ? 2 : 1, board.waitMs());
        if (r < 0 && errno != EINTR) {
            perror("board-sim: poll");
            return 1;
        }
        if (r > 0 && (fds[0].revents & POLLIN)) {
            uint8_t in[256];
            ssize_t n = read(pty.master, in, sizeof in);
            if (n > 0) {
                parser.feed(in, static_cast<size_t>(n));
                BoardCommand cmd{};
                while (parser.next(&cmd)) board.command(cmd);
            }
        }
        if (r > 0 && stdinOpen && (fds[1].revents & (POLLIN | POLLHUP))) {
            char in[256];
            ssize_t n = read(controlFd, in, sizeof in);
            if (n <= 0) {
                stdinOpen = false;
            } else {
                control.append(in, static_cast<size_t>(n));
                size_t eol;
                while ((eol = control.find('\n')) != std::string::npos) {
                    std::string line = control.substr(0, eol);
                    control.erase(0, eol + 1);
                    if (!line.empty() && line.back() == '\r') line.pop_back();
                    if (!board.control(line)) {
                        printf("hangup\n");
                        pty.close();
                        return 0;
                    }
                }
            }
        }
        board.due();
    }
}
