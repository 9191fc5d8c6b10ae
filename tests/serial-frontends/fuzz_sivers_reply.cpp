// Replies of the Sivers IMA module as they come off the line: sweep traces into
// the record's value field, reply lines in 16-byte reads, and the version text
// composed from reply lines. Nothing may be written past a buffer.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "siversima.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    std::vector<int32_t> values(SIVERS_MAX_VALUES);
    TraceParser trace(values.data(), int(values.size()));
    for (size_t i = 0; i < size; ++i)
        if (trace.feed(text[i]) == TraceParser::DONE) break;
    if (trace.count() > SIVERS_MAX_VALUES || std::strlen(trace.line()) >= size_t(SIVERS_TRACE_LINE)) abort();

    // Reply lines as the front-end reads them, each started afresh after its line end.
    std::vector<char> line(SIVERS_LINE_CAPACITY);
    int used = 0;
    std::vector<char> version(SIVERS_VERSION_CAPACITY);
    std::strcpy(version.data(), "\nVersion:");
    for (size_t at = 0; at < size; at += 16) {
        const int n = int(std::min<size_t>(16, size - at));
        if (appendLine(line.data(), int(line.size()), &used, text + at, n)) {
            appendVersionPart(version.data(), version.size(), ":", line.data());
            used = 0;
            line[0] = 0;
        }
        if (used > int(line.size()) - 1 || line[size_t(used)] != 0) abort();
    }
    if (std::strlen(version.data()) >= version.size()) abort();
    return 0;
}
