#include "samples.h"

#include <algorithm>
#include <new>

#include "numeric.h"
#include "sensor.h"

Samples::Samples(int sampleCount)
    : count(sampleCount), values(new (std::nothrow) float[sampleCount]),
      flags(new (std::nothrow) int32_t[sampleCount])
{
    if (!values || !flags) {
        values.reset();
        flags.reset();
        error = 1;
        return;
    }
    Clear();
}

void Samples::SetSample(int index, float value, int32_t f)
{
    values[index] = value;
    flags[index] = f;
}

float Samples::GetSample(int index, int32_t* f) const
{
    *f = flags[index];
    return values[index];
}

void Samples::Clear()
{
    if (error)
        return;
    std::fill_n(values.get(), count, MISSING_VALUE);
    std::fill_n(flags.get(), count, 0);
}

SamplesPair::SamplesPair(const WaveSensor* sensor) : sensor(sensor), workCount(6 * sensor->GetSCnt())
{
    for (auto& b : blocks) {
        b.reset(new (std::nothrow) Samples(3 * sensor->GetSCnt()));
        if (!b || b->GetError()) {
            error = 1;
            return;
        }
    }
    previous = blocks[0].get();
    current = blocks[1].get();
    next = blocks[2].get();
    workD.reset(new (std::nothrow) float[workCount]);
    workQ.reset(new (std::nothrow) int32_t[workCount]);
    if (!workD || !workQ) {
        error = 1;
        return;
    }
    std::fill_n(workD.get(), workCount, MISSING_VALUE);
    std::fill_n(workQ.get(), workCount, 0);
    Clear();
}

void SamplesPair::Clear()
{
    errorCount = delta4Errors = sigma4Errors = sigma0Errors = repairCount = 0;
    for (auto& b : blocks)
        if (b)
            b->Clear();
}

void SamplesPair::ClearPrevious()
{
    if (previous)
        previous->Clear();
}

void SamplesPair::Shift()
{
    if (!previous)
        return;
    previous->Clear();
    Samples* emptied = previous;
    previous = current;
    current = next;
    next = emptied;
}

void SamplesPair::Copy()
{
    if (!workD || !previous)
        return;
    const int half = previous->GetSampleCount();
    std::copy_n(previous->GetD(), half, workD.get());
    std::copy_n(previous->GetQ(), half, workQ.get());
    std::copy_n(current->GetD(), half, workD.get() + half);
    std::copy_n(current->GetQ(), half, workQ.get() + half);
}

float SamplesPair::PreProcess()
{
    errorCount = 0;
    if (workD)
        errorCount = static_cast<int>(std::count_if(workD.get(), workD.get() + workCount,
                                                    [](float v) { return !IsPresent(v); }));
    sigma0Errors = RemoveSigma0Errors(10.0f);
    sigma4Errors = RemoveSigma4Errors();
    delta4Errors = RemoveDelta4Errors();
    repairCount = Repair(2.0f);
    return SubtractMean();
}

int SamplesPair::RemoveSigma0Errors(float seconds)
{
    if (!workD)
        return 0;
    float* x = workD.get();
    int32_t* q = workQ.get();
    const int n = workCount;
    const int h = static_cast<int>(sensor->GetSampleRate() * seconds / 2.0f + 0.5f);
    auto remove = [&](int k) {
        x[k] = MISSING_VALUE;
        q[k] |= SAMPLE_FLAT_RUN;
    };
    int removed = 0;
    for (int i = 0; i < n; ++i) {
        const float v = x[i];
        if (!IsPresent(v))
            continue;
        const int hi = std::min(n - 1, i + h);
        bool varies = false;
        for (int j = std::max(0, i - h); j <= hi && !varies; ++j)
            varies = j != i && IsPresent(x[j]) && x[j] != v;
        if (varies)
            continue;
        // The whole run goes, however far it reaches beyond the window.
        for (int k = i - 1; k >= 0 && x[k] == v; --k, ++removed)
            remove(k);
        for (int k = i + 1; k < n && x[k] == v; ++k, ++removed)
            remove(k);
        remove(i);
        ++removed;
    }
    return removed;
}

int SamplesPair::RemoveSigma4Errors()
{
    if (!workD)
        return 0;
    float* x = workD.get();
    float sum = 0.0f;
    int count = 0;
    for (int i = 0; i < workCount; ++i) {
        if (IsPresent(x[i])) {
            sum += x[i] * x[i];
            ++count;
        }
    }
    if (count == 0)
        return 0;
    // Four times the root mean square about zero, not about the mean.
    const float s = 4.0f * fsqrt(sum / static_cast<float>(count));
    int removed = 0;
    for (int i = 0; i < workCount; ++i) {
        if (IsPresent(x[i]) && (x[i] < -s || x[i] > s)) {
            x[i] = MISSING_VALUE;
            workQ[i] |= SAMPLE_OUTLIER;
            ++removed;
        }
    }
    return removed;
}

int SamplesPair::RemoveDelta4Errors()
{
    if (!workD)
        return 0;
    float* x = workD.get();
    float sum = 0.0f;
    int count = 0;
    for (int j = 1; j < workCount; ++j) {
        if (IsPresent(x[j]) && IsPresent(x[j - 1])) {
            const float d = x[j] - x[j - 1];
            sum += d * d;
            ++count;
        }
    }
    if (count == 0)
        return 0;
    // The threshold stays as it was before the first removal.
    const float s = 4.0f * fsqrt(sum / static_cast<float>(count));
    int removed = 0;
    for (int i = 1; i < workCount; ++i) {
        if (!IsPresent(x[i]) || !IsPresent(x[i - 1]))
            continue;
        const float d = x[i] - x[i - 1];
        if (d < -s || d > s) {
            x[i - 1] = MISSING_VALUE;
            workQ[i - 1] |= SAMPLE_JUMP;
            ++removed;
        }
    }
    return removed;
}

int SamplesPair::Repair(float seconds)
{
    if (!workD)
        return 0;
    float* x = workD.get();
    int32_t* q = workQ.get();
    const int n = workCount;
    const float rate = sensor->GetSampleRate();
    int repaired = 0;
    auto mark = [&](int from, int to) {
        for (int k = from; k < to; ++k)
            q[k] |= SAMPLE_REPAIRED;
        repaired += to - from;
    };
    int g = 0;
    for (int i = 0; i < n; ++i) {
        if (!IsPresent(x[i])) {
            ++g;
            continue;
        }
        const float length = static_cast<float>(g) / rate;
        if (g > 0 && g == i && length < seconds / 2.0f) {
            std::fill_n(x, g, x[i]);
            mark(0, g);
        } else if (g > 0 && g < i && length < seconds) {
            InterpolateGap(x, i, g);
            mark(i - g, i);
        }
        g = 0;
    }
    // An entirely missing series has no value to fill the end with.
    if (g > 0 && g < n && static_cast<float>(g) / rate < seconds / 2.0f) {
        std::fill(x + n - g, x + n, x[n - g - 1]);
        mark(n - g, n);
    }
    return repaired;
}

float SamplesPair::SubtractMean()
{
    if (!workD)
        return MISSING_VALUE;
    float* x = workD.get();
    const float mean = FloatArrayMean(x, workCount);
    if (mean == MISSING_VALUE)
        return mean;
    for (int i = 0; i < workCount; ++i)
        if (IsPresent(x[i]))
            x[i] -= mean;
    return mean;
}

SampleAnalysis::SampleAnalysis(const WaveSensor* sensor, int lastSignal) : last(lastSignal)
{
    for (int i = 0; i <= last; ++i) {
        pairs[i].reset(new (std::nothrow) SamplesPair(sensor));
        if (!pairs[i] || pairs[i]->GetError()) {
            error = 1;
            return;
        }
    }
}

void SampleAnalysis::ForEachSignal(void (SamplesPair::*op)())
{
    for (int i = 0; i <= last; ++i)
        if (pairs[i])
            (pairs[i].get()->*op)();
}

void SampleAnalysis::Clear() { ForEachSignal(&SamplesPair::Clear); }
void SampleAnalysis::ClearPrevious() { ForEachSignal(&SamplesPair::ClearPrevious); }
void SampleAnalysis::Shift() { ForEachSignal(&SamplesPair::Shift); }
void SampleAnalysis::Copy() { ForEachSignal(&SamplesPair::Copy); }

void SampleAnalysis::PreProcess()
{
    for (int i = 0; i <= last && i < 3; ++i)
        if (pairs[i])
            pairs[i]->PreProcess();
}

Samples* SampleAnalysis::BlockOf(int signal, Block b)
{
    return b == CURRENT ? pairs[signal]->GetCurrent() : pairs[signal]->GetNext();
}

void SampleAnalysis::MoveSample(Block src, int from, Block dst, int to)
{
    for (int i = 0; i <= last; ++i) {
        int32_t f;
        const float v = BlockOf(i, src)->GetSample(from, &f);
        BlockOf(i, dst)->SetSample(to, v, f | SAMPLE_MOVED);
    }
}

void SampleAnalysis::StoreSample(Block b, int slot, const float* values, const int32_t* flags, bool moved)
{
    for (int i = 0; i <= last; ++i)
        BlockOf(i, b)->SetSample(slot, values[i], moved ? flags[i] | SAMPLE_MOVED : flags[i]);
}

void SampleAnalysis::SetCurrentSample(int slot, const float* values, const int32_t* flags)
{
    if (error)
        return;
    const int32_t* q = GetCurrentQ(0);
    const int count = pairs[0]->GetCurrent()->GetSampleCount();
    if (slot < 0 || slot >= count)
        return;
    bool moved = false;
    if (q[slot] != 0) {
        int e = slot - 1;
        while (e >= 0 && q[e] != 0)
            --e;
        for (int k = e + 1; e >= 0 && k <= slot; ++k) {
            MoveSample(CURRENT, k, CURRENT, k - 1);
            moved = true;
        }
    }
    StoreSample(CURRENT, slot, values, flags, moved);
}

void SampleAnalysis::SetNextSample(int slot, const float* values, const int32_t* flags, int* blockDone)
{
    *blockDone = 0;
    if (error)
        return;
    const int32_t* nq = pairs[0]->GetNext()->GetQ();
    const int32_t* cq = GetCurrentQ(0);
    const int count = pairs[0]->GetNext()->GetSampleCount();
    if (slot < 0 || slot >= count)
        return;
    bool moved = false;
    if (nq[slot] != 0) {
        int e = slot - 1;
        while (e >= 0 && nq[e] != 0)
            --e;
        if (e < 0) {
            // The next block is full below the slot: make room by borrowing
            // the last slot of the current block.
            int c = count - 1;
            while (c >= 0 && cq[c] != 0)
                --c;
            if (c >= 0) {
                for (int k = c + 1; k < count; ++k)
                    MoveSample(CURRENT, k, CURRENT, k - 1);
                MoveSample(NEXT, 0, CURRENT, count - 1);
                e = 0;
                moved = true;
            }
        }
        for (int k = e + 1; e >= 0 && e != slot && k <= slot; ++k) {
            MoveSample(NEXT, k, NEXT, k - 1);
            moved = true;
        }
    }
    for (int k = slot - 1; k >= 0; --k) {
        if (nq[k] != 0 && !(nq[k] & SAMPLE_MOVED)) {
            *blockDone = 1;
            break;
        }
    }
    StoreSample(NEXT, slot, values, flags, moved);
}

void SampleAnalysis::GetCurrentSample(int slot, float* values, int32_t* flags)
{
    if (error || slot < 0 || slot >= pairs[0]->GetCurrent()->GetSampleCount())
        return;
    for (int i = 0; i <= last; ++i)
        values[i] = pairs[i]->GetCurrent()->GetSample(slot, &flags[i]);
}
