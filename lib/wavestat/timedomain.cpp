#include "timedomain.h"

#include <algorithm>
#include <iterator>
#include <cmath>
#include <new>
#include <utility>

#include "numeric.h"
#include "samples.h"
#include "sensor.h"

namespace {

// Waves counted at most: the last entry only holds a wave in progress.
constexpr int MAX_COUNTED = TimeDomainAnalysis::WAVE_CAPACITY - 1;
// Half-waves this short on both sides of a crossing are not a wave boundary.
constexpr float SHORT_PHASE = 1.0f;

} // namespace

TimeDomainAnalysis::TimeDomainAnalysis(const WaveSensor* sensor)
    : sensor(sensor), n(6 * sensor->GetSCnt()), heights(new (std::nothrow) float[WAVE_CAPACITY]),
      periods(new (std::nothrow) float[WAVE_CAPACITY])
{
    if (!heights || !periods)
        error = 1;
    Clear();
}

void TimeDomainAnalysis::Clear()
{
    negative = positive = MISSING_VALUE;
    trough = crest = 0.0f;
    const float rate = sensor->GetSampleRate();
    dt = rate == 0.0f ? 1.0f : 1.0f / rate;
    waveCount = 0;
    lastWave = -1;
    lastWaveCounted = false;
    if (heights && periods) {
        std::fill_n(heights.get(), WAVE_CAPACITY, MISSING_VALUE);
        std::fill_n(periods.get(), WAVE_CAPACITY, MISSING_VALUE);
    }
    std::fill(std::begin(parameters), std::end(parameters), MISSING_VALUE);
}

float TimeDomainAnalysis::GetParameter(int code) const
{
    if (code < FIRST_PARAMETER || code > LAST_PARAMETER)
        return MISSING_VALUE;
    return parameters[code - FIRST_PARAMETER];
}

void TimeDomainAnalysis::Process(SampleAnalysis* samples)
{
    if (error)
        return;
    const float* x = samples->GetD(0);

    float sumSquares = 0.0f;
    float highest = 0.0f;
    int present = 0;
    for (int i = 0; i < n; ++i) {
        if (!IsPresent(x[i]))
            continue;
        sumSquares += x[i] * x[i];
        highest = present == 0 ? x[i] : std::max(highest, x[i]);
        ++present;
    }
    if (present > 0) {
        Set(2020, sumSquares / static_cast<float>(present));
        Set(2021, 4.0f * fsqrt(GetParameter(2020)));
        Set(2016, highest);
    }

    Classify(x);
    Set(2010, static_cast<float>(waveCount));
    Statistics();
}

void TimeDomainAnalysis::Classify(const float* x)
{
    float p = MISSING_VALUE;
    for (int i = 0; i < n; ++i) {
        const float v = x[i];
        if (!IsPresent(v)) {
            // A gap breaks the wave train.
            negative = positive = MISSING_VALUE;
            lastWave = -1;
        } else if (IsPresent(p)) {
            if (v < 0.0f && p < 0.0f) {
                if (negative != MISSING_VALUE) {
                    negative += dt;
                    trough = std::min(trough, v);
                }
            } else if (v >= 0.0f && p >= 0.0f) {
                if (positive != MISSING_VALUE) {
                    positive += dt;
                    crest = std::max(crest, v);
                }
            } else {
                // Time from the interpolated crossing to this sample.
                const float c = dt * v / (v - p);
                if (v < 0.0f)
                    DownCrossing(v, c);
                else
                    UpCrossing(v, c);
            }
        }
        p = v;
    }
}

void TimeDomainAnalysis::DownCrossing(float v, float c)
{
    if (positive != MISSING_VALUE) {
        positive -= c;
        if (negative != MISSING_VALUE) {
            if (positive < SHORT_PHASE && negative < SHORT_PHASE) {
                // Two short halves are no wave: they join their neighbours.
                c += positive;
                if (lastWave >= 0) {
                    periods[lastWave] += negative;
                    lastWave = -1;
                }
                positive = MISSING_VALUE;
                crest = 0.0f;
            } else {
                StoreWave();
            }
        }
    }
    negative = dt + c;
    trough = v;
}

void TimeDomainAnalysis::StoreWave()
{
    heights[waveCount] = crest - trough;
    periods[waveCount] = positive + negative;
    lastWave = waveCount;
    lastWaveCounted = waveCount < MAX_COUNTED;
    if (lastWaveCounted)
        ++waveCount;
}

void TimeDomainAnalysis::UpCrossing(float v, float c)
{
    if (negative != MISSING_VALUE) {
        negative -= c;
        if (positive != MISSING_VALUE && positive < SHORT_PHASE && negative < SHORT_PHASE) {
            // A short dip is no wave boundary: the last wave is taken back
            // and continues.
            c += negative;
            if (lastWave >= 0) {
                if (lastWaveCounted)
                    --waveCount;
                trough = crest - heights[lastWave];
                negative = periods[lastWave];
                lastWave = -1;
            }
        }
    }
    positive = dt + c;
    crest = v;
}

void TimeDomainAnalysis::Statistics()
{
    const int count = waveCount;
    float* h = heights.get();
    float* t = periods.get();
    if (count > 0) {
        float covered = 0.0f;
        for (int i = 0; i < count; ++i)
            covered += t[i];
        Set(2017, covered * 100.0f / 1200.0f);
    }
    // Less than 200 s of the record in complete waves.
    if (GetParameter(2017) < 100.0 / 6.0)
        return;

    float highest = 0.0f, longest = 0.0f;
    for (int i = 0; i < count; ++i) {
        if (h[i] > highest) {
            highest = h[i];
            Set(2015, t[i]);
        }
        longest = std::max(longest, t[i]);
    }
    Set(2013, highest);
    Set(2014, longest);

    Set(2002, static_cast<float>(count));
    if (count == 0)
        return;
    Set(2008, FloatArrayMean(h, count));
    Set(2009, FloatArrayMean(t, count));
    Set(2011, FloatArraySigma(h, count, GetParameter(2008)));
    Set(2012, FloatArraySigma(t, count, GetParameter(2009)));
    if (count < 2)
        return;

    RevQuickSort(0, count - 1, h, t);
    float energy = 0.0f, duration = 0.0f;
    for (int i = 0; i < count; ++i) {
        energy += h[i] * h[i] * t[i];
        duration += t[i];
    }
    Set(2018, energy / duration);
    Set(2019, static_cast<float>(M_SQRT2) * fsqrt(GetParameter(2018)));

    const float third = static_cast<float>(count) / 3.0f;
    Set(2004, PartialMean(t, third));
    Set(2003, PartialMean(h, third));
    Set(2005, PartialMean(h, static_cast<float>(count) / 10.0f));
    Set(2006, PartialMean(h, static_cast<float>(count) / 50.0f));

    RevQuickSort(0, count - 1, t, h);
    Set(2007, PartialMean(t, third));
}

void RevQuickSort(int start, int end, float* keys, float* companions)
{
    int i = start;
    int j = end;
    const float pivot = keys[(start + end) / 2];
    while (i <= j) {
        while (keys[i] > pivot)
            ++i;
        while (keys[j] < pivot)
            --j;
        if (i <= j) {
            std::swap(keys[i], keys[j]);
            std::swap(companions[i], companions[j]);
            ++i;
            --j;
        }
    }
    if (start < j)
        RevQuickSort(start, j, keys, companions);
    if (i < end)
        RevQuickSort(i, end, keys, companions);
}

float PartialMean(const float* values, float x)
{
    if (x < 0.5f)
        return MISSING_VALUE;
    if (x <= 1.0f)
        return values[0];
    const int whole = static_cast<int>(x);
    float sum = 0.0f;
    for (int i = 0; i < whole; ++i)
        sum += values[i];
    const float part = x - static_cast<float>(whole);
    if (part > 0.0f)
        sum += part * values[whole];
    return sum / x;
}
