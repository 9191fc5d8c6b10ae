// Directional spreading by the maximum-entropy method: per frequency bin, the
// distribution whose first two circular moments are the measured ones and
// whose entropy is largest, D(theta) = N / |1 - phi1 e^-i theta - phi2 e^-2i theta|^2.
#include <cmath>
#include <complex>
#include <memory>
#include <new>

#include "numeric.h"
#include "swaprecord.h"

double sin_theta[361], cos_theta[361], sin_2theta[361], cos_2theta[361];

namespace {

int sin_cos_tables_generated = 0;

struct TablesAtLoad {
    TablesAtLoad() { generate_sin_cos_tables(); }
} tablesAtLoad;

constexpr int BINS = 101;
constexpr int DIRECTIONS = 90;
constexpr float DIRECTION_STEP = 0.06981317f; // 4 degrees in radians

using C = std::complex<double>;

double Norm(const C& z)
{
    return z.real() * z.real() + z.imag() * z.imag();
}

// Row i of the work grid: the spreading of bin i over the 90 directions,
// scaled so that it integrates to the heave spectrum.
void SpreadBin(int i, const SWAPtag_HLEV1& hlev1, const SWAPtag_HDLEV1& hdlev1, float* row)
{
    for (int n = 0; n < DIRECTIONS; ++n)
        row[n] = MISSING_VALUE;
    const float a1 = hdlev1.s4000[i], b1 = hdlev1.s4001[i], a2 = hdlev1.s4002[i], b2 = hdlev1.s4003[i];
    if (!IsPresent(a1) || !IsPresent(b1) || !IsPresent(a2) || !IsPresent(b2))
        return;
    const C c1(-b1, -a1);
    const C c2(-a2, b2);
    if (Norm(c1) == 1.0)
        return;
    const C phi1 = (c1 - c2 * std::conj(c1)) / (1.0 - c1 * std::conj(c1));
    const C phi2 = c2 - c1 * phi1;
    const float numerator = static_cast<float>(1.0 - (phi1 * std::conj(c1)).real() - (phi2 * std::conj(c2)).real());
    for (int n = 0; n < DIRECTIONS; ++n) {
        const C turn(cos_theta[4 * n], -sin_theta[4 * n]);
        const C turn2(cos_2theta[4 * n], -sin_2theta[4 * n]);
        const C d = 1.0 - phi1 * turn - phi2 * turn2;
        const float e = static_cast<float>(Norm(d));
        row[n] = numerator / e;
        // A vanishing denominator would spread infinities over the row.
        if (!std::isfinite(row[n])) {
            for (int k = 0; k < DIRECTIONS; ++k)
                row[k] = MISSING_VALUE;
            return;
        }
    }
    float sum = 0.0f;
    for (int n = 1; n < DIRECTIONS; ++n)
        sum += row[n];
    if (sum == 0.0f)
        return;
    const float spectrum = hlev1.s1000[i];
    for (int n = 0; n < DIRECTIONS; ++n)
        row[n] = spectrum == MISSING_VALUE ? MISSING_VALUE : row[n] / sum * spectrum / DIRECTION_STEP;
}

} // namespace

void generate_sin_cos_tables()
{
    for (int i = 0; i <= 360; ++i) {
        const double angle = i * 0.017453292519943295;
        sin_theta[i] = std::sin(angle);
        cos_theta[i] = std::cos(angle);
        sin_2theta[i] = std::sin(2.0 * angle);
        cos_2theta[i] = std::cos(2.0 * angle);
    }
    sin_cos_tables_generated = 1;
}

void calculateDmem_51x91(const SWAPtag_HLEV1& hlev1, const SWAPtag_HDLEV1& hdlev1, const SWAPtag_HDLEV2&,
                         ResultWriter& out)
{
    std::unique_ptr<float[]> work(new (std::nothrow) float[BINS * DIRECTIONS]);
    if (!work || !sin_cos_tables_generated) {
        out.Fill(MISSING_VALUE, DMEM_ROWS * DMEM_COLUMNS);
        return;
    }
    for (int i = 0; i < BINS; ++i)
        SpreadBin(i, hlev1, hdlev1, work.get() + i * DIRECTIONS);

    // Half the frequency resolution: bins j - 1, j, j + 1 weighted 1/4, 1/2, 1/4.
    const float weights[3] = {0.25f, 0.5f, 0.25f};
    for (int r = 0; r < DMEM_ROWS; ++r) {
        for (int n = 0; n < DIRECTIONS; ++n) {
            float sum = 0.0f, weight = 0.0f;
            for (int k = 0; k < 3; ++k) {
                const int bin = 2 * r - 1 + k;
                if (bin < 0 || bin >= BINS)
                    continue;
                const float v = work[bin * DIRECTIONS + n];
                if (v == MISSING_VALUE)
                    continue;
                sum += weights[k] * v;
                weight += weights[k];
            }
            const float v = weight > 0.0f ? sum / weight : MISSING_VALUE;
            out.Set(r * DMEM_COLUMNS + n, v);
            if (n == 0)
                out.Set(r * DMEM_COLUMNS + DIRECTIONS, v);
        }
    }
    out.Advance(DMEM_ROWS * DMEM_COLUMNS);
}
