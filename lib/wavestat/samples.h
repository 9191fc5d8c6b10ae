// Sample blocks of one signal and the 20-minute working series built from
// them: placing each sample into its time slot, and cleaning the series
// (flat runs, outliers, jumps), repairing short gaps and removing its mean
// before every analysis.  All values are floats; MISSING_VALUE marks a gap.
#pragma once

#include <cstdint>
#include <memory>

#include "wavedefs.h"

class WaveSensor;

// One 10-minute block of one signal: 3 x sCnt slots, one per sample period.
class Samples {
public:
    explicit Samples(int sampleCount);

    void SetSample(int index, float value, int32_t flags);
    float GetSample(int index, int32_t* flags) const;
    int GetSampleCount() const { return count; }
    float* GetD() { return values.get(); }
    int32_t* GetQ() { return flags.get(); }
    int GetError() const { return error; }
    // Every value missing, every slot empty.
    void Clear();

private:
    int count;
    std::unique_ptr<float[]> values;
    std::unique_ptr<int32_t[]> flags;
    int error = 0;
};

// Everything kept of one signal: the blocks before, at and after the current
// 10 minutes, the 20-minute working series, and the counters of the last
// cleaning.
class SamplesPair {
public:
    explicit SamplesPair(const WaveSensor* sensor);
    virtual ~SamplesPair() = default;

    int GetError() const { return error; }

    // Counters to 0 and all three blocks cleared; the working series stays.
    void Clear();
    void ClearPrevious();
    // The current block becomes the previous one, the next block the current
    // one, and the next block starts empty.
    void Shift();
    // Working series: the previous block, then the current one.
    void Copy();
    // Counts, cleans and repairs the working series and removes its mean,
    // which it returns (the missing marker for an empty series).
    float PreProcess();

    // The cleaning steps, each on the working series; each returns how many
    // samples it removed or repaired (0 without working arrays).
    int RemoveSigma0Errors(float seconds);
    int RemoveSigma4Errors();
    int RemoveDelta4Errors();
    int Repair(float seconds);
    float SubtractMean();

    float* GetD() { return workD.get(); }
    int32_t* GetQ() { return workQ.get(); }
    int GetWorkCount() const { return workCount; }
    Samples* GetCurrent() { return current; }
    Samples* GetNext() { return next; }
    Samples* GetPrevious() { return previous; }

    int GetErrorCount() const { return errorCount; }
    int GetDelta4Errors() const { return delta4Errors; }
    int GetSigma4Errors() const { return sigma4Errors; }
    int GetSigma0Errors() const { return sigma0Errors; }
    int GetRepairCount() const { return repairCount; }

private:
    const WaveSensor* sensor;
    std::unique_ptr<Samples> blocks[3];
    Samples* previous = nullptr;
    Samples* current = nullptr;
    Samples* next = nullptr;
    int workCount;
    std::unique_ptr<float[]> workD;
    std::unique_ptr<int32_t[]> workQ;
    int error = 0;

    int errorCount = 0;
    int delta4Errors = 0;
    int sigma4Errors = 0;
    int sigma0Errors = 0;
    int repairCount = 0;
};

// The signals of one analysis context: signal 0 (heave or height) and, for a
// directional sensor, the two horizontal signals 1 and 2.
class SampleAnalysis {
public:
    static constexpr int MAX_SIGNALS = 7;

    // lastSignal is 0 for heave alone, 2 for heave and two horizontal signals.
    SampleAnalysis(const WaveSensor* sensor, int lastSignal);

    int GetError() const { return error; }
    int GetLastSignal() const { return last; }

    void Clear();
    void ClearPrevious();
    void Shift();
    void Copy();
    void PreProcess();

    // Stores one sample of every signal into the current block; a slot that
    // is taken moves the earlier samples down to the nearest empty slot.
    void SetCurrentSample(int slot, const float* values, const int32_t* flags);
    // Stores one sample of every signal into the next block; blockDone tells
    // whether the next block already held an unmoved sample in an earlier
    // slot, which shows the current block complete.
    void SetNextSample(int slot, const float* values, const int32_t* flags, int* blockDone);
    void GetCurrentSample(int slot, float* values, int32_t* flags);

    SamplesPair* GetSamplesPair(int i) { return pairs[i].get(); }
    float* GetD(int i) { return pairs[i]->GetD(); }
    int32_t* GetQ(int i) { return pairs[i]->GetQ(); }
    float* GetCurrentD(int i) { return pairs[i]->GetCurrent()->GetD(); }
    int32_t* GetCurrentQ(int i) { return pairs[i]->GetCurrent()->GetQ(); }

private:
    void ForEachSignal(void (SamplesPair::*op)());
    enum Block { CURRENT, NEXT };
    Samples* BlockOf(int signal, Block b);
    // Moves slot `from` of block `src` to slot `to` of block `dst` for every
    // signal, marking it moved.
    void MoveSample(Block src, int from, Block dst, int to);
    void StoreSample(Block b, int slot, const float* values, const int32_t* flags, bool moved);

    int last;
    int error = 0;
    std::unique_ptr<SamplesPair> pairs[MAX_SIGNALS];
};
