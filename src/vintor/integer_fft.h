// Fixed-point radix-2 FFT on 64-bit integer samples with a Q15 sine table,
// the Q15 Hann window and the small fixed-point helpers of the FFT stage.
#pragma once

#include <cstdint>

typedef int64_t fixed;

// Number of entries of the sine table: one full period. 2048 entries let a
// 2048-point sweep be transformed; its even entries are the 1024-step table,
// so every transform of 1024 points or fewer is unchanged by the extension.
constexpr int SINEWAVE_SIZE = 2048;

class FixedFft {
public:
    // Which build of the vector kernels to use: the widest this CPU runs, or
    // the target's baseline (the same results; tests check both).
    enum class Lanes { Widest, Plain };
    explicit FixedFft(Lanes lanes = Lanes::Widest);
    // Whether this CPU runs a wider build than the baseline (AVX2, NEON).
    static bool widestLanes();

    // Selects the largest transform and the stride through the sine table.
    int setN_WAVE(int n_wave);
    // 32767 * sin(2*pi*k / N_WAVE).
    int SinewaveFn(int k) const { return static_cast<int>(Sinewave[k * sinewaveFactor]); }

    int fix_fft(fixed fr[], fixed fi[], long m, int inverse) const;
    void window(fixed fr[], int n) const;

    // window() (when `windowed`) and then fix_fft() of n 16-bit samples in
    // host byte order, n a power of two from 8 to N_WAVE, worked out in
    // 32-bit lanes; *sumSquares gets the sum of the squared samples. Returns
    // the scale. The result stays in the lanes (*inLanes true) unless some
    // value left their range, when it is in fr/fi.
    int transform16(const void* samples, int n, bool windowed, int inverse, fixed fr[], fixed fi[],
        int64_t* sumSquares, bool* inLanes) const;
    // From a result in the lanes: bins 0 ... bins-1 of the power
    // (re^2 + im^2) * 4^scale as a float divided by norm, as the float of its
    // 64-bit value gives it. False (row unfinished) when some 64-bit power
    // would not hold its value.
    bool powerRow(int bins, int scale, float norm, float* row) const;
    // A result in the lanes into fr/fi.
    void lanesOut(fixed fr[], fixed fi[], int n) const;
    static fixed fix_mpy(fixed a, fixed b)
    {
        // The product wraps modulo 2^64; the shift is arithmetic (two's complement, as GCC and Clang define it).
        return static_cast<fixed>(static_cast<uint64_t>(a) * static_cast<uint64_t>(b)) >> 15;
    }
    void remove_dc(fixed fr[]) const;
    void fix_loud(fixed loud[], fixed fr[], fixed fi[], int n, int scale_shift) const;
    int db_from_ampl(fixed re, fixed im) const;
    static int iscale(int value, int numer, int denom);
    static fixed fix_dot(fixed* hpa, fixed* pb, int n);
    static int fftPower(fixed* fft_real, fixed* fft_imag, int size);
    static int fftEnergy(fixed* fft_real, fixed* fft_imag, int size);

    static const fixed Sinewave[SINEWAVE_SIZE];
    static const fixed Loudampl[100];

    int sinewaveFactor = 0;
    int N_WAVE = 0;
    int LOG2_N_WAVE = 0;
    int N_LOUD = 100;

    struct Kernels;

private:
    static const Kernels& kernelsFor(Lanes lanes);
    const Kernels* kernels_;

    // Progress through the passes: half-span, twiddle stride, scale so far.
    struct Passes {
        int l;
        int k;
        int scale;
    };
    void reversal(int n) const;
    // Passes on the 32-bit lanes while their values (largest magnitude top) allow; true when all are done.
    bool narrowPasses(int n, int inverse, uint32_t top, Passes& p) const;
    void widePasses(fixed fr[], fixed fi[], int n, int inverse, Passes& p) const;

    // Q15 twiddles cos, sin and -sin of pi*m/l, the pass with half-span l at l ... 2l-1.
    alignas(16) int32_t twCos[SINEWAVE_SIZE];
    alignas(16) int32_t twSin[SINEWAVE_SIZE];
    alignas(16) int32_t twNegSin[SINEWAVE_SIZE];
    // Scratch of the 32-bit passes and the bit-reversal order of the last size.
    alignas(16) mutable int32_t wr32[SINEWAVE_SIZE];
    alignas(16) mutable int32_t wi32[SINEWAVE_SIZE];
    mutable int16_t rev[SINEWAVE_SIZE];
    mutable int revSize = 0;
    // Window weights of the last size transform16 weighted.
    alignas(16) mutable int32_t hann32[SINEWAVE_SIZE];
    mutable int weightsKey = 0;
};
