// The context behind the library's C functions: the scheduler with the
// sample, heave, directional and time-domain analyses of one sensor, and the
// reading of results by parameter code into the fixed records.
#pragma once

#include <cstdint>
#include <memory>

#include "diranalysis.h"
#include "heaveanalysis.h"
#include "samples.h"
#include "swapapi.h"
#include "timedomain.h"
#include "waveanalysis.h"

// The analyses with their results by code.  A code a getter does not hold
// prints "Non existent ..." and gives the missing marker (arrays: nothing).
class SWAPSHeaveAnalysis : public SpectralHeaveAnalysis {
public:
    using SpectralHeaveAnalysis::SpectralHeaveAnalysis;
    ~SWAPSHeaveAnalysis() override = default;
    void GetSpecArray(int code, float* values, int count) const;
    float GetSpecParm(int code) const;
    float GetQualParm(int code) const;
};

class SWAPSDirAnalysis : public SpectralDirAnalysis {
public:
    using SpectralDirAnalysis::SpectralDirAnalysis;
    ~SWAPSDirAnalysis() override = default;
    void GetSpecArray(int code, float* values, int count) const;
    float GetSpecParm(int code) const;
    void GetBandArray(int code, float* values, int count) const;
    float GetQualParm(int code) const;

private:
    void CopyBandArray(const float* bands, float* values, int count) const;
};

class SWAPTDAnalysis : public TimeDomainAnalysis {
public:
    using TimeDomainAnalysis::TimeDomainAnalysis;
    ~SWAPTDAnalysis() override = default;
    // Copies min(count, 600) heights (2000) or periods (2001); with count
    // below 600 the analysis's own list is set missing from count on.
    void GetClasArray(int code, float* values, int count);
    float GetClasParm(int code) const;
};

class SWAPWaveAnalysis : public WaveAnalysis {
public:
    // Takes ownership of the sensor model; the taper fraction is 0.1.
    SWAPWaveAnalysis(WaveSensor* sensor, float theta0);
    ~SWAPWaveAnalysis() override;

    // Creates the analyses; 0 (and nothing left) when one of them failed.
    int Init();
    void Exit();

    // One value by code; the missing marker for a code no analysis holds.
    float Get(int code);
    // count values by code, after setting all count to the missing marker.
    void Get(int code, float* values, int count);
    // count quality flags of a series (codes 0 to 5), after setting them to 0.
    void Get(int code, int32_t* flags, int count);

    // Fills a record whose layout is one of the library's (see swapcontext.cpp).
    struct Layout;
    int GetRecord(const Layout& layout, void* record);
    static const Layout HLEV0, HLEV1, HLEV2, HLEV4, HDLEV0, HDLEV1, HDLEV2, HDLEV4;
    // Where a code's values lie in a record of the layout, and how many:
    // null when the record has no such field.
    static const float* FieldOf(const Layout& layout, const void* record, int code, int* count);

    SampleAnalysis* GetSampleAnalysis() { return sampleAnalysis.get(); }
    SWAPSHeaveAnalysis* GetHeaveAnalysis() { return heaveAnalysis.get(); }
    SWAPSDirAnalysis* GetDirAnalysis() { return dirAnalysis.get(); }
    SWAPTDAnalysis* GetTDAnalysis() { return tdAnalysis.get(); }

private:
    void GetSeries(int code, float* values, int32_t* flags, int count);

    std::unique_ptr<SampleAnalysis> sampleAnalysis;
    std::unique_ptr<SWAPSHeaveAnalysis> heaveAnalysis;
    std::unique_ptr<SWAPSDirAnalysis> dirAnalysis; // directional sensors only
    std::unique_ptr<SWAPTDAnalysis> tdAnalysis;
};
