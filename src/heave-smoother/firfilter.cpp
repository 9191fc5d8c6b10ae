#include "firfilter.h"

#include "remez.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

namespace {

const double PI = 3.14159265358979323846;

// Line feeds, plus one for a last line without its own; 0 for an empty file.
// Reading stops past FIR_MAX_TAPS lines and at a line longer than
// FIR_MAX_LINE (*longLine then set), so that a file without an end (a device,
// a pipe) or without line ends is given up on at once. The "\r" of a "\r\n"
// line end is not part of the line.
int countLines(FILE* f, bool* longLine)
{
    int lines = 0;
    int length = 0;
    int c;
    *longLine = false;
    while ((c = getc(f)) != EOF) {
        if (c == '\n') {
            if (++lines > FIR_MAX_TAPS)
                return lines;
            length = 0;
        } else if (++length > FIR_MAX_LINE && (length > FIR_MAX_LINE + 1 || c != '\r')) {
            // One character past the bound may be the "\r" of the line end.
            *longLine = true;
            return lines + 1;
        }
    }
    if (length > 0)
        lines++;
    rewind(f);
    return lines;
}

} // namespace

FirFilter::FirFilter(const char* filename)
{
    FILE* f = fopen(filename, "r");
    int openError = errno;
    bool longLine = false;
    taps = f != nullptr ? countLines(f, &longLine) : 0;
    printf("\nfile: %s\n", filename);
    printf("Filter has %d taps.\n", taps);
    if (f == nullptr)
        printf("Coefficient file %s cannot be read: %s\n", filename, strerror(openError));
    if (longLine)
        printf("Coefficient file %s: line %d is longer than %d characters\n", filename, taps, FIR_MAX_LINE);
    if (longLine || taps <= 0 || taps > FIR_MAX_TAPS) {
        error = FIR_TAPS;
    } else if (allocate(FIR_ALLOCATION)) {
        error = readCoefficients(f, filename);
        reset();
    }
    if (f != nullptr)
        fclose(f);
}

// Exactly one number per line: a token that is no number, fewer numbers than
// lines or anything left after the last is refused.
int FirFilter::readCoefficients(FILE* f, const char* filename)
{
    int count = 0;
    double value;
    while (count < taps && fscanf(f, "%lf", &value) == 1)
        coefficients[count++] = value;
    char rest;
    if (count == taps && fscanf(f, " %c", &rest) != 1)
        return 0;
    printf("Coefficient file %s: not one number on each of its %d lines\n", filename, taps);
    return FIR_TAPS;
}

FirFilter::FirFilter(int type, int taps, double fs, double fLow) : type(type), taps(taps), fs(fs), fLow(fLow)
{
    if (fs <= 0.0) {
        error = FIR_LOWPASS_FS;
    } else if (fLow <= 0.0 || fLow >= fs / 2.0) {
        error = FIR_LOWPASS_FLOW;
    } else if (taps <= 0 || taps > FIR_MAX_TAPS) {
        error = FIR_TAPS;
    } else {
        lambda = fLow * PI / (fs / 2.0);
        if (!allocate(FIR_ALLOCATION))
            return;
        reset();
        if (type == 0) {
            designSinc(0.0, lambda);
        } else if (type == 1) {
            // Fixed bands; fLow does not enter this design. Its upper edge lies beyond
            // half the sampling rate, which the design refuses.
            const double bands[4] = {0.0, 0.005, 0.095, 1.0};
            const double des[4] = {0.0, 0.0, 1.0, 1.0};
            const double weight[2] = {1.0, 1.0};
            if (remez(coefficients, taps, 2, bands, des, weight, REMEZ_BANDPASS, 1) == -4)
                error = FIR_DESIGN;
        } else {
            error = FIR_LOWPASS_TYPE;
        }
    }
}

FirFilter::FirFilter(int type, int taps, double fs, double fLow, double fHigh)
    : type(type), taps(taps), fs(fs), fLow(fLow), fHigh(fHigh)
{
    if (fs <= 0.0) {
        error = FIR_BANDPASS_FS;
    } else if (fLow >= fHigh) {
        error = FIR_BANDPASS_ORDER;
    } else if (fLow <= 0.0 || fLow >= fs / 2.0) {
        error = FIR_BANDPASS_FLOW;
    } else if (fHigh <= 0.0 || fHigh >= fs / 2.0) {
        error = FIR_BANDPASS_FHIGH;
    } else if (taps <= 0 || taps > FIR_MAX_TAPS) {
        error = FIR_BANDPASS_TAPS;
    } else {
        lambda = fLow * PI / (fs / 2.0);
        phi = fHigh * PI / (fs / 2.0);
        if (!allocate(FIR_BANDPASS_ALLOCATION))
            return;
        reset();
        if (type == 2)
            designSinc(lambda, phi);
        else
            error = FIR_BANDPASS_TYPE;
    }
}

FirFilter::~FirFilter()
{
    delete[] coefficients;
    delete[] delayLine;
}

bool FirFilter::allocate(int allocationError)
{
    coefficients = new (std::nothrow) double[taps]();
    delayLine = new (std::nothrow) double[taps]();
    if (coefficients != nullptr && delayLine != nullptr)
        return true;
    error = allocationError;
    return false;
}

// Ideal response between the two edges (radians per sample), no window.
void FirFilter::designSinc(double lower, double upper)
{
    for (int i = 0; i < taps; i++) {
        double m = i - (taps - 1) / 2.0;
        coefficients[i] = m == 0.0 ? (upper - lower) / PI : (std::sin(upper * m) - std::sin(lower * m)) / (m * PI);
    }
}

void FirFilter::reset()
{
    if (error != 0)
        return;
    for (int i = 0; i < taps; i++)
        delayLine[i] = 0.0;
    newest = 0;
}

double FirFilter::sample(double x)
{
    if (error != 0)
        return 0.0;
    // The ring moves instead of the values: input i steps back sits at
    // newest + i, wrapping, so the sum runs in two stretches, still from i = 0 up.
    newest = newest == 0 ? taps - 1 : newest - 1;
    delayLine[newest] = x;
    const int first = taps - newest;
    double sum = 0.0;
    const double* d = delayLine + newest;
    for (int i = 0; i < first; i++)
        sum += coefficients[i] * d[i];
    const double* c = coefficients + first;
    for (int i = 0; i < newest; i++)
        sum += c[i] * delayLine[i];
    return sum;
}

void FirFilter::copyTaps(double* out) const
{
    if (error != 0)
        return;
    for (int i = 0; i < taps; i++)
        out[i] = coefficients[i];
}

int FirFilter::writeTaps(const char* filename) const
{
    if (error != 0)
        return -1;
    FILE* f = fopen(filename, "w");
    if (f == nullptr)
        return -1;
    fprintf(f, "%d\n", taps);
    for (int i = 0; i < taps; i++)
        fprintf(f, "%1.19f\n", coefficients[i]);
    fclose(f);
    return 0;
}

int FirFilter::writeResponse(const char* filename) const
{
    if (error != 0)
        return -1;
    const int points = 10000;
    std::vector<double> magnitude(points);
    double largest = -1.0;
    for (int k = 0; k < points; k++) {
        double w = k * PI / (points - 1);
        double re = 0.0, im = 0.0;
        for (int j = 0; j < taps; j++) {
            re += coefficients[j] * std::cos(j * w);
            im -= coefficients[j] * std::sin(j * w);
        }
        magnitude[k] = std::sqrt(re * re + im * im);
        if (magnitude[k] > largest)
            largest = magnitude[k];
    }
    if (!(largest > 0.0))
        return -2;
    FILE* f = fopen(filename, "w");
    if (f == nullptr)
        return -3;
    for (int k = 0; k < points; k++) {
        double db = magnitude[k] == 0.0 ? -100.0 : 20.0 * std::log10(magnitude[k] / largest);
        if (db < -100.0)
            db = -100.0;
        fprintf(f, "%10.6e %10.6e\n", fs / 2.0 * (k * PI / (points - 1)) / PI, db);
    }
    fclose(f);
    return 0;
}
