// Any mix of radar and IMU texts through the aligner: no crash, the queues stay
// bounded, and every aligned sample carries a radar time and makes one line.
#include "corrector.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string input(reinterpret_cast<const char*>(data), size);
    HeaveAligner aligner("20", true);
    // Lines split at line feeds; a first byte 'R' makes a radar text, else IMU.
    size_t start = 0;
    while (start <= input.size()) {
        size_t end = input.find('\n', start);
        if (end == std::string::npos)
            end = input.size();
        std::string line = input.substr(start, end - start);
        if (!line.empty() && line[0] == 'R')
            aligner.addRadar(line.substr(1));
        else
            aligner.addImu(line);
        interpolated_st s;
        if (aligner.step(&s)) {
            std::string out = formatCorrected(s, correctHeave(s, {1200.0, 5.0}, true));
            if (out.empty() || out.size() > 100)
                abort();
        }
        if (aligner.radarCount() > RADAR_QUEUE_MAX || aligner.imuCount() > IMU_QUEUE_MAX)
            abort();
        start = end + 1;
    }
    return 0;
}
