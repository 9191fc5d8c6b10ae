// What a replay peer sends, any bytes, read by the network replay front-end
// until the peer has gone: every whole pair is an up sweep and its down sweep
// numbered one more, up sweeps keep one parity, fields stay terminated, and
// every request consumes input.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "configfile.h"
#include "fuzzing.h"
#include "readudp.h"

using fuzzing::check;
using fuzzing::quietStdout;

namespace {

// Reads the requests ("g") the front-end sent, so they never fill the socket.
void drain(int fd) {
    char buf[4096];
    while (recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    quietStdout();
    // All of it must fit the socket before the front-end reads.
    if (size > 100000) return 0;
    int sv[2];
    check(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) == 0);
    for (size_t done = 0; done < size;) {
        const ssize_t n = send(sv[1], data + done, size - done, MSG_NOSIGNAL);
        check(n > 0);
        done += static_cast<size_t>(n);
    }
    shutdown(sv[1], SHUT_WR);

    ConfigFile cf(0, 0);
    ReadUdpClass replay(&cf, "radar0", 1.0);
    replay.adoptPeer(sv[0]);
    static radar_st record;
    int parity = -1;
    for (size_t requests = 0; replay.hasPeer(); ++requests) {
        check(requests <= size);
        record.length = 7;
        const int r = replay.getMeasurement(&record, 1.0);
        drain(sv[1]);
        if (r != 0) {
            check(record.length == 0);
            continue;
        }
        check(record.length == REPLAY_SWEEP_LENGTH);
        const readfile_raw_data_t& up = record.data.rf[0];
        const readfile_raw_data_t& down = record.data.rf[1];
        check(static_cast<long long>(down.sweepnr) == static_cast<long long>(up.sweepnr) + 1);
        const int p = static_cast<int>(static_cast<unsigned>(up.sweepnr) & 1u);
        check(parity < 0 || parity == p);
        parity = p;
        for (const readfile_raw_data_t* e : {&up, &down}) {
            check(strnlen(e->sensorname, sizeof e->sensorname) < sizeof e->sensorname);
            check(strnlen(e->time, sizeof e->time) < sizeof e->time);
        }
    }
    close(sv[1]);
    return 0;
}
