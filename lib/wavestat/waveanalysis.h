// The record scheduler: places each time-stamped sample in a slot of the
// sample grid within the 10-minute blocks of the day, rotates the blocks as
// the clock moves on, and runs the analyses over the 20-minute working record
// (the previous and the current block) when a sample shows the current block
// complete, when the clock skips a whole block, or when forced.
#pragma once

#include <cstdint>
#include <memory>

#include "datestamp.h"
#include "spectrum.h"

class SampleAnalysis;
class SamplesPair;
class SpectralHeaveAnalysis;
class SpectralDirAnalysis;
class TimeDomainAnalysis;
class WaveSensor;

// Seconds in one analysed record and in one block; blocks per day.
constexpr int SAMPLEPERIOD = 1200;
constexpr int PROCESSPERIOD = 600;
constexpr int PROCESSPERIODSPERDAY = 144;

class WaveAnalysis {
public:
    static constexpr int SIGNALS = 7;

    // Takes ownership of the sensor model.
    WaveAnalysis(WaveSensor* sensor, float theta0, float taper);
    virtual ~WaveAnalysis();
    WaveAnalysis(const WaveAnalysis&) = delete;
    WaveAnalysis& operator=(const WaveAnalysis&) = delete;

    // The analyses a run uses; not owned.  The directional one may be null.
    void SetProcesses(SampleAnalysis* samples, SpectralHeaveAnalysis* heave, SpectralDirAnalysis* dir,
                      TimeDomainAnalysis* waves);

    // One sample of the three signals at a time of day in milliseconds
    // (stepping into the neighbouring days when outside 0 .. 86,399,999); date
    // 0 forces a run.  A sample not later than the last one is dropped, and so
    // is one with an impossible date or a time beyond the 32-bit range.
    // Returns 1 when an analysis ran.
    int PutSample(long date, long milliseconds, const float values[3], const int32_t flags[3]);
    // Runs the analysis of the block in hand once (date, seconds) lies past
    // its end; returns 1 when it ran.
    int Force(long date, long seconds);
    // One analysis run over the record in hand.
    virtual void Process();
    // Clears the heave, directional and time-domain analyses.
    void Clear();

    // 0 when the FFT table and the tide buffer exist.
    int GetError() const { return error; }
    const DATESTAMP& GetWriteStamp() const { return writeStamp; }
    const DATESTAMP& GetSampleStamp() const { return sampleStamp; }
    const WaveSensor* GetSensor() const { return sensor.get(); }
    const Complex* GetFFTTable() const { return fftTable.get(); }
    int GetInterval() const { return interval; }
    float GetTheta0() const { return theta0; }

    void SetTheta0(float v) { theta0 = v; }
    void SetBasisSignal(int v) { basisSignal = v; }
    void SetDelayTime1(float v) { delayTime1 = v; }
    void SetDelayTime2(float v) { delayTime2 = v; }
    void SetXposSensor1(float v) { xposSensor[0] = v; }
    void SetXposSensor2(float v) { xposSensor[1] = v; }
    void SetXposSensor3(float v) { xposSensor[2] = v; }
    void SetYposSensor1(float v) { yposSensor[0] = v; }
    void SetYposSensor2(float v) { yposSensor[1] = v; }
    void SetYposSensor3(float v) { yposSensor[2] = v; }
    void SetOrientation(float v) { orientation = v; }

    // Whether two stamps lie in the same 600 s block of the day.
    static bool SamePeriod(const DATESTAMP& a, const DATESTAMP& b);
    // Element-wise a - b, missing where either is missing.
    static std::unique_ptr<float[]> SubstractArrays(const float* a, const float* b, int n);

protected:
    SampleAnalysis* samples = nullptr;
    SpectralHeaveAnalysis* heave = nullptr;
    SpectralDirAnalysis* dir = nullptr;
    TimeDomainAnalysis* waves = nullptr;

private:
    int AddSample(const DATESTAMP& stamp, const float* values, const int32_t* flags);
    int CalcSampleIndex(const DATESTAMP& stamp, DATESTAMP* rounded, int* difference) const;
    int RoundIndex(DATESTAMP* stamp) const;
    // Applies the block difference a previous sample or force left behind.
    void Settle();
    void InitFFTTable(int n);
    static DATESTAMP BlockStart(const DATESTAMP& s);

    // Kept for the caller, read by no analysis.
    int basisSignal = 0;
    float delayTime1 = 0.0f, delayTime2 = 0.0f;
    float xposSensor[3] = {}, yposSensor[3] = {};
    float orientation = 0.0f;

    std::unique_ptr<WaveSensor> sensor;
    std::unique_ptr<SamplesPair> tidePair; // working buffer for the tide estimate
    float theta0;
    float taper;
    int error = 1;
    std::unique_ptr<Complex[]> fftTable;
    int fftLength;
    int interval; // microseconds per slot
    int slotsPerBlock;

    DATESTAMP sampleStamp;  // its block is the current block
    DATESTAMP writeStamp;   // the time result records carry
    int slotIndex = -1;     // -1 before the first sample, -2 after a forced run
    int difference = 0;     // block difference still to settle
    DATESTAMP lastRounded;  // the last sample, moved onto its slot
    DATESTAMP lastExact;    // the last sample as it came
    float lastValues[SIGNALS];
    int32_t lastFlags[SIGNALS];
};
