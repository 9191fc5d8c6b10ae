// The vector kernels of the fixed-point FFT: passes, copies into and out of
// the 32-bit lanes, the windowed 16-bit input and the power row, and the
// choice of their build for this CPU.
#include "fft_kernels.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#if defined(__arm__)
#include <sys/auxv.h>
#endif

namespace {

typedef int32_t v4i __attribute__((vector_size(16)));
typedef int32_t v8i __attribute__((vector_size(32)));
typedef int64_t v4l __attribute__((vector_size(32)));
typedef uint64_t v4u __attribute__((vector_size(32)));
typedef double v4d __attribute__((vector_size(32)));
typedef float v4f __attribute__((vector_size(16)));
typedef int16_t v8s __attribute__((vector_size(16)));

// The kernels below are written once with the compiler's vector extensions
// and built twice: for the target's baseline and for its widest vector unit
// (AVX2 on x86-64, NEON on 32-bit ARM, whose baseline has none), chosen at
// run time. Their helpers are inlined into each build, so both give the same
// integer results.
#if defined(__GNUC__) && defined(__x86_64__)
#define WIDE_TARGET "avx2"
#elif defined(__GNUC__) && !defined(__clang__) && defined(__arm__) && !defined(__ARM_NEON)
#define WIDE_TARGET "fpu=neon"
#endif
#define LANES inline __attribute__((always_inline))

LANES v4i load4(const int32_t* p)
{
    v4i v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

LANES void store4(int32_t* p, v4i v) { std::memcpy(p, &v, sizeof v); }

// The two halves of an eight-lane vector.
LANES void halves(const v8i& v, v4i& lo, v4i& hi)
{
    std::memcpy(&lo, &v, sizeof lo);
    std::memcpy(&hi, reinterpret_cast<const char*>(&v) + sizeof lo, sizeof hi);
}

// Lanes of two vectors picked by constant indices (0-3 from a, 4-7 from b).
#if defined(__clang__)
#define SHUFFLE(a, b, i, j, k, m) __builtin_shufflevector(a, b, i, j, k, m)
#else
#define SHUFFLE(a, b, i, j, k, m) __builtin_shuffle(a, b, v4i{i, j, k, m})
#endif

// The largest and the smallest value seen in each lane.
template <class V>
struct Extremes {
    V hi = {};
    V lo = {};
    LANES void operator+=(const V& v)
    {
        hi = v > hi ? v : hi;
        lo = v < lo ? v : lo;
    }
};

// The largest magnitude of the values seen (none beyond +-2^31 - 1).
LANES uint32_t largest(const Extremes<v4i>& e)
{
    const v4i m = e.hi > -e.lo ? e.hi : -e.lo;
    return static_cast<uint32_t>(std::max(std::max(m[0], m[1]), std::max(m[2], m[3])));
}

LANES uint32_t largest(const Extremes<v8i>& e)
{
    Extremes<v4i> h;
    halves(e.hi, h.hi, h.lo);
    h.hi = h.hi > h.lo ? h.hi : h.lo;
    v4i a, b;
    halves(e.lo, a, b);
    h.lo = a < b ? a : b;
    return largest(h);
}

// Four butterflies: a' = a/2^shift + w*b, b' = a/2^shift - w*b, each Q15 product floored.
LANES void butterflies(v4i wr, v4i wi, v4i& ar, v4i& ai, v4i& br, v4i& bi, int shift, Extremes<v4i>& seen)
{
    const v4i tr = ((wr * br) >> 15) - ((wi * bi) >> 15);
    const v4i ti = ((wr * bi) >> 15) + ((wi * br) >> 15);
    const v4i qr = ar >> shift, qi = ai >> shift;
    br = qr - tr;
    bi = qi - ti;
    ar = qr + tr;
    ai = qi + ti;
    seen += ar;
    seen += ai;
    seen += br;
    seen += bi;
}

// Passes of half-span 1 and 2: partners lie within each group of four, so the
// upper halves of two groups are gathered into one vector and the lower
// halves into another, then put back.
template <int L>
LANES void smallSpanPass(int32_t* xr, int32_t* xi, int n, const int32_t* cw, const int32_t* sw, int shift,
    Extremes<v4i>& seen)
{
    const v4i wr = (L == 1 ? v4i{cw[0], cw[0], cw[0], cw[0]} : v4i{cw[0], cw[1], cw[0], cw[1]}) >> shift;
    const v4i wi = (L == 1 ? v4i{sw[0], sw[0], sw[0], sw[0]} : v4i{sw[0], sw[1], sw[0], sw[1]}) >> shift;
    for (int i = 0; i < n; i += 8) {
        const v4i r0 = load4(xr + i), r1 = load4(xr + i + 4), i0 = load4(xi + i), i1 = load4(xi + i + 4);
        v4i ar, br, ai, bi;
        if (L == 1) {
            ar = SHUFFLE(r0, r1, 0, 2, 4, 6);
            br = SHUFFLE(r0, r1, 1, 3, 5, 7);
            ai = SHUFFLE(i0, i1, 0, 2, 4, 6);
            bi = SHUFFLE(i0, i1, 1, 3, 5, 7);
        } else {
            ar = SHUFFLE(r0, r1, 0, 1, 4, 5);
            br = SHUFFLE(r0, r1, 2, 3, 6, 7);
            ai = SHUFFLE(i0, i1, 0, 1, 4, 5);
            bi = SHUFFLE(i0, i1, 2, 3, 6, 7);
        }
        butterflies(wr, wi, ar, ai, br, bi, shift, seen);
        if (L == 1) {
            store4(xr + i, SHUFFLE(ar, br, 0, 4, 1, 5));
            store4(xr + i + 4, SHUFFLE(ar, br, 2, 6, 3, 7));
            store4(xi + i, SHUFFLE(ai, bi, 0, 4, 1, 5));
            store4(xi + i + 4, SHUFFLE(ai, bi, 2, 6, 3, 7));
        } else {
            store4(xr + i, SHUFFLE(ar, br, 0, 1, 4, 5));
            store4(xr + i + 4, SHUFFLE(ar, br, 2, 3, 6, 7));
            store4(xi + i, SHUFFLE(ai, bi, 0, 1, 4, 5));
            store4(xi + i + 4, SHUFFLE(ai, bi, 2, 3, 6, 7));
        }
    }
}

// One radix-2 pass over 32-bit values with half-span l and the twiddles cw,
// sw of that pass. Returns the largest magnitude it wrote: above 16383 the
// next pass must halve, above 65535 the values left the narrow range.
LANES uint32_t passBody(int32_t* xr, int32_t* xi, int n, int l, const int32_t* cw, const int32_t* sw, int shift)
{
    Extremes<v4i> seen;
    if (l == 1) {
        smallSpanPass<1>(xr, xi, n, cw, sw, shift, seen);
    } else if (l == 2) {
        smallSpanPass<2>(xr, xi, n, cw, sw, shift, seen);
    } else if (l == 4) {
        const v4i wr = load4(cw) >> shift, wi = load4(sw) >> shift;
        for (int a = 0; a < n; a += 8) {
            v4i ar = load4(xr + a), ai = load4(xi + a), br = load4(xr + a + 4), bi = load4(xi + a + 4);
            butterflies(wr, wi, ar, ai, br, bi, shift, seen);
            store4(xr + a, ar);
            store4(xi + a, ai);
            store4(xr + a + 4, br);
            store4(xi + a + 4, bi);
        }
    } else {
        // Eight butterflies at a time; values move by memcpy so that no
        // function passes a wide vector (its ABI depends on the build target).
        Extremes<v8i> wide;
        for (int i0 = 0; i0 < n; i0 += 2 * l) {
            for (int mm = 0; mm < l; mm += 8) {
                const int a = i0 + mm, b = a + l;
                v8i wr, wi, ar, ai, br, bi;
                std::memcpy(&wr, cw + mm, sizeof wr);
                std::memcpy(&wi, sw + mm, sizeof wi);
                std::memcpy(&ar, xr + a, sizeof ar);
                std::memcpy(&ai, xi + a, sizeof ai);
                std::memcpy(&br, xr + b, sizeof br);
                std::memcpy(&bi, xi + b, sizeof bi);
                wr >>= shift;
                wi >>= shift;
                const v8i tr = ((wr * br) >> 15) - ((wi * bi) >> 15);
                const v8i ti = ((wr * bi) >> 15) + ((wi * br) >> 15);
                const v8i qr = ar >> shift, qi = ai >> shift;
                const v8i br2 = qr - tr, bi2 = qi - ti, ar2 = qr + tr, ai2 = qi + ti;
                std::memcpy(xr + b, &br2, sizeof br2);
                std::memcpy(xi + b, &bi2, sizeof bi2);
                std::memcpy(xr + a, &ar2, sizeof ar2);
                std::memcpy(xi + a, &ai2, sizeof ai2);
                wide += br2;
                wide += bi2;
                wide += ar2;
                wide += ai2;
            }
        }
        return largest(wide);
    }
    return largest(seen);
}

// Copies fr/fi into xr/xi in bit-reversed order when every value lies within
// -65535 ... 65536; false (xr/xi unused) otherwise.
LANES bool inBody(const fixed* fr, const fixed* fi, const int16_t* rev, int n, int32_t* xr, int32_t* xi)
{
    v4u outside = {0, 0, 0, 0};
    for (int i = 0; i < n; i += 4) {
        v4u r, q;
        std::memcpy(&r, fr + i, sizeof r);
        std::memcpy(&q, fi + i, sizeof q);
        outside |= (r + kNarrowLimit) | (q + kNarrowLimit);
    }
    if (((outside[0] | outside[1] | outside[2] | outside[3]) >> 17) != 0)
        return false;
    for (int i = 0; i < n; ++i) {
        xr[i] = static_cast<int32_t>(fr[rev[i]]);
        xi[i] = static_cast<int32_t>(fi[rev[i]]);
    }
    return true;
}

// The largest magnitude in xr/xi: see passBody.
LANES uint32_t magnitudeBody(const int32_t* xr, const int32_t* xi, int n)
{
    Extremes<v8i> seen;
    for (int i = 0; i < n; i += 8) {
        v8i r, q;
        std::memcpy(&r, xr + i, sizeof r);
        std::memcpy(&q, xi + i, sizeof q);
        seen += r;
        seen += q;
    }
    return largest(seen);
}

// Widens xr/xi into fr/fi.
LANES void outBody(const int32_t* xr, const int32_t* xi, int n, fixed* fr, fixed* fi)
{
    for (int i = 0; i < n; i += 4) {
        const v4l wr = __builtin_convertvector(load4(xr + i), v4l), wi = __builtin_convertvector(load4(xi + i), v4l);
        std::memcpy(fr + i, &wr, sizeof wr);
        std::memcpy(fi + i, &wi, sizeof wi);
    }
}

// n 16-bit samples in host order, each weighted by fix_mpy with its Q15
// weight when there are weights (|x * w| <= 2^30: exact in 32 bits), then
// the first pass, into xr in bit-reversed order, xi cleared. Adds the squares
// of the samples to *sumSquares and gives the first pass's shift; returns the
// largest magnitude the pass wrote.
//
// The first pass pairs, in bit-reversed order, neighbours that are n/2 apart
// in the samples' own order, all with the twiddle (cos 0, 0): on real samples
// it runs there on whole vectors, and the imaginary parts stay 0.
LANES uint32_t samplesBody(const unsigned char* samples, const int32_t* weights, const int16_t* rev, int n,
    int inverse, int32_t cos0, int32_t* xr, int32_t* xi, int64_t* sumSquares, int* shift)
{
    v4l sums = {0, 0, 0, 0};
    Extremes<v8i> seen;
    // The weighted samples in their own order go to xi first.
    for (int i = 0; i < n; i += 8) {
        v8s s;
        std::memcpy(&s, samples + 2 * i, sizeof s);
        v8i x = __builtin_convertvector(s, v8i);
        v4i lo, hi;
        halves(x * x, lo, hi);
        sums += __builtin_convertvector(lo, v4l) + __builtin_convertvector(hi, v4l);
        if (weights != nullptr) {
            v8i w;
            std::memcpy(&w, weights + i, sizeof w);
            x = (x * w) >> 15;
        }
        seen += x;
        std::memcpy(xi + i, &x, sizeof x);
    }
    *sumSquares += sums[0] + sums[1] + sums[2] + sums[3];
    *shift = inverse ? (largest(seen) > 16383 ? 1 : 0) : 1;
    const int s = *shift;
    const v8i w = v8i{cos0, cos0, cos0, cos0, cos0, cos0, cos0, cos0} >> s;
    Extremes<v8i> written;
    const int half = n / 2;
    const int whole = half & ~7;
    for (int j = 0; j < whole; j += 8) {
        v8i a, b;
        std::memcpy(&a, xi + j, sizeof a);
        std::memcpy(&b, xi + j + half, sizeof b);
        const v8i t = (w * b) >> 15, q = a >> s;
        a = q + t;
        b = q - t;
        written += a;
        written += b;
        std::memcpy(xi + j, &a, sizeof a);
        std::memcpy(xi + j + half, &b, sizeof b);
    }
    uint32_t top = largest(written);
    for (int j = whole; j < half; ++j) {  // eight samples
        const int32_t t = (w[0] * xi[j + half]) >> 15, q = xi[j] >> s;
        xi[j] = q + t;
        xi[j + half] = q - t;
        top = std::max<uint32_t>(top, static_cast<uint32_t>(std::max(std::abs(xi[j]), std::abs(xi[j + half]))));
    }
    for (int i = 0; i < n; ++i)
        xr[i] = xi[rev[i]];
    std::memset(xi, 0, static_cast<std::size_t>(n) * sizeof *xi);
    return top;
}

// Normalised power of bins 0 ... bins-1, (xr^2 + xi^2) * factor / norm, as
// the float of the 64-bit power divided in float: worked out in double, where
// these sums are exact (32-bit values). False when the 64-bit power of some
// bin would not hold it (it saturates there).
LANES bool powerBody(const int32_t* xr, const int32_t* xi, int bins, double factor, float norm, float* row)
{
    v4d largest = {0, 0, 0, 0};
    const int whole = bins & ~3;
    for (int i = 0; i < whole; i += 4) {
        const v4d dr = __builtin_convertvector(load4(xr + i), v4d), di = __builtin_convertvector(load4(xi + i), v4d);
        const v4d sum = dr * dr + di * di;
        largest = sum > largest ? sum : largest;
        const v4f p = __builtin_convertvector(sum * factor, v4f) / norm;
        std::memcpy(row + i, &p, sizeof p);
    }
    double top = std::max(std::max(largest[0], largest[1]), std::max(largest[2], largest[3]));
    for (int i = whole; i < bins; ++i) {
        const double dr = xr[i], di = xi[i];
        const double sum = dr * dr + di * di;
        top = std::max(top, sum);
        row[i] = static_cast<float>(sum * factor) / norm;
    }
    return top * factor < 4611686018427387904.0;
}

} // namespace

// One build of the kernels with the given function attributes.
#define KERNELS(ATTR, NAME)                                                                                          \
    namespace {                                                                                                      \
    ATTR uint32_t NAME##Pass(int32_t* xr, int32_t* xi, int n, int l, const int32_t* cw, const int32_t* sw, int s)    \
    {                                                                                                                \
        return passBody(xr, xi, n, l, cw, sw, s);                                                                    \
    }                                                                                                                \
    ATTR bool NAME##In(const fixed* fr, const fixed* fi, const int16_t* rev, int n, int32_t* xr, int32_t* xi)        \
    {                                                                                                                \
        return inBody(fr, fi, rev, n, xr, xi);                                                                       \
    }                                                                                                                \
    ATTR uint32_t NAME##Magnitude(const int32_t* xr, const int32_t* xi, int n) { return magnitudeBody(xr, xi, n); } \
    ATTR void NAME##Out(const int32_t* xr, const int32_t* xi, int n, fixed* fr, fixed* fi)                           \
    {                                                                                                                \
        outBody(xr, xi, n, fr, fi);                                                                                  \
    }                                                                                                                \
    ATTR uint32_t NAME##Samples(const unsigned char* s, const int32_t* w, const int16_t* rev, int n, int inverse,      \
        int32_t cos0, int32_t* xr, int32_t* xi, int64_t* sum, int* shift)                                            \
    {                                                                                                                \
        return samplesBody(s, w, rev, n, inverse, cos0, xr, xi, sum, shift);                                         \
    }                                                                                                                \
    ATTR bool NAME##Power(const int32_t* xr, const int32_t* xi, int bins, double factor, float norm, float* row)     \
    {                                                                                                                \
        return powerBody(xr, xi, bins, factor, norm, row);                                                           \
    }                                                                                                                \
    const FixedFft::Kernels NAME##Kernels = {                                                                        \
        NAME##Pass, NAME##In, NAME##Magnitude, NAME##Out, NAME##Samples, NAME##Power};                               \
    }

KERNELS(, plain)
#ifdef WIDE_TARGET
KERNELS(__attribute__((target(WIDE_TARGET))), wide)
#endif

namespace {

bool wideLanesRun()
{
#if defined(WIDE_TARGET) && defined(__x86_64__)
    return __builtin_cpu_supports("avx2");
#elif defined(WIDE_TARGET) && defined(__arm__)
    return (getauxval(AT_HWCAP) & HWCAP_ARM_NEON) != 0;
#else
    return false;
#endif
}

} // namespace

bool FixedFft::widestLanes()
{
    static const bool wide = wideLanesRun();
    return wide;
}

const FixedFft::Kernels& FixedFft::kernelsFor(Lanes lanes)
{
#ifdef WIDE_TARGET
    if (lanes == Lanes::Widest && widestLanes())
        return wideKernels;
#endif
    (void)lanes;
    return plainKernels;
}

