// Shared pieces of the tests that run the board simulator and the board programs.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "harness.h"

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
        ready = proc->waitForLine("board-sim ready", milliseconds(5000));
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

} // namespace boardtest
