#include "minutemeans.h"

#include <algorithm>
#include <cfloat>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

const MeanWindow meanWindows[3] = {
    {"vdup_1", 60000, 30000, 450},
    {"vdup_10", 600000, 300000, 4500},
    {"vdup_5", 300000, 150000, 2250},
};

namespace {

// Times beyond this are taken as this, so no window arithmetic overflows.
constexpr int64_t timeLimit = int64_t(1) << 62;

// A piece of a line as a NUL-terminated text for the C conversions; false when
// it does not fit (no number we read is that long).
bool copyPiece(std::string_view piece, char* buffer, size_t size)
{
    if (piece.size() >= size)
        return false;
    memcpy(buffer, piece.data(), piece.size());
    buffer[piece.size()] = '\0';
    return true;
}

} // namespace

bool MinuteMeans::take(const char* frame, size_t length, LineReading* seen, MinutePublication* out)
{
    LineReading r;
    r.line = std::string_view(frame, length > 0 ? strnlen(frame, length) : 0);
    const std::string_view line = r.line;

    // The time is the text after "time=" up to the first ';' (strtoll: a text
    // that is no number gives 0). A line too short to hold "time=" keeps the time.
    size_t semicolon = line.find(';');
    if (semicolon != std::string_view::npos && semicolon >= 5) {
        r.timeText = line.substr(5, semicolon - 5);
        r.hasTime = true;
        char buffer[64];
        long long t = 0;
        if (copyPiece(r.timeText, buffer, sizeof buffer))
            t = strtoll(buffer, nullptr, 10);
        else
            t = strtoll(std::string(r.timeText).c_str(), nullptr, 10);
        now = std::clamp<int64_t>(t, -timeLimit, timeLimit);
    }

    // The value is the last of at most four comma-separated pieces cut from the
    // front: the fourth value of the line, VDoppler. Only a finite number that
    // is the whole piece becomes a sample; "nan", empty or damaged pieces add nothing.
    if (line.find("NaN") == std::string_view::npos) {
        std::string_view rest = line;
        for (int cuts = 0; cuts < 4; cuts++) {
            size_t comma = rest.find(',');
            if (comma == std::string_view::npos)
                break;
            r.valueText = rest.substr(0, comma);
            r.valueCut = true;
            rest.remove_prefix(comma + 1);
        }
        char buffer[128];
        if (r.valueCut && copyPiece(r.valueText, buffer, sizeof buffer)) {
            char* end = nullptr;
            double v = strtod(buffer, &end);
            if (end != buffer && *end == '\0' && std::isfinite(v) && std::fabs(v) <= FLT_MAX)
                queue.push_back({now, static_cast<float>(v)});
        }
    }
    if (seen != nullptr)
        *seen = r;

    int64_t minute = now / 60000;
    if (minute == previousMinute)
        return false;
    previousMinute = minute;
    publish(minute * 60000, out);
    return true;
}

void MinuteMeans::publish(int64_t boundary, MinutePublication* out)
{
    *out = MinutePublication();
    out->boundary = boundary;
    // A window holds the samples of [M - width, M): the line that opened the new
    // minute belongs to the next one.
    float sum[3] = {0, 0, 0};
    double wide[3] = {0, 0, 0};
    for (const VelocitySample& s : queue) {
        if (s.time >= boundary)
            continue;
        for (int w = 0; w < 3; w++) {
            if (s.time >= boundary - meanWindows[w].width) {
                sum[w] += s.value;
                wide[w] += s.value;
                out->count[w]++;
            }
        }
    }
    for (int w = 0; w < 3; w++) {
        const bool overflowed = !std::isfinite(sum[w]);
        out->sum[w] = overflowed ? wide[w] : sum[w];
        char mean[64] = "NaN";
        if (out->count[w] > meanWindows[w].threshold) {
            float m = overflowed ? static_cast<float>(wide[w] / out->count[w]) : sum[w] / static_cast<float>(out->count[w]);
            snprintf(mean, sizeof mean, "%g", static_cast<double>(m));
        }
        char line[160];
        snprintf(line, sizeof line, "time=%" PRId64 ";sensor=sensor0;%s=%s;", boundary - meanWindows[w].middle,
                 meanWindows[w].key, mean);
        out->lines[w] = line;
    }
    const int64_t oldest = boundary - retention;
    queue.erase(std::remove_if(queue.begin(), queue.end(), [oldest](const VelocitySample& s) { return s.time < oldest; }),
                queue.end());
}
