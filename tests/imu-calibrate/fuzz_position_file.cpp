// A position file of any bytes: the parser must not crash, every line fills the
// axes from x on, and each value beyond the third is reported once.
#include "calibrate.h"

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    std::ostringstream out;
    PositionSamples p = readPositions(in, out);
    if (p.y.size() > p.x.size() || p.z.size() > p.y.size())
        abort();
    if (out.str().size() % 14 != 0) // "Error Parsing\n"
        abort();
    p.meanNorm();
    p.sdZ();
    return 0;
}
