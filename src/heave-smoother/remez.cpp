#include "remez.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr int MAX_ITERATIONS = 40;
const double PI = 3.14159265358979323846;

enum Symmetry { EVEN, ODD };

// The exchange's working state: the dense grid with its desired values and
// weights, the extremal set and the interpolation through it.
struct Design {
    int r = 0;
    Symmetry symmetry = EVEN;
    std::vector<double> grid, desired, weights, error;
    std::vector<int> extremals;
    std::vector<double> x, y, ad;  // r + 1 each
};

// Spreads the grid points over the bands, the last point of each band on its
// upper edge.
void createDenseGrid(Design& d, int numtaps, int numband, const double* bands, const double* des, const double* weight,
                     int griddensity)
{
    const double delf = 0.5 / (griddensity * d.r);
    double lowf = bands[0];
    if (d.symmetry == ODD && lowf < delf)
        lowf = delf;
    size_t j = 0;
    for (int band = 0; band < numband; band++) {
        int k = static_cast<int>(griddensity * 2.0 * d.r * (bands[2 * band + 1] - bands[2 * band]) + 0.5);
        if (band == 0 && d.symmetry == ODD)
            k--;
        for (int i = 0; i < k && j < d.grid.size(); i++, j++) {
            double slope = k > 1 ? (des[2 * band + 1] - des[2 * band]) / (k - 1) : 0.0;
            d.desired[j] = des[2 * band] + i * slope;
            d.weights[j] = weight[band];
            d.grid[j] = lowf;
            lowf += delf;
        }
        if (k > 0 && j > 0)
            d.grid[j - 1] = bands[2 * band + 1];
        if (band + 1 < numband)
            lowf = bands[2 * band + 2];
    }
    double& last = d.grid.back();
    if (d.symmetry == ODD && numtaps % 2 == 1 && last > 0.5 - delf)
        last = 0.5 - delf;
}

// Barycentric weights through the extremals and the ripple they give.
void calcParms(Design& d)
{
    const int r = d.r;
    for (int i = 0; i <= r; i++)
        d.x[i] = std::cos(2.0 * PI * d.grid[d.extremals[i]]);
    // Products taken in interleaved groups keep them from overflowing.
    const int ld = (r - 1) / 15 + 1;
    for (int i = 0; i <= r; i++) {
        double denom = 1.0;
        for (int j = 0; j < ld; j++)
            for (int k = j; k <= r; k += ld)
                if (k != i)
                    denom *= 2.0 * (d.x[i] - d.x[k]);
        if (std::fabs(denom) < 0.00001)
            denom = 0.00001;
        d.ad[i] = 1.0 / denom;
    }
    double numer = 0.0, denom = 0.0, sign = 1.0;
    for (int i = 0; i <= r; i++) {
        numer += d.ad[i] * d.desired[d.extremals[i]];
        denom += sign * d.ad[i] / d.weights[d.extremals[i]];
        sign = -sign;
    }
    const double delta = numer / denom;
    sign = 1.0;
    for (int i = 0; i <= r; i++) {
        d.y[i] = d.desired[d.extremals[i]] - sign * delta / d.weights[d.extremals[i]];
        sign = -sign;
    }
}

// The response at freq, interpolated through the extremals.
double computeA(const Design& d, double freq)
{
    const double xc = std::cos(2.0 * PI * freq);
    double numer = 0.0, denom = 0.0;
    for (int i = 0; i <= d.r; i++) {
        double c = xc - d.x[i];
        if (std::fabs(c) < 1.0e-7)
            return d.y[i];
        c = d.ad[i] / c;
        denom += c;
        numer += c * d.y[i];
    }
    return numer / denom;
}

void calcError(Design& d)
{
    for (size_t i = 0; i < d.grid.size(); i++)
        d.error[i] = d.weights[i] * (d.desired[i] - computeA(d, d.grid[i]));
}

bool isExtremum(const std::vector<double>& e, size_t i)
{
    const size_t n = e.size();
    if (i == 0)
        return (e[0] > 0.0 && e[0] > e[1]) || (e[0] < 0.0 && e[0] < e[1]);
    if (i == n - 1)
        return (e[i] > 0.0 && e[i] > e[i - 1]) || (e[i] < 0.0 && e[i] < e[i - 1]);
    return (e[i] >= e[i - 1] && e[i] > e[i + 1] && e[i] > 0.0) || (e[i] <= e[i - 1] && e[i] < e[i + 1] && e[i] < 0.0);
}

// New extremal set from the error's extrema; 0, or -2 / -3 for too few / many.
int search(Design& d)
{
    const std::vector<double>& e = d.error;
    std::vector<int> found;
    for (size_t i = 0; i < e.size(); i++)
        if (isExtremum(e, i))
            found.push_back(static_cast<int>(i));
    const int r = d.r;
    if (static_cast<int>(found.size()) > 2 * r)
        return -3;
    if (static_cast<int>(found.size()) < r + 1)
        return -2;

    // Drop surplus extrema one at a time: the smallest up to the first sign that
    // repeats its predecessor's, or, when all alternate and one is surplus, the
    // smaller of the two ends.
    int extra = static_cast<int>(found.size()) - (r + 1);
    while (extra > 0) {
        const int k = static_cast<int>(found.size());
        bool up = e[found[0]] > 0.0;
        int smallest = 0;
        bool alternating = true;
        for (int j = 1; j < k; j++) {
            if (std::fabs(e[found[j]]) < std::fabs(e[found[smallest]]))
                smallest = j;
            if (up && e[found[j]] < 0.0) {
                up = false;
            } else if (!up && e[found[j]] > 0.0) {
                up = true;
            } else {
                alternating = false;
                break;
            }
        }
        if (alternating && extra == 1)
            smallest = std::fabs(e[found[k - 1]]) < std::fabs(e[found[0]]) ? k - 1 : 0;
        found.erase(found.begin() + smallest);
        extra--;
    }
    for (int i = 0; i <= r; i++)
        d.extremals[i] = found[i];
    return 0;
}

bool isDone(const Design& d)
{
    double lo = std::fabs(d.error[d.extremals[0]]);
    double hi = lo;
    for (int i = 1; i <= d.r; i++) {
        double v = std::fabs(d.error[d.extremals[i]]);
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    return (hi - lo) / hi < 0.0001;
}

// Coefficients from numtaps / 2 + 1 samples of the response: an inverse cosine
// or sine transform by symmetry and parity.
void freqSample(int n, const std::vector<double>& a, double* h, Symmetry symmetry)
{
    const double m = (n - 1) / 2.0;
    for (int i = 0; i < n; i++) {
        const double x = 2.0 * PI * (i - m) / n;
        double val;
        if (symmetry == EVEN) {
            val = a[0];
            const int top = n % 2 == 1 ? static_cast<int>(m) : n / 2 - 1;
            for (int k = 1; k <= top; k++)
                val += 2.0 * a[k] * std::cos(x * k);
        } else {
            val = n % 2 == 1 ? 0.0 : a[n / 2] * std::sin(PI * (i - m));
            const int top = n % 2 == 1 ? static_cast<int>(m) : n / 2 - 1;
            for (int k = 1; k <= top; k++)
                val += 2.0 * a[k] * std::sin(x * k);
        }
        h[i] = val / n;
    }
}

bool validArguments(int numtaps, int numband, const double* bands, int griddensity)
{
    if (numtaps < 1 || numband < 1 || griddensity < 1)
        return false;
    for (int i = 0; i < 2 * numband; i++) {
        if (!(bands[i] >= 0.0 && bands[i] <= 0.5))
            return false;
        if (i > 0 && bands[i] < bands[i - 1])
            return false;
    }
    return true;
}

} // namespace

int remez(double* h, int numtaps, int numband, const double* bands, const double* des, const double* weight, int type,
          int griddensity)
{
    if (!validArguments(numtaps, numband, bands, griddensity)) {
        fprintf(stderr, "remez: band edges must rise within 0 to 0.5, with at least one tap, band and grid point\n");
        return -4;
    }
    Design d;
    d.symmetry = type == REMEZ_BANDPASS ? EVEN : ODD;
    d.r = numtaps / 2;
    if (numtaps % 2 == 1 && d.symmetry == EVEN)
        d.r++;
    long gridsize = 0;
    for (int i = 0; i < numband; i++)
        gridsize += static_cast<int>(2.0 * d.r * griddensity * (bands[2 * i + 1] - bands[2 * i]) + 0.5);
    if (d.symmetry == ODD)
        gridsize--;
    // The search compares each grid point with a neighbour.
    if (d.r < 1 || gridsize < 2) {
        fprintf(stderr, "remez: %ld grid points are too few for %d taps\n", gridsize, numtaps);
        return -4;
    }
    d.grid.assign(static_cast<size_t>(gridsize), 0.0);
    d.desired.assign(d.grid.size(), 0.0);
    d.weights.assign(d.grid.size(), 0.0);
    d.error.assign(d.grid.size(), 0.0);
    d.extremals.assign(static_cast<size_t>(d.r + 1), 0);
    d.x.assign(d.extremals.size(), 0.0);
    d.y.assign(d.extremals.size(), 0.0);
    d.ad.assign(d.extremals.size(), 0.0);
    createDenseGrid(d, numtaps, numband, bands, des, weight, griddensity);

    if (type == REMEZ_DIFFERENTIATOR)
        for (size_t i = 0; i < d.grid.size(); i++)
            if (d.desired[i] > 0.0001)
                d.weights[i] /= d.grid[i];
    // The exchange works on the response without its fixed factor (none for even
    // symmetry and odd numtaps).
    if (d.symmetry == ODD || numtaps % 2 == 0) {
        for (size_t i = 0; i < d.grid.size(); i++) {
            double c;
            if (d.symmetry == EVEN)
                c = std::cos(PI * d.grid[i]);
            else
                c = numtaps % 2 == 1 ? std::sin(2.0 * PI * d.grid[i]) : std::sin(PI * d.grid[i]);
            d.desired[i] /= c;
            d.weights[i] *= c;
        }
    }

    for (int i = 0; i <= d.r; i++)
        d.extremals[i] = static_cast<int>(i * (gridsize - 1) / d.r);
    int iteration = 0;
    for (; iteration < MAX_ITERATIONS; iteration++) {
        calcParms(d);
        calcError(d);
        int rc = search(d);
        if (rc != 0)
            return rc;
        if (isDone(d))
            break;
    }
    calcParms(d);

    std::vector<double> a(static_cast<size_t>(numtaps / 2 + 1));
    for (int i = 0; i <= numtaps / 2; i++) {
        const double f = static_cast<double>(i) / numtaps;
        double c;
        if (d.symmetry == EVEN)
            c = numtaps % 2 == 1 ? 1.0 : std::cos(PI * f);
        else
            c = numtaps % 2 == 1 ? std::sin(2.0 * PI * f) : std::sin(PI * f);
        a[i] = computeA(d, f) * c;
    }
    freqSample(numtaps, a, h, d.symmetry);
    return iteration == MAX_ITERATIONS ? -1 : 0;
}
