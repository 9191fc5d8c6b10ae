// The fixed-point transform as it runs on 64-bit values, the Hann window and
// the small fixed-point helpers. The tables are in sinetable.cpp, the vector
// kernels that run the narrow passes in fft_kernels.cpp.
#include "integer_fft.h"

#include "fft_kernels.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <complex>
#include <limits>

namespace {

// Sums and differences of samples wrap like the machine words they are, never trap.
inline fixed wrapAdd(fixed a, fixed b) { return static_cast<fixed>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b)); }
inline fixed wrapSub(fixed a, fixed b) { return static_cast<fixed>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b)); }

// The shift decision looks at the low 32 bits of a value as a signed word; its
// magnitude is taken in 64 bits so that -2^31 counts as large.
inline bool beyondHalfScale(fixed v)
{
    const int64_t w = static_cast<int32_t>(static_cast<uint32_t>(v));
    return w > 16383 || w < -16383;
}

} // namespace

FixedFft::FixedFft(Lanes lanes) : kernels_(&kernelsFor(lanes))
{
    setN_WAVE(256);
    // Twiddles of the pass with half-span l sit at l ... 2l-1.
    for (int l = 1; l < SINEWAVE_SIZE; l <<= 1) {
        const int step = (SINEWAVE_SIZE / 2) / l;
        for (int mm = 0; mm < l; ++mm) {
            twCos[l + mm] = static_cast<int32_t>(Sinewave[mm * step + SINEWAVE_SIZE / 4]);
            twSin[l + mm] = static_cast<int32_t>(Sinewave[mm * step]);
            twNegSin[l + mm] = -twSin[l + mm];
        }
    }
}

int FixedFft::setN_WAVE(int n_wave)
{
    switch (n_wave) {
    case 512:
        N_WAVE = 512;
        LOG2_N_WAVE = 9;
        break;
    case 1024:
        N_WAVE = 1024;
        LOG2_N_WAVE = 10;
        break;
    case 2048:
        N_WAVE = 2048;
        LOG2_N_WAVE = 11;
        break;
    default:
        N_WAVE = 256;
        LOG2_N_WAVE = 8;
        break;
    }
    sinewaveFactor = SINEWAVE_SIZE / N_WAVE;
    return 0;
}

void FixedFft::reversal(int n) const
{
    if (n == revSize)
        return;
    // The bit-reversal order: the partner mr of each m' as the reordering loop finds it.
    int mr = 0;
    rev[0] = 0;
    for (int mm = 1; mm < n; ++mm) {
        int l = n;
        do {
            l >>= 1;
        } while (mr + l > n - 1);
        mr = (mr & (l - 1)) + l;
        rev[mm] = static_cast<int16_t>(mr);
    }
    revSize = n;
}

bool FixedFft::narrowPasses(int n, int inverse, uint32_t top, Passes& p) const
{
    while (p.l < n && top <= kNarrowLimit) {
        const int shift = inverse ? (top > 16383 ? 1 : 0) : 1;
        p.scale += inverse ? shift : 0;
        // Twiddles of this pass: wr = cos(pi*m/l), wi = -+sin(pi*m/l).
        top = kernels_->pass(wr32, wi32, n, p.l, twCos + p.l, (inverse ? twSin : twNegSin) + p.l, shift);
        --p.k;
        p.l <<= 1;
    }
    return p.l >= n;
}

void FixedFft::widePasses(fixed fr[], fixed fi[], int n, int inverse, Passes& p) const
{
    const int quarter = N_WAVE / 4;
    while (p.l < n) {
        bool shift = true;
        if (inverse) {
            // Halve this pass only when its input could overflow Q15 headroom.
            shift = false;
            for (int i = 0; i < n; ++i) {
                if (beyondHalfScale(fr[i]) || beyondHalfScale(fi[i])) {
                    shift = true;
                    break;
                }
            }
            if (shift)
                ++p.scale;
        }
        const int l = p.l;
        const int istep = l << 1;
        for (int mm = 0; mm < l; ++mm) {
            const int j = mm << p.k;
            fixed wr = SinewaveFn(j + quarter);
            fixed wi = -static_cast<fixed>(SinewaveFn(j));
            if (inverse)
                wi = -wi;
            if (shift) {
                wr >>= 1;
                wi >>= 1;
            }
            for (int i = mm; i < n; i += istep) {
                const int jj = i + l;
                const fixed tr = wrapSub(fix_mpy(wr, fr[jj]), fix_mpy(wi, fi[jj]));
                const fixed ti = wrapAdd(fix_mpy(wr, fi[jj]), fix_mpy(wi, fr[jj]));
                fixed qr = fr[i];
                fixed qi = fi[i];
                if (shift) {
                    qr >>= 1;
                    qi >>= 1;
                }
                fr[jj] = wrapSub(qr, tr);
                fi[jj] = wrapSub(qi, ti);
                fr[i] = wrapAdd(qr, tr);
                fi[i] = wrapAdd(qi, ti);
            }
        }
        --p.k;
        p.l = istep;
    }
}

int FixedFft::fix_fft(fixed fr[], fixed fi[], long m, int inverse) const
{
    if (m < 0 || m > LOG2_N_WAVE)
        return -1;
    const int n = 1 << m;
    if (n == 1)
        return 0;
    reversal(n);
    Passes p{1, LOG2_N_WAVE - 1, 0};

    // Sweeps of 16-bit samples keep every value within +-65535, where the
    // passes give the same results on 32-bit copies, several values at a time.
    // The copies are taken in bit-reversed order; a value outside that range
    // leaves the caller's arrays untouched for the 64-bit passes below.
    if (n >= 8 && kernels_->in(fr, fi, rev, n, wr32, wi32)) {
        narrowPasses(n, inverse, kernels_->magnitude(wr32, wi32, n), p);
        kernels_->out(wr32, wi32, n, fr, fi);
    } else {
        for (int mm = 1; mm < n; ++mm) {
            const int mr = rev[mm];
            if (mr > mm) {
                std::swap(fr[mm], fr[mr]);
                std::swap(fi[mm], fi[mr]);
            }
        }
    }
    widePasses(fr, fi, n, inverse, p);
    return p.scale;
}

int FixedFft::transform16(const void* samples, int n, bool windowed, int inverse, fixed fr[], fixed fi[],
    int64_t* sumSquares, bool* inLanes) const
{
    reversal(n);
    const int32_t* weights = nullptr;
    if (windowed) {
        if (weightsKey != n * SINEWAVE_SIZE + N_WAVE) {
            // The weights window() gives sample i, as 32-bit words.
            const int j = N_WAVE / n;
            int k = N_WAVE / 4;
            const int half = n / 2;
            for (int i = 0; i < half; ++i, k += j)
                hann32[i] = 16384 - (SinewaveFn(k) >> 1);
            k -= j;
            for (int i = half; i < n; ++i, k -= j)
                hann32[i] = 16384 - (SinewaveFn(k) >> 1);
            weightsKey = n * SINEWAVE_SIZE + N_WAVE;
        }
        weights = hann32;
    }
    *sumSquares = 0;
    int shift = 0;
    const uint32_t top = kernels_->samples(
        static_cast<const unsigned char*>(samples), weights, rev, n, inverse, twCos[1], wr32, wi32, sumSquares, &shift);
    Passes p{2, LOG2_N_WAVE - 2, inverse ? shift : 0};
    *inLanes = narrowPasses(n, inverse, top, p);
    if (!*inLanes) {
        kernels_->out(wr32, wi32, n, fr, fi);
        widePasses(fr, fi, n, inverse, p);
    }
    return p.scale;
}

bool FixedFft::powerRow(int bins, int scale, float norm, float* row) const
{
    return kernels_->power(wr32, wi32, bins, std::ldexp(1.0, scale > 0 ? 2 * scale : 0), norm, row);
}

void FixedFft::lanesOut(fixed fr[], fixed fi[], int n) const { kernels_->out(wr32, wi32, n, fr, fi); }

void FixedFft::window(fixed fr[], int n) const
{
    if (n <= 0) // nothing to weight, and N_WAVE / n must not divide by zero
        return;
    const int j = N_WAVE / n;
    int k = N_WAVE / 4;
    const int half = n / 2;
    for (int i = 0; i < half; ++i) {
        fr[i] = fix_mpy(fr[i], 16384 - (SinewaveFn(k) >> 1));
        k += j;
    }
    k -= j;
    for (int i = half; i < 2 * half; ++i) {
        fr[i] = fix_mpy(fr[i], 16384 - (SinewaveFn(k) >> 1));
        k -= j;
    }
}

void FixedFft::remove_dc(fixed fr[]) const
{
    uint32_t sum = 0;
    for (int i = 0; i < N_WAVE; ++i)
        sum += static_cast<uint32_t>(fr[i]);
    const fixed mean = static_cast<int32_t>(sum) / N_WAVE;
    for (int i = 0; i < N_WAVE; ++i)
        fr[i] = wrapSub(fr[i], mean);
}

void FixedFft::fix_loud(fixed loud[], fixed fr[], fixed fi[], int n, int scale_shift) const
{
    const int max = scale_shift > 0 ? 10 : 0;
    for (int i = 0; i < n; ++i) {
        fixed level = db_from_ampl(fr[i], fi[i]) + 6 * (static_cast<fixed>(scale_shift) + 1);
        loud[i] = level > max ? max : level;
    }
}

int FixedFft::db_from_ampl(fixed re, fixed im) const
{
    static int32_t loud2[100];
    if (loud2[0] == 0) {
        loud2[0] = static_cast<int32_t>(Loudampl[0] * Loudampl[0]);
        for (int i = 1; i < N_LOUD; ++i) {
            const int32_t v = static_cast<int32_t>(Loudampl[i] * Loudampl[i]);
            loud2[i] = v;
            loud2[i - 1] = (loud2[i - 1] + v) / 2;
        }
    }
    const uint32_t r = static_cast<uint32_t>(re);
    const uint32_t m = static_cast<uint32_t>(im);
    const int32_t v = static_cast<int32_t>(r * r + m * m);
    for (int i = 0; i < N_LOUD; ++i)
        if (loud2[i] <= v)
            return -i;
    return -N_LOUD;
}

int FixedFft::iscale(int value, int numer, int denom)
{
    if (denom == 0)
        return 0;
    const int32_t product = static_cast<int32_t>(static_cast<uint32_t>(value) * static_cast<uint32_t>(numer));
    if (denom == -1) // the one quotient that does not fit wraps as well
        return static_cast<int32_t>(0u - static_cast<uint32_t>(product));
    return product / denom;
}

fixed FixedFft::fix_dot(fixed* hpa, fixed* pb, int n)
{
    uint32_t sum = 0;
    for (int i = 0; i < n; ++i)
        sum += static_cast<uint32_t>(fix_mpy(hpa[i], pb[i]));
    const int32_t s = static_cast<int32_t>(sum);
    if (s > 32767)
        return 32767;
    if (s < -32767)
        return -32767;
    return s;
}

namespace {
// Float to int the way a C cast truncates, but without undefined results beyond int's range.
int truncToInt(float v)
{
    if (!(v < 2147483648.0f))
        return std::numeric_limits<int>::max();
    if (!(v >= -2147483648.0f))
        return std::numeric_limits<int>::min();
    return static_cast<int>(v);
}
} // namespace

int FixedFft::fftPower(fixed* fft_real, fixed* fft_imag, int size)
{
    if (size <= 0)
        return 0;
    std::complex<float> sum(0.0f, 0.0f);
    for (int i = 0; i < size; ++i)
        sum += std::complex<float>(static_cast<float>(fft_real[i]), static_cast<float>(fft_imag[i]));
    return truncToInt(std::abs(sum) / static_cast<float>(size));
}

int FixedFft::fftEnergy(fixed* fft_real, fixed* fft_imag, int size)
{
    if (size <= 0)
        return 0;
    float sum = 0.0f;
    for (int i = 0; i < size; ++i) {
        const float re = static_cast<float>(fft_real[i]);
        const float im = static_cast<float>(fft_imag[i]);
        sum += re * re + im * im;
    }
    return truncToInt(std::fabs(sum));
}
