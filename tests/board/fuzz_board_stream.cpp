// Any bytes from the board's serial line, read as board messages until the line
// ends: nothing may crash or read outside the buffer (with the dumps on or off),
// every result is a known one, an accepted frame is a sweep frame, and the held
// bytes stay within their bound. The first byte chooses the dumps.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "boardlink.h"

namespace {
void check(bool ok) {
    if (!ok) abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static FILE* quietOut = freopen("/dev/null", "w", stdout);
    (void)quietOut;
    // A pipe holds the bytes whole; its end is the board going away.
    if (size == 0 || size > 60000) return 0;
    int line[2];
    if (pipe(line) != 0) return 0;
    const ssize_t written = write(line[1], data + 1, size - 1);
    close(line[1]);
    check(written == static_cast<ssize_t>(size - 1));

    SweepReader reader((data[0] & 1) == 0, 0);
    beagle_raw_data_t frame{};
    for (size_t calls = 0;; ++calls) {
        check(calls <= size);
        const int r = reader.readSweep(line[0], &frame);
        if (r == SWEEP_FAILED) break;
        check(r >= SWEEP_NOTHING && r <= SWEEP_SILENT && r != SWEEP_SILENT);
        if (r == SWEEP_FRAME) {
            // The frame as it came down the line (the reader swaps the halves
            // of its words) carries a check that holds, and is bytes of the stream.
            beagle_raw_data_t received = frame;
            received.start_freq = swapHalves(received.start_freq);
            received.bandwidth = swapHalves(received.bandwidth);
            received.id = swapHalves(received.id);
            received.time = swapHalves(received.time);
            check(frame.version == FRAME_VERSION && frame.crc != 0 && sweepFrameCRC(received) == frame.crc);
            check(memmem(data + 1, size - 1, &received, sizeof received) != nullptr);
        }
        check(reader.held() >= 0 && reader.held() <= 8192);
    }
    close(line[0]);
    return 0;
}
