// Time-domain wave analysis: the cleaned 1200-second heave series split into
// waves at zero down-crossings, and the classical statistics of their heights
// and periods (codes 2000 to 2021).
#pragma once

#include <memory>

class SampleAnalysis;
class WaveSensor;

class TimeDomainAnalysis {
public:
    static constexpr int WAVE_CAPACITY = 600;
    static constexpr int FIRST_PARAMETER = 2002;
    static constexpr int LAST_PARAMETER = 2021;

    explicit TimeDomainAnalysis(const WaveSensor* sensor);
    virtual ~TimeDomainAnalysis() = default;

    // Analyses the working values of signal 0 after cleaning and mean removal.
    void Process(SampleAnalysis* samples);
    int GetError() const { return error; }
    // Tracker reset, every wave and parameter to the missing marker.
    void Clear();

    // Codes 2000 and 2001: 600 entries each.
    const float* GetHeights() const { return heights.get(); }
    const float* GetPeriods() const { return periods.get(); }
    int GetWaveCount() const { return waveCount; }
    // Codes 2002 to 2021; the missing marker for another code.
    float GetParameter(int code) const;

private:
    void Classify(const float* x);
    void DownCrossing(float v, float c);
    void UpCrossing(float v, float c);
    void StoreWave();
    void Statistics();
    void Set(int code, float value) { parameters[code - FIRST_PARAMETER] = value; }

    const WaveSensor* sensor;
    int n;
    float dt = 1.0f;
    // Durations (s) of the running negative and positive phase; missing while
    // none runs.
    float negative = 0.0f;
    float positive = 0.0f;
    float trough = 0.0f;
    float crest = 0.0f;
    int lastWave = -1;
    // Whether the last stored wave entered the count: at the cap it sits in
    // the uncounted last entry, and taking it back must not drop a counted one.
    bool lastWaveCounted = false;
    int waveCount = 0;

protected:
    std::unique_ptr<float[]> heights;
    std::unique_ptr<float[]> periods;

private:
    float parameters[LAST_PARAMETER - FIRST_PARAMETER + 1];
    int error = 0;
};

// Sorts keys[start .. end] in descending order, moving companions[] along.
void RevQuickSort(int start, int end, float* keys, float* companions);

// Mean of the first x (fractional) entries of a descending list; the missing
// marker when x < 0.5.
float PartialMean(const float* values, float x);
