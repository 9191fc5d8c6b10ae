// FFT stage: sample conversion per front-end, window, fixed-point transform,
// normalised power, and the drain loop over the radar rings.
#include "fft.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <zmq.hpp>

#include "configfile.h"
#include "feedbind.h"
#include "misc.h"
#include "sharedmem.h"
#include "timer.h"

namespace {

// Samples a record member can hold for one sweep.
constexpr int SIVERS_MAX_SAMPLES = 3005;
constexpr int BOARD_MAX_SAMPLES = 1024; // data[1..1024]; word 0 is not a sample
constexpr int REPLAY_MAX_SAMPLES = 300;
constexpr int SERIAL_PAYLOAD_BYTES = 8292;

int clampCount(long long n, int limit)
{
    if (n <= 0)
        return 0;
    return n < limit ? static_cast<int>(n) : limit;
}

// 64-bit sums and products that saturate instead of wrapping: only 32-bit
// samples can reach the limit; every 16-bit sweep keeps its exact values.
int64_t satAdd(int64_t a, int64_t b)
{
    int64_t r;
    if (__builtin_add_overflow(a, b, &r))
        return b > 0 ? INT64_MAX : INT64_MIN;
    return r;
}

// Mean of squared 32-bit samples: the sum needs up to 74 bits, so it is kept
// in two words and divided limb by limb (no 128-bit type on 32-bit targets).
int64_t meanOfSquares(const int32_t* v, int n)
{
    if (n <= 0)
        return 0;
    uint64_t lo = 0, hi = 0;
    for (int i = 0; i < n; ++i) {
        const uint64_t sq = static_cast<uint64_t>(static_cast<int64_t>(v[i]) * v[i]);
        lo += sq;
        hi += lo < sq ? 1 : 0;
    }
    const uint32_t limbs[4] = {static_cast<uint32_t>(hi >> 32), static_cast<uint32_t>(hi),
        static_cast<uint32_t>(lo >> 32), static_cast<uint32_t>(lo)};
    uint64_t rem = 0, q = 0;
    for (uint32_t limb : limbs) {
        const uint64_t cur = (rem << 32) | limb;
        q = (q << 32) | (cur / static_cast<uint64_t>(n));
        rem = cur % static_cast<uint64_t>(n);
    }
    return static_cast<int64_t>(q);
}

int64_t satMul(int64_t a, int64_t b)
{
    int64_t r;
    if (__builtin_mul_overflow(a, b, &r))
        return (a < 0) != (b < 0) ? INT64_MIN : INT64_MAX;
    return r;
}

// Normalised power of bins 0 ... bins-1, (fr^2 + fi^2) * 4^scale / n^2, as the
// float of the 64-bit power divided in float: worked out in double, where
// these sums are exact, four bins at a time. False when some sum would not be
// exact: the caller then writes the row from the 64-bit powers.
bool normalisedPowerRow(const fixed* fr, const fixed* fi, int bins, int scale, float norm, float* row)
{
    typedef int64_t v4l __attribute__((vector_size(32)));
    typedef double v4d __attribute__((vector_size(32)));
    typedef float v4f __attribute__((vector_size(16)));
    // x + 2^52 + 2^51 read as a double is that double plus x, for |x| < 2^51.
    const int64_t magicBits = 0x4338000000000000LL;
    const double magic = 6755399441055744.0;
    const double factor = std::ldexp(1.0, scale > 0 ? 2 * scale : 0);
    const int whole = bins & ~3;
    v4d largest = {0, 0, 0, 0};
    for (int i = 0; i < whole; i += 4) {
        v4l r, q;
        std::memcpy(&r, fr + i, sizeof r);
        std::memcpy(&q, fi + i, sizeof q);
        const v4d dr = (v4d)(r + magicBits) - magic; // the casts reinterpret the bits
        const v4d di = (v4d)(q + magicBits) - magic;
        const v4d sum = dr * dr + di * di;
        largest = sum > largest ? sum : largest;
        const v4f p = __builtin_convertvector(sum * factor, v4f) / norm;
        std::memcpy(row + i, &p, sizeof p);
    }
    double top = std::max(std::max(largest[0], largest[1]), std::max(largest[2], largest[3]));
    for (int i = whole; i < bins; ++i) {
        const double dr = static_cast<double>(fr[i]), di = static_cast<double>(fi[i]);
        const double sum = dr * dr + di * di;
        top = std::max(top, sum);
        row[i] = static_cast<float>(sum * factor) / norm;
    }
    // Exact below 2^53, and the 64-bit power below 2^62 (values of 16-bit sweeps stay below 2^36).
    return top < 9007199254740992.0 && top * factor < 4611686018427387904.0;
}

} // namespace

FFTClass::FFTClass(ConfigFile* cfp) : cf(cfp)
{
    std::memset(fft_real, 0, sizeof fft_real);
    std::memset(fft_imag, 0, sizeof fft_imag);
    std::memset(f_pow, 0, sizeof f_pow);
}

int FFTClass::sweepWords(const radar_st& in, int s, const unsigned char** words, bool* littleEndian)
{
    *words = nullptr;
    *littleEndian = false;
    switch (in.brand) {
    case SIVERSIMA:
        return clampCount(in.length, std::min(SIVERS_MAX_SAMPLES, MAX_FFT_BUFFER_SIZE));
    case TARNIX:
        if (debug != 0)
            printf("\nfft Tarnix sweepnr:%d time=%s tarnixVersion: %d", s, timeText, in.data.tarnix[s].version);
        *words = reinterpret_cast<const unsigned char*>(in.data.tarnix[s].data + 1);
        return clampCount(in.length, BOARD_MAX_SAMPLES);
    case READFILE:
    case READUDP:
        *words = reinterpret_cast<const unsigned char*>(in.data.rf[s].data);
        return clampCount(in.length, REPLAY_MAX_SAMPLES);
    default: {
        // Serial radar: little-endian words; the sweeps share the payload.
        *words = reinterpret_cast<const unsigned char*>(in.data.com);
        *littleEndian = true;
        const long long q = in.nrOfSweeps > 0 ? in.length / in.nrOfSweeps : 0;
        const long long start = static_cast<long long>(s) * in.length / 2;
        if (q <= 0 || start < 0 || start >= SERIAL_PAYLOAD_BYTES)
            return 0;
        *words += start;
        const int fits = static_cast<int>((SERIAL_PAYLOAD_BYTES - start) / 2);
        return clampCount((q - 1) / 2 + 1, std::min(fits, MAX_FFT_BUFFER_SIZE));
    }
    }
}

int64_t FFTClass::convertSweep(const radar_st& in, int length, const unsigned char* words, bool littleEndian)
{
    narrowSamples = words != nullptr;
    if (words == nullptr) {
        for (int i = 0; i < length; ++i)
            fft_real[i] = in.data.siv[i];
        std::fill(fft_imag, fft_imag + length, 0);
        return meanOfSquares(in.data.siv, length);
    }
    int64_t sum = 0;
    for (int i = 0; i < length; ++i) {
        int16_t v;
        if (littleEndian)
            v = static_cast<int16_t>(static_cast<uint16_t>(words[2 * i] | (words[2 * i + 1] << 8)));
        else
            std::memcpy(&v, words + 2 * i, sizeof v);
        fft_real[i] = v;
        sum += static_cast<int64_t>(v) * v;
    }
    std::fill(fft_imag, fft_imag + length, 0);
    return length > 0 ? sum / length : 0;
}

bool FFTClass::windowed(const radar_st& in)
{
    // The stage never changes "henn": one lookup per section is enough.
    if (const bool* known = hennOf.find(in.section, sizeof in.section))
        return *known;
    const std::string section(in.section, strnlen(in.section, sizeof in.section));
    const bool henn = cf->ValueInt(section, "henn") != 0;
    hennOf.store(in.section, sizeof in.section, henn);
    return henn;
}

void FFTClass::printSamples(const char* label, int length)
{
    printf("\nt=%s %s: ", timeText, label);
    for (int i = 0; i < length; ++i)
        printf("%d ", static_cast<int32_t>(fft_real[i]));
}

int FFTClass::transformSweep(const radar_st& in, int length, int m, const unsigned char* words16, int64_t* energyIn,
    bool* inLanes)
{
    const bool henn = windowed(in);
    if (henn && debug > 2)
        printf("\nwindow length=%d", length);
    if (words16 != nullptr) {
        int64_t sumSquares = 0;
        const int scale = transform16(words16, length, henn, 1, fft_real, fft_imag, &sumSquares, inLanes);
        *energyIn = sumSquares / length;
        return scale;
    }
    if (henn) {
        window(fft_real, length);
        if (debug > 6)
            printSamples("Hanning Data", length);
    }
    return fix_fft(fft_real, fft_imag, m, 1);
}

void FFTClass::powerOfSweep(int length, int scale, bool inLanes, int64_t energyIn, float* row)
{
    const int square = length * length;
    const float norm = static_cast<float>(square);
    const int bins = length / 2;
    // The row comes straight from the transform; the 64-bit powers are worked
    // out only where that is not exact (32-bit samples) and for the debug lines.
    bool rowDone = inLanes ? powerRow(bins, scale, norm, row)
                           : narrowSamples && normalisedPowerRow(fft_real, fft_imag, bins, scale, norm, row);
    if (inLanes && !rowDone)
        lanesOut(fft_real, fft_imag, length);
    if (!rowDone || debug > 3) {
        const int64_t factor = scale > 0 ? int64_t(1) << (2 * scale) : 1;
        const int powers = debug > 3 ? length : bins;
        for (int i = 0; i < powers; ++i)
            f_pow[i] = satMul(satAdd(satMul(fft_real[i], fft_real[i]), satMul(fft_imag[i], fft_imag[i])), factor);
    }
    if (!rowDone) {
        for (int i = 0; i < bins; ++i)
            row[i] = static_cast<float>(f_pow[i]) / norm;
    }
    stamp(3);
    if (debug > 3) {
        int64_t energyOut = 0;
        for (int i = 0; i < length; ++i)
            energyOut = satAdd(energyOut, f_pow[i]);
        energyOut /= square;
        const double correction = energyOut == 0 ? 0.0 : static_cast<float>(energyIn / energyOut);
        printf("\nt=%s Org:%lld Calc:%lld Correction=%lf", timeText, static_cast<long long>(energyIn),
            static_cast<long long>(energyOut), correction);
    }
    if (debug > 7) {
        for (int i = 0; i < length; ++i)
            printf("%lld ", static_cast<long long>(f_pow[i]));
    }
}

void FFTClass::spectrumOfSweep(const radar_st& in, int s, int length, int64_t energyIn, const unsigned char* words16,
    fft_st& out)
{
    float* row = out.data[s];
    if (length <= 0) {
        // Nothing measured: no energy and no spectrum, rather than a division by zero.
        out.energy[s] = 0.0;
        std::fill(row, row + MAX_FFT_BUFFER_SIZE, 0.0f);
        stamp(2);
        stamp(3);
        stamp(4);
        return;
    }
    if (debug > 4)
        printSamples("Org Data", length);

    setN_WAVE(length);
    const int m = util::isPowerOfTwo(length);
    bool inLanes = false;
    const int scale = transformSweep(in, length, m, words16, &energyIn, &inLanes);
    stamp(2);
    if (debug > 2)
        printf("\nfft-Scale: %d", scale);
    if (debug > 3)
        printf("\nfft sweepnr=%d pow=%d abs: ", s, m);
    powerOfSweep(length, scale, inLanes, energyIn, row);

    out.energy[s] = static_cast<double>(energyIn);
    // The rest of the row would otherwise show another record's spectrum.
    const int bins = length / 2;
    std::fill(row + bins, row + MAX_FFT_BUFFER_SIZE, 0.0f);
    stamp(4);
    if (debug > 5) {
        printf("\nt=%s fft data: ", timeText);
        for (int i = 0; i < bins; ++i)
            printf("%f ", row[i]);
    }
}

void FFTClass::printRaw(const radar_st& in)
{
    printf("\nt=%s Radardata Data: ", timeText);
    switch (in.brand) {
    case SIVERSIMA:
    case READFILE:
    case READUDP:
        // The payload as 32-bit words, whatever member the front-end filled.
        for (int i = 0; i < clampCount(in.length, SIVERS_MAX_SAMPLES); ++i)
            printf("%ld ", static_cast<long>(in.data.siv[i]));
        break;
    case TARNIX:
        for (int s = 0; s < MAX_NR_OF_SWEEPS; ++s)
            for (int i = 0; i <= clampCount(in.length, BOARD_MAX_SAMPLES); ++i)
                printf("%d ", in.data.tarnix[s].data[i]);
        break;
    default:
        for (int i = 0; i < clampCount(in.length, SERIAL_PAYLOAD_BYTES); ++i)
            printf("%2X ", static_cast<unsigned char>(in.data.com[i]));
        break;
    }
}

void FFTClass::processRecord(const radar_st& in, fft_st& out)
{
    char time[TIMESTRSIZE + 1];
    std::memcpy(time, in.time, TIMESTRSIZE);
    time[TIMESTRSIZE] = '\0';
    timeText = time;
    if (debug != 0)
        printf("\nfft NoOfsweeps:%d", in.nrOfSweeps);
    if (debug > 6)
        printRaw(in);

    // A record holds two sweep rows; a larger count must not reach past them.
    const int sweeps = std::max(0, std::min(in.nrOfSweeps, MAX_NR_OF_SWEEPS));
    for (int s = 0; s < sweeps; ++s) {
        stamp(0);
        const unsigned char* words = nullptr;
        bool littleEndian = false;
        const int length = sweepWords(in, s, &words, &littleEndian);
        // Power-of-two sweeps of 16-bit words in this machine's order go
        // straight into the transform's 32-bit lanes, unless a debug level
        // wants to show the 64-bit samples or powers.
        const bool hostOrder = !littleEndian || __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
        const int m = util::isPowerOfTwo(length);
        setN_WAVE(length);
        const bool direct = words != nullptr && hostOrder && debug <= 3 && m >= 3 && length <= N_WAVE;
        const int64_t meanSquare = direct ? 0 : convertSweep(in, length, words, littleEndian);
        if (direct)
            narrowSamples = true;
        stamp(1);
        spectrumOfSweep(in, s, length, meanSquare, direct ? words : nullptr, out);
        out.length = length;
        if (debug != 0)
            fflush(stdout);
    }

    std::memcpy(out.time, in.time, TIMESTRSIZE);
    out.nrOfSweeps = sweeps;
    out.radnr = in.radnr;
    out.nan = in.nan;
    std::memcpy(out.section, in.section, sizeof out.section);
    timeText = "";
}

void FFTClass::buildRadarList(const char* text)
{
    radar_list.clear();
    for (const std::string& name : util::explode(",", text)) {
        // Only the three radar rings exist; an unknown or empty name (a trailing
        // comma) would be asked for and reported on every cycle.
        if (name != "radar0" && name != "radar1" && name != "radar2")
            continue;
        radarlist_st rl{};
        std::memcpy(rl.name, name.c_str(), name.size());
        radar_list.push_back(rl);
    }
}

namespace {

// The radar manager owns the list; an empty one means a single radar0.
void waitForRadarList(SharedMem& sm, char* text, std::size_t size)
{
    unsigned int len = 0;
    std::memset(text, 0, size);
    sm.get("radars", text, &len, 0);
    if (text[0] == '\0') {
        char first[] = "radar0";
        sm.set("radars", first, 6);
    }
    for (;;) {
        std::memset(text, 0, size);
        len = 0;
        const int rc = sm.get("radars", text, &len, 0);
        if (text[0] != '\0' && rc == 0)
            break;
        if (text[0] == '\0')
            printf("\nfft radars=empty");
        uSleep(4000000);
    }
    printf("\nstr: %s", text);
    fflush(stdout); // the start-up lines reach a log even while the stage waits
}

} // namespace

void FFTClass::traceRead(const radarlist_st& ring, int last, int slot)
{
    if (debug > 1)
        printf("\nFFT ->getNext %s,index=%d, j=%d", ring.name, last, slot);
}

void FFTClass::tracePosted(int outputSem, int inputSem)
{
    if (debug != 0) {
        printf("\nPosting for peak sem_peak=%d\n", getSemaphoreValue(outputSem));
        printf("\nWaiting for fft %d\n", getSemaphoreValue(inputSem));
    }
}

void FFTClass::onRecord(const void* in, int k)
{
    const radar_st* record = static_cast<const radar_st*>(in);
    char time[TIMESTRSIZE + 1];
    std::memcpy(time, record->time, TIMESTRSIZE);
    time[TIMESTRSIZE] = '\0';
    if (debug > 3)
        printf("\nfft k=%d length=%d time=%s", k, record->length, time);
    const double start = debug != 0 ? getTime() : 0;
    fft_st* spectrum = &feed_->next();
    processRecord(*record, *spectrum);
    for (int s = 0; s < spectrum->nrOfSweeps; ++s)
        uSleep(10);
    const int added = sm_->add("f", spectrum, sizeof(fft_st));
    const double stored = debug != 0 ? getTime() : 0;
    if (debug > 3)
        printf("\nfft t=%s ret=%d added length=%d time=%s", time, added, spectrum->length, time);
    feed_->send();
    if (debug != 0) {
        const double sent = getTime();
        printf("\nfft total:%.0lf t2:%.0lf t3:%.0lf t4:%.0lf t5:%.0lf t6:%.0lf t7:%.0lf", sent - start,
            stamps[1] - stamps[0], stamps[2] - stamps[1], stamps[3] - stamps[2], stamps[4] - stamps[3],
            stored - stamps[4], sent - stored);
    }
    if (sharedmem != nullptr) // after 2^31 records the count wraps rather than overflowing
        sharedmem->status.fft = static_cast<int32_t>(static_cast<uint32_t>(sharedmem->status.fft) + 1u);
}

int FFTClass::generateFFT()
{
    StageLoop loop({semFftKey, semPeakKey, "semget fft", true, "semop error peak+1", "semop error fft wait"});
    debug = cf->ValueInt("vintor", "debugfft");
    StageFeed<fft_st> feed;
    feed.bind(cf->ValueInt("publishers", "fft"), "fft", debug == 0);

    SharedMem sm(cf);
    char text[RADARS_TEXT_SIZE + 1];
    waitForRadarList(sm, text, sizeof text);
    buildRadarList(text);
    for (radarlist_st& r : radar_list)
        r.index = sm.getIndex(r.name);
    feed_ = &feed;
    sm_ = &sm;
    loop.run(sm, radar_list.data(), static_cast<int>(radar_list.size()), *this);
}
