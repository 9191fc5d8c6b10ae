// Any coefficient file: the filter is either refused (and inert) or holds one
// coefficient per line, within the tap limit.
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
    size_t lines = 0;
    for (size_t i = 0; i < size; i++)
        lines += data[i] == '\n';
    if (size > 0 && data[size - 1] != '\n')
        lines++;
    {
        FirFilter f(path);
        if (f.getError() == 0) {
            if (f.tapCount() < 1 || f.tapCount() > FIR_MAX_TAPS || static_cast<size_t>(f.tapCount()) != lines)
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
