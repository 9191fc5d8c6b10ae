// A context of the library's C API fed with whole records, for the tests of
// the scheduler, the directional analysis and the records.
#pragma once

#include <cmath>
#include <vector>

#include "sensor.h"
#include "swapcontext.h"

namespace wavestat_test {

struct Context {
    SWAPWaveAnalysis* ctx = nullptr;

    explicit Context(int sensorType, float theta0 = 0.0f)
    {
        SWAPtag_PARM parm{};
        parm.size = sizeof parm;
        parm.sensorType = sensorType;
        parm.theta0 = theta0;
        ctx = SWAPOpenContext(&parm);
    }
    ~Context() { SWAPCloseContext(ctx); }
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    double rate() const { return ctx->GetSensor()->GetSampleRate(); }
    // Milliseconds of sample i from the record's start, as the data
    // processor's integer times carry it.
    long Time(int i, long startMs = 0) const { return startMs + static_cast<long>(i * 1000.0 / rate()); }

    // Feeds samples i = 0 .. n-1 from startMs on date 20080101; returns the
    // number of analysis runs the samples caused.
    int Feed(const std::vector<float>& h, const std::vector<float>& x = {}, const std::vector<float>& y = {},
             long startMs = 0)
    {
        int runs = 0;
        for (size_t i = 0; i < h.size(); ++i)
            runs += SWAPPutSample(ctx, 20080101, Time(static_cast<int>(i), startMs), h[i], x.empty() ? 0.0f : x[i],
                                  y.empty() ? 0.0f : y[i]);
        return runs;
    }
    int Force() { return SWAPPutSample(ctx, 0, 0, 0.0f, 0.0f, 0.0f); }

    float Get(int code) { return ctx->Get(code); }
    std::vector<float> Array(int code, int count)
    {
        std::vector<float> v(count);
        ctx->Get(code, v.data(), count);
        return v;
    }
    std::vector<int32_t> Flags(int code, int count)
    {
        std::vector<int32_t> v(count);
        ctx->Get(code, v.data(), count);
        return v;
    }
};

// Wave trains on a directional sensor: heave A cos(2 pi f t + phase) and the
// two surface slopes (per unit wave number) of a train travelling towards
// `toward` degrees counter-clockwise from the x axis.
struct Train {
    double amplitude, frequency, toward, phase;
};

struct DirRecord {
    std::vector<float> heave, x, y;

    DirRecord(int n, double rate, std::initializer_list<Train> trains) : heave(n), x(n), y(n)
    {
        for (int i = 0; i < n; ++i) {
            double h = 0.0, sx = 0.0, sy = 0.0;
            for (const Train& w : trains) {
                const double arg = 2.0 * M_PI * w.frequency * i / rate + w.phase;
                const double theta = w.toward * M_PI / 180.0;
                h += w.amplitude * std::cos(arg);
                sx += w.amplitude * std::cos(theta) * std::sin(arg);
                sy += w.amplitude * std::sin(theta) * std::sin(arg);
            }
            heave[i] = static_cast<float>(h);
            x[i] = static_cast<float>(sx);
            y[i] = static_cast<float>(sy);
        }
    }
};

// The nautical direction a train comes from, x east and y north: clockwise
// from north, 180 degrees from where it travels, plus theta0.
inline double ComingFrom(double toward, double theta0 = 0.0)
{
    return std::fmod(270.0 - toward + theta0 + 720.0, 360.0);
}

// Angular distance in degrees, 0 .. 180.
inline double AngleBetween(double a, double b)
{
    const double d = std::fmod(std::fabs(a - b), 360.0);
    return d > 180.0 ? 360.0 - d : d;
}

} // namespace wavestat_test
