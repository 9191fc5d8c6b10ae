// Any line stream through the smoother: no crash, every published line is one
// grid time and four values, and the grid times one line produces rise by 100
// (after the first: with the filter's one-point lag that one belongs to the
// line before).
#include "smoother.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Check : LineSink {
    long long last = 0;
    int seen = 0;  // lines published for the current input line
    void publish(const char* line, size_t length) override
    {
        if (length == 0 || length >= 1400 || strlen(line) != length)
            abort();
        long long g;
        int fields = 0;
        for (size_t i = 0; i < length; i++)
            fields += line[i] == ',';
        if (sscanf(line, "%lld,", &g) != 1 || fields != 4)
            abort();
        // A slot of time 0 reads as empty and is never published.
        if (seen >= 2 && g != last + 100 && !(last == -100 && g == 100))
            abort();
        last = g;
        seen++;
    }
};

FirFilter* filterOfThreeTaps()
{
    char path[] = "/tmp/fuzz-fir-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0)
        abort();
    const char taps[] = "0.25\n0.5\n0.25\n";
    if (write(fd, taps, sizeof taps - 1) != static_cast<ssize_t>(sizeof taps - 1))
        abort();
    close(fd);
    FILE* quiet = freopen("/dev/null", "w", stdout);
    (void)quiet;
    FirFilter* f = new FirFilter(path);
    unlink(path);
    if (f->getError() != 0)
        abort();
    return f;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static FirFilter* filter = filterOfThreeTaps();
    filter->reset();
    Check sink;
    HeaveSmoother smoother(*filter, sink, true);
    // Lines split at line feeds, each bounded as the worker bounds a message.
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t start = 0;
    while (start <= input.size()) {
        size_t end = input.find('\n', start);
        if (end == std::string::npos)
            end = input.size();
        std::string line = input.substr(start, std::min(end - start, FILTER_LINE_MAX));
        sink.seen = 0;
        smoother.processLine(line.c_str());
        start = end + 1;
    }
    return 0;
}
