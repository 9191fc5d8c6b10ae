#include "waveanalysis.h"

#include <climits>
#include <new>

#include "diranalysis.h"
#include "heaveanalysis.h"
#include "numeric.h"
#include "samples.h"
#include "sensor.h"
#include "timedomain.h"

WaveAnalysis::WaveAnalysis(WaveSensor* s, float theta0, float taper)
    : sensor(s), theta0(theta0), taper(taper), fftLength(s->GetSCnt()),
      interval(static_cast<int>(1000000.0f / s->GetSampleRate())),
      slotsPerBlock(static_cast<int>(600000000.0f / static_cast<float>(interval)))
{
    for (int i = 0; i < SIGNALS; ++i) {
        lastValues[i] = MISSING_VALUE;
        lastFlags[i] = 0;
    }
    InitFFTTable(fftLength);
    if (!fftTable)
        return;
    error = 0;
    if (sensor->HasTide()) {
        tidePair.reset(new (std::nothrow) SamplesPair(sensor.get()));
        if (!tidePair || tidePair->GetError())
            error = 1;
    }
}

WaveAnalysis::~WaveAnalysis() = default;

void WaveAnalysis::InitFFTTable(int n)
{
    fftTable.reset(new (std::nothrow) Complex[n]);
    if (fftTable)
        FillFFTTable(fftTable.get(), n);
}

void WaveAnalysis::SetProcesses(SampleAnalysis* s, SpectralHeaveAnalysis* h, SpectralDirAnalysis* d,
                                TimeDomainAnalysis* w)
{
    samples = s;
    heave = h;
    dir = d;
    waves = w;
}

int WaveAnalysis::PutSample(long date, long milliseconds, const float values[3], const int32_t flags[3])
{
    DATESTAMP stamp;
    if (date != 0) {
        if (date < INT_MIN || date > INT_MAX || milliseconds < INT_MIN || milliseconds > INT_MAX)
            return 0;
        // Normalised through the calendar before any slot is computed: a
        // negative time lies in the day before, not before the arrays.
        long seconds = milliseconds / 1000;
        long millis = milliseconds % 1000;
        if (millis < 0) {
            millis += 1000;
            --seconds;
        }
        stamp.Set(static_cast<int32_t>(date), 0, static_cast<int32_t>(millis * 1000));
        if (!stamp.ValidDate())
            return 0;
        stamp.AddSeconds(static_cast<int32_t>(seconds));
    }
    float all[SIGNALS];
    int32_t allFlags[SIGNALS];
    for (int i = 0; i < SIGNALS; ++i) {
        all[i] = i < 3 ? values[i] : 0.0f;
        allFlags[i] = i < 3 ? flags[i] : SAMPLE_RECEIVED;
    }
    return AddSample(stamp, all, allFlags);
}

int WaveAnalysis::RoundIndex(DATESTAMP* stamp) const
{
    const int t = (stamp->GetTime() % PROCESSPERIOD) * 1000000 + stamp->GetMicroSeconds();
    const int slot = static_cast<int>(static_cast<float>(t) / static_cast<float>(interval) + 0.5f);
    stamp->AddMicroSeconds(static_cast<int>(static_cast<float>(slot) * static_cast<float>(interval)) - t);
    // The stamp is normalised, so the slot is never negative; kept as a guard.
    return (slot % slotsPerBlock + slotsPerBlock) % slotsPerBlock;
}

int WaveAnalysis::CalcSampleIndex(const DATESTAMP& stamp, DATESTAMP* rounded, int* diff) const
{
    rounded->Set(stamp);
    const int slot = RoundIndex(rounded);
    if (slotIndex == -1)
        *diff = 0;
    else
        *diff = (rounded->GetFloor(PROCESSPERIOD) - sampleStamp.GetFloor(PROCESSPERIOD) + PROCESSPERIODSPERDAY) %
                PROCESSPERIODSPERDAY;
    return slot;
}

DATESTAMP WaveAnalysis::BlockStart(const DATESTAMP& s)
{
    return DATESTAMP(s.GetDate(), s.GetFloor(PROCESSPERIOD) * PROCESSPERIOD, 0);
}

void WaveAnalysis::Settle()
{
    if (difference == 0 || !samples)
        return;
    if (difference == 1) {
        samples->Shift();
    } else {
        if (difference == 2) {
            samples->Shift();
            samples->Shift();
        } else {
            samples->Clear();
        }
        // The sample that skipped ahead opens the new current block.
        if (slotIndex >= 0)
            samples->SetCurrentSample(slotIndex, lastValues, lastFlags);
    }
    difference = 0;
}

int WaveAnalysis::AddSample(const DATESTAMP& stamp, const float* values, const int32_t* flags)
{
    Settle();
    int out = 0;
    if (stamp.GetDate() == 0) {
        out = 1;
    } else if (lastExact.Before(stamp) && samples) {
        for (int i = 0; i < SIGNALS; ++i) {
            lastValues[i] = values[i];
            lastFlags[i] = flags[i];
        }
        const bool first = slotIndex == -1;
        const int slot = CalcSampleIndex(stamp, &lastRounded, &difference);
        if (first)
            sampleStamp = lastRounded;
        slotIndex = slot;
        if (difference == 0) {
            samples->SetCurrentSample(slot, values, flags);
        } else if (difference == 1) {
            samples->SetNextSample(slot, values, flags, &out);
            if (!out)
                difference = 0;
        } else {
            out = 1;
        }
        lastExact = stamp;
    }
    if (out) {
        Clear();
        Process();
        writeStamp = BlockStart(sampleStamp);
        sampleStamp = lastRounded;
    }
    return out;
}

int WaveAnalysis::Force(long date, long seconds)
{
    if (slotIndex < 0)
        return 0;
    if (difference != 0) {
        const int settled = difference;
        Settle();
        if (settled >= 2) {
            sampleStamp = lastRounded;
            writeStamp = BlockStart(sampleStamp);
        }
    }
    if (date < INT_MIN || date > INT_MAX || seconds < INT_MIN || seconds > INT_MAX)
        return 0;
    DATESTAMP at(static_cast<int32_t>(date), 0, 0);
    if (!at.ValidDate())
        return 0;
    at.AddSeconds(static_cast<int32_t>(seconds));

    DATESTAMP end = BlockStart(sampleStamp);
    end.AddSeconds(PROCESSPERIOD);
    if (at.Before(end))
        return 0;
    int diff = 0;
    CalcSampleIndex(at, &end, &diff);
    if (diff == 0)
        return 0;

    Clear();
    Process();
    writeStamp = BlockStart(sampleStamp);
    const DATESTAMP atBlock = BlockStart(at);
    if (diff != 1 || !atBlock.Before(lastExact)) {
        sampleStamp = atBlock;
        lastExact = atBlock;
    }
    slotIndex = -2;
    difference = diff;
    return 1;
}

void WaveAnalysis::Clear()
{
    if (heave)
        heave->Clear();
    if (dir)
        dir->Clear();
    if (waves)
        waves->Clear();
}

void WaveAnalysis::Process()
{
    if (!samples || !heave || !waves || error)
        return;
    samples->Copy();
    if (sensor->HasTide())
        sensor->RemoveTide(samples->GetD(0), tidePair->GetD());
    samples->PreProcess();
    heave->Process(samples, fftTable.get(), taper);
    if (sensor->IsDirectional() && dir)
        dir->Process(samples, fftTable.get(), theta0, taper);
    waves->Process(samples);
}

bool WaveAnalysis::SamePeriod(const DATESTAMP& a, const DATESTAMP& b)
{
    return a.GetFloor(PROCESSPERIOD) == b.GetFloor(PROCESSPERIOD);
}

std::unique_ptr<float[]> WaveAnalysis::SubstractArrays(const float* a, const float* b, int n)
{
    std::unique_ptr<float[]> d(new (std::nothrow) float[n > 0 ? n : 1]);
    if (!d)
        return d;
    for (int i = 0; i < n; ++i)
        d[i] = a[i] == MISSING_VALUE || b[i] == MISSING_VALUE ? MISSING_VALUE : a[i] - b[i];
    return d;
}
