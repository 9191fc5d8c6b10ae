// Sensor models: what kind of instrument delivered the samples (rate, tide,
// directional signals) and how its own frequency response is taken out of
// the measured spectra.  Spectrum bin k lies at k x 5 mHz.
#pragma once

class WaveSensor {
public:
    WaveSensor(int hasTide, int directional, float sampleRate);
    // The context deletes its model through this base.
    virtual ~WaveSensor() = default;

    // Corrects an auto-spectrum of the heave signal in place, bins first .. end-1.
    virtual void CorrectHeave(int first, int end, float* spectrum) const;
    // Corrects the co- and quad-spectra of a directional analysis in place,
    // given as C11, C22, C33, C12, C13, C23, Q12, Q13 (1 = heave, 2 and 3 =
    // the horizontal signals).
    virtual void CorrectCoQuad(int first, int end, float* const spectra[8]) const;
    // Undoes in the heave auto-spectrum the attenuation of the tide removal.
    virtual void CorrectTide(int first, int end, float* spectrum) const;
    // Estimates the tide of the 1200 s working series into tide[] and
    // subtracts it from values[].
    virtual void RemoveTide(float* values, float* tide) const;

    int GetSCnt() const { return sCnt; }
    float GetSampleRate() const { return sampleRate; }
    int HasTide() const { return hasTide; }
    int IsDirectional() const { return directional; }

protected:
    int hasTide;
    int directional;
    float sampleRate;
    int sCnt; // samples per 200 s
};

// Corner frequencies of the buoys' built-in high-pass filters (Hz).
constexpr double BUOY_CORNER = 1.0 / 30.8;
constexpr double WAVEC_SECOND_CORNER = 1.0 / 170.0;

// Directional buoy with a 2nd-order Butterworth high-pass (1/30.8 Hz) in series
// with a 1st-order high-pass (1/170 Hz).
class WavecSensor : public WaveSensor {
public:
    WavecSensor();
    void CorrectHeave(int first, int end, float* spectrum) const override;
    void CorrectCoQuad(int first, int end, float* const spectra[8]) const override;
};

// Directional buoy with a 3rd-order Butterworth high-pass (1/30.8 Hz).
class DRiderSensor : public WaveSensor {
public:
    DRiderSensor();
    void CorrectHeave(int first, int end, float* spectrum) const override;
    void CorrectCoQuad(int first, int end, float* const spectra[8]) const override;
};

// Heave-only buoy whose spectrum needs no correction.
class RiderSensor : public WaveSensor {
public:
    RiderSensor();
};

// Fixed height gauge: its record carries the tide, which is removed before the
// analysis with a four-fold box filter; both rates share this implementation.
class GaugeSensor : public WaveSensor {
public:
    GaugeSensor();
    void CorrectTide(int first, int end, float* spectrum) const override;
    void RemoveTide(float* values, float* tide) const override;

protected:
    explicit GaugeSensor(float sampleRate);
};

class GaugeSensor_1_28 : public GaugeSensor {
public:
    GaugeSensor_1_28();
};

// An array of gauges delivering heave and two slopes; nothing to correct.
class GaugeArraySensor : public WaveSensor {
public:
    GaugeArraySensor();
};

// The model of a sensor type 0 to 5 (Wavec, DRider, Rider, Gauge,
// Gauge 1.28 Hz, GaugeArray); null for any other type.  The caller owns it.
WaveSensor* CreateWaveSensor(int sensorType);
