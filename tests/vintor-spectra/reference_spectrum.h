// Independent reference for spectrum tests: the mirrored Hann window and the
// normalised power of a double-precision DFT.
#pragma once

#include <cmath>
#include <vector>

namespace spectra_test {

// Hann weight of sample i of n; the second half mirrors the first (n/2+t weighs as n/2-1-t).
inline double mirroredHann(int i, int n)
{
    const int t = i < n / 2 ? i : n - 1 - i;
    return 0.5 - 0.5 * std::cos(2.0 * M_PI * t / n);
}

// |X_k|^2 / n^2 for k < n/2, of samples already weighted.
inline std::vector<double> dftPower(const std::vector<double>& x)
{
    const int n = static_cast<int>(x.size());
    std::vector<double> c(n), s(n), p(n / 2);
    for (int i = 0; i < n; ++i) {
        c[i] = std::cos(2.0 * M_PI * i / n);
        s[i] = std::sin(2.0 * M_PI * i / n);
    }
    for (int k = 0; k < n / 2; ++k) {
        double re = 0, im = 0;
        for (int i = 0; i < n; ++i) {
            const int a = static_cast<int>((static_cast<long>(k) * i) % n);
            re += x[i] * c[a];
            im -= x[i] * s[a];
        }
        p[k] = (re * re + im * im) / (static_cast<double>(n) * n);
    }
    return p;
}

} // namespace spectra_test
