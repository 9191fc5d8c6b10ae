#include "smoother.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

bool parseFilterLine(const char* line, filtersample_st* out)
{
    // Bounds of the first five fields; an empty field keeps its place.
    const char* start[5];
    size_t length[5];
    const char* p = line;
    int n = 0;
    while (n < 5) {
        const char* comma = strchr(p, ',');
        start[n] = p;
        length[n] = comma != nullptr ? static_cast<size_t>(comma - p) : strlen(p);
        n++;
        if (comma == nullptr)
            break;
        p = comma + 1;
    }
    if (n < 5)
        return false;
    // Each field is read on its own, so a number never runs into the next field.
    char field[64];
    auto text = [&](int i) {
        size_t len = length[i] < sizeof field - 1 ? length[i] : sizeof field - 1;
        memcpy(field, start[i], len);
        field[len] = '\0';
        return field;
    };
    auto value = [&](int i) { return length[i] == 0 ? NAN : atof(text(i)); };
    out->time = atoll(text(0));
    out->heave = value(1);
    out->roll = value(2);
    out->pitch = value(3);
    out->yaw = value(4);
    return true;
}

double interpolateLinear(double a, double b, double c)
{
    if (c == 0.0)
        return a;
    if (c == 1.0)
        return b;
    return (b - a) * c + a;
}

HeaveSmoother::HeaveSmoother(FirFilter& filter, LineSink& sink, bool quiet)
    : filter(filter), sink(sink), quiet(quiet), outputRing(static_cast<size_t>(filter.tapCount()), filterslot_st{}),
      writeIndex(static_cast<size_t>(ringLagFor(filter.tapCount())))
{
}

void HeaveSmoother::processLine(const char* line)
{
    filtersample_st& cur = records[current];
    filtersample_st& prev = records[previous];
    if (outputRing.empty() || !parseFilterLine(line, &cur))
        return;
    if (std::isnan(cur.heave)) {
        if (std::isnan(prev.heave))
            prev.heave = 0.0;
        cur.heave = prev.heave;
        outputRing[writeIndex].nanFlag = 1;
    }
    // A gap longer than the filter: start it afresh from here, no grid points for
    // the gap. Times that do not fit a difference count as such a gap.
    int64_t diff;
    const int64_t limit = static_cast<int64_t>(filter.tapCount()) * FILTER_GRID_STEP;
    if (__builtin_sub_overflow(cur.time, prev.time, &diff) || diff > limit) {
        filter.reset();
        prev.time = cur.time;
        diff = 0;
    }
    for (int64_t offset = FILTER_GRID_STEP - prev.time % FILTER_GRID_STEP; offset <= diff; offset += FILTER_GRID_STEP) {
        const double c = static_cast<double>(diff - offset) / static_cast<double>(diff);
        emitGridPoint(prev.time + offset, c);
    }
    previous = current;
    current = 1 - current;
}

void HeaveSmoother::emitGridPoint(int64_t g, double c)
{
    const filtersample_st& cur = records[current];
    const filtersample_st& prev = records[previous];
    filterslot_st& in = outputRing[writeIndex];
    filterInput = interpolateLinear(cur.heave, prev.heave, c);
    in.roll = interpolateLinear(cur.roll, prev.roll, c);
    in.pitch = interpolateLinear(cur.pitch, prev.pitch, c);
    in.yaw = interpolateLinear(cur.yaw, prev.yaw, c);
    in.time = g;

    filterslot_st& out = outputRing[readIndex];
    out.filtered = filter.sample(filterInput);
    if (out.time != 0) {
        char text[1400];  // four "%f" of the largest doubles fit
        int n;
        if (out.nanFlag != 0) {
            n = snprintf(text, sizeof text, "%lld,nan,%f,%f,%f", static_cast<long long>(out.time), out.roll, out.pitch,
                         out.yaw);
            out.nanFlag = 0;
        } else {
            n = snprintf(text, sizeof text, "%lld,%f,%f,%f,%f", static_cast<long long>(out.time), out.filtered,
                         out.roll, out.pitch, out.yaw);
        }
        size_t length = n < 0 ? 0 : static_cast<size_t>(n) < sizeof text ? static_cast<size_t>(n) : sizeof text - 1;
        sink.publish(text, length);
        if (!quiet)
            printf("%s\n", text);
    }
    writeIndex = (writeIndex + 1) % outputRing.size();
    readIndex = (readIndex + 1) % outputRing.size();
}
