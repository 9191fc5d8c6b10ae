// Shared pieces of the tests that run the board simulator and the board programs.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"
#include "tarnix.h"

namespace boardtest {

using testsupport::milliseconds;

// board-sim as a process, its tty path left in `link`, control lines through a FIFO.
class Sim {
public:
    Sim(const testsupport::TempDir& dir, std::vector<std::string> extra = {}, const std::string& link = "")
        : linkFile(link.empty() ? dir.file("board.tty") : link), fifo(dir.file("board.ctl"))
    {
        mkfifo(fifo.c_str(), 0600);
        std::vector<std::string> args = {"-l", linkFile, "-c", fifo};
        args.insert(args.end(), extra.begin(), extra.end());
        proc.reset(new testsupport::Process(BOARD_SIM_BIN, args));
        ready = proc->waitForLine("board-sim ready", milliseconds(20000));
        ctl = open(fifo.c_str(), O_RDWR | O_CLOEXEC);
    }
    ~Sim()
    {
        if (ctl >= 0) close(ctl);
    }
    void control(const std::string& line) const
    {
        const std::string l = line + "\n";
        (void)!write(ctl, l.data(), l.size());
    }
    std::string tty() const
    {
        std::string t = testsupport::readFile(linkFile);
        while (!t.empty() && t.back() == '\n') t.pop_back();
        return t;
    }

    std::string linkFile, fifo;
    std::unique_ptr<testsupport::Process> proc;
    bool ready = false;
    int ctl = -1;
};

// A configuration for the board reader: period, offset, sweep size, feed port, detection script.
inline std::string readerConfig(const std::string& speed, const std::string& offset, int sweepsize, int port, const std::string& script)
{
    return "{\"general\":{\"speed\":\"" + speed + "\"},\"radar\":{\"timeoffset\":\"" + offset + "\",\"sweepsize\":\"" +
           std::to_string(sweepsize) + "\"},\"radar2\":{\"active\":\"0\"},\"tarnix-pic32\":{\"publishers\":{\"rawdata-pub\":\"" +
           std::to_string(port) + "\"},\"detectUSBDevice\":\"" + script + "\"}}";
}

// The period of a simulator line "cmd rate R period P"; -1 without one.
inline int periodOf(const std::string& line)
{
    const size_t at = line.find("period ");
    return at == std::string::npos ? -1 : atoi(line.c_str() + at + 7);
}

// Reads the simulator's commanded periods into *periods until ten in a row
// average within `tolerance` ms of `wanted`: the reader has locked the board's
// clock. Each period follows the tick times the reader measured, which a loaded
// machine delays, and a start slowed by the load makes the reader hurry the
// board for a while to win the lost phase back; so the lock is waited for,
// never expected at a fixed tick. False when `limit` periods came without it.
inline bool waitForLock(testsupport::Process& sim, int wanted, int tolerance, size_t limit, std::vector<int>* periods)
{
    constexpr size_t window = 10;
    std::string line;
    while (periods->size() < limit && sim.waitForLine("cmd rate", milliseconds(10000), &line)) {
        periods->push_back(periodOf(line));
        if (periods->size() < window)
            continue;
        int sum = 0;
        for (size_t i = periods->size() - window; i < periods->size(); i++)
            sum += (*periods)[i];
        if (std::abs(sum - static_cast<int>(window) * wanted) <= static_cast<int>(window) * tolerance)
            return true;
    }
    return false;
}

// The next record on the reader's feed; false when none came or it had another size.
inline bool receiveRecord(testsupport::Subscriber& feed, tarnix_st* rec, milliseconds wait = milliseconds(15000))
{
    std::string msg;
    if (!feed.receive(&msg, wait)) return false;
    EXPECT_EQ(msg.size(), 4168u);
    if (msg.size() != sizeof(tarnix_st)) return false;
    memcpy(rec, msg.data(), sizeof *rec);
    return true;
}

// Tells the configuration service that `section` changed, as an edit would.
inline void notice(const std::string& section, const std::string& endpoint = "tcp://127.0.0.1:5010")
{
    std::string reply;
    EXPECT_TRUE(testsupport::request(endpoint, "{\"set\":{\"" + section + "\":{\"changed\":\"1\"}}}", &reply));
}

} // namespace boardtest
