#include "clocklock.h"

double clockLockValue(int64_t diff, double phase, int speed, int64_t offset)
{
    double value = static_cast<double>(diff);
    if (phase > static_cast<double>(offset + 1)) {
        // A tick just past the middle of the period with a small offset is early for the next one.
        if (offset < 20 && phase > static_cast<double>(speed / 2)) value -= 1;
        else value += 1;
    } else if (phase < static_cast<double>(offset - 1)) {
        value -= 1;
    }
    const double limit = 10.0 * speed;
    if (value > limit) value = limit;
    if (value < -limit) value = -limit;
    return value;
}

uint16_t nextRateWord(uint16_t rate, double pidinc)
{
    const double sum = static_cast<double>(rate) + pidinc;
    if (!(sum > 0.0)) return 0;
    // Saturate rather than wrap: a wrap would throw the board's clock to the far end.
    if (sum >= 65535.0) return 0xFFFF;
    return static_cast<uint16_t>(sum);
}
