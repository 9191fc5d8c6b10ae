// Band integrals of a variance density spectrum, shared by the heave and the
// directional analyses.  Bin i of a spectrum lies at i x b mHz; a band lo ..
// hi (mHz) runs over bins lo/b .. hi/b, the two end bins at half weight.
// Missing values are not skipped: callers pass bands whose bins are present.
#pragma once

class WaveSensor;

class SpectralAnalysis {
public:
    explicit SpectralAnalysis(const WaveSensor* sensor);

    // m0 (signal unit^2).
    float BandEnergy(const float* s, int lo, int hi, int b) const;
    // m1 (unit^2 Hz).
    float FirstMoment(const float* s, int lo, int hi, int b) const;
    // m2 (unit^2 Hz^2).
    float SecondMoment(const float* s, int lo, int hi, int b) const;
    // m-1 (unit^2 / Hz); bin width and frequency cancel.
    float MinusFirstMoment(const float* s, int lo, int hi, int b) const;
    // Tm-1,0 = m-1 / m0 (s); missing when m0 is 0.
    float MinusFirstMomentPeriod(const float* s, int lo, int hi, int b) const;
    // Tm02 = sqrt(m0 / m2) (s); missing when m2 is 0.
    float AveragePeriod(const float* s, int lo, int hi, int b) const;
    // Frequency (Hz) of the largest present value above 0, the lowest
    // frequency winning ties; missing when no bin qualifies.
    float PeakFrequency(const float* s, int lo, int hi, int b) const;
    // The bin PeakFrequency reports, or -1 when no bin qualifies.
    int PeakBin(const float* s, int lo, int hi, int b) const;
    // Band integral of coef x S (unit^2); bins whose coefficient is missing
    // contribute nothing.
    float FourCoefEnergy(const float* coef, const float* s, int lo, int hi, int b) const;
    // Band integral of S^2 (unit^4 / Hz^2 x Hz^2).
    float SquareEnergy(const float* s, int lo, int hi, int b) const;

    const WaveSensor* GetSensor() const { return sensor; }

protected:
    const WaveSensor* sensor;
    int sCnt; // N: a 5 mHz spectrum has N/2 bins, a 10 mHz series N/4
};
