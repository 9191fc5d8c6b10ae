// Any coefficient file: the filter is either refused (and inert) or holds one
// coefficient per line, within the tap limit and with no line too long.
#include "firfilter.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool quiet = freopen("/dev/null", "w", stdout) != nullptr;
    (void)quiet;
    char path[] = "/tmp/fuzz-coefficients-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0)
        abort();
    if (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size))
        abort();
    close(fd);
    size_t lines = 0, length = 0, longest = 0;
    for (size_t i = 0; i < size; i++) {
        // The "\r" of a "\r\n" line end, or of the file's end, is not the line's.
        const bool lineEnd = data[i] == '\r' && (i + 1 == size || data[i + 1] == '\n');
        length = data[i] == '\n' ? 0 : length + (lineEnd ? 0 : 1);
        lines += data[i] == '\n';
        longest = length > longest ? length : longest;
    }
    if (size > 0 && data[size - 1] != '\n')
        lines++;
    {
        FirFilter f(path);
        // The count stops one line past the limit or at the first line too long.
        if (f.tapCount() < 0 || f.tapCount() > FIR_MAX_TAPS + 1 || static_cast<size_t>(f.tapCount()) > lines)
            abort();
        if (f.getError() == 0) {
            if (f.tapCount() < 1 || static_cast<size_t>(f.tapCount()) != lines || longest > FIR_MAX_LINE)
                abort();
            f.sample(1.0);
            f.sample(0.0);
        } else if (f.sample(1.0) != 0.0) {
            abort();
        }
    }
    unlink(path);
    return 0;
}
