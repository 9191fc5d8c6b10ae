// What the fuzz targets share: a check that ends the run when a promise of the
// parser is broken (libFuzzer keeps the input), and standard output out of the
// way of parsers that report as they go.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace fuzzing {

inline void check(bool ok) {
    if (!ok) std::abort();
}

// Once per process: standard output to /dev/null.
inline void quietStdout() {
    static const bool done = std::freopen("/dev/null", "w", stdout) != nullptr;
    (void)done;
}

}  // namespace fuzzing
