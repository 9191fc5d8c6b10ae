#include "decode.h"

#include "feedrecords.h"
#include "tarnix.h"

#include <algorithm>
#include <cstring>
#include <string>

uint32_t publisherHash(const char* text)
{
    uint32_t h = 5381;
    for (size_t i = strlen(text); i > 0; i--)
        h = static_cast<unsigned char>(text[i - 1]) ^ (33 * h);
    return h;
}

FeedKind feedKind(const char* module, const char* publisher)
{
    static const struct {
        uint32_t hash;
        FeedKind kind;
    } decoders[] = {
        {publisherHash("vintor-h"), FeedKind::Heave},
        {publisherHash("vintor-peak"), FeedKind::Peak},
        {publisherHash("vintor-fft"), FeedKind::Fft},
        {publisherHash("tarnix-pic32-rawdata-pub"), FeedKind::Tarnix},
    };
    std::string name = std::string(module) + "-" + publisher;
    uint32_t h = publisherHash(name.c_str());
    for (const auto& d : decoders)
        if (d.hash == h)
            return d.kind;
    return FeedKind::Text;
}

size_t messageCapacity(FeedKind kind)
{
    switch (kind) {
    case FeedKind::Heave:
        return sizeof(heave_st);
    case FeedKind::Peak:
        return sizeof(peak_st);
    case FeedKind::Fft:
        return sizeof(fft_st);
    case FeedKind::Tarnix:
        return sizeof(tarnix_st);
    case FeedKind::Text:
        break;
    }
    return TEXT_CAPACITY;
}

namespace {

// Counts read from a record, bounded by the arrays they index.
int bounded(int value, int limit)
{
    return std::min(std::max(value, 0), limit);
}

// Length of a fixed text field, which a damaged record may leave unterminated.
template <size_t N>
int textLength(const char (&field)[N])
{
    return static_cast<int>(strnlen(field, N));
}

void printHeave(const heave_st& r, FILE* out)
{
    for (int s = 0; s < bounded(r.nrOfSweeps, MAX_NR_OF_SWEEPS); s++)
        fprintf(out,
                "\ntime=%.*s;sweepnr=%d;sensor=%.*s;distance=%f;distanceAvg=%f;Vheave=%f,Dup=%f,Ddown=%f,Ep=%f,"
                "energy=%f,nan=%d",
                textLength(r.time), r.time, s, textLength(r.section), r.section, r.distance[s], r.distanceAvg,
                r.VDoppler, r.Dup, r.Ddown, r.Ep[s], r.energy[s], r.nan);
}

void printPeak(const peak_st& r, FILE* out)
{
    for (int s = 0; s < bounded(r.nrOfSweeps, MAX_NR_OF_SWEEPS); s++) {
        fprintf(out, "\ntime=%.*s;sweepnr=%d;sensor=%.*s;energy=%f;peaks(bin:height:correction)=", textLength(r.time),
                r.time, s, textLength(r.section), r.section, r.energy[s]);
        for (int p = 0; p < bounded(r.nrOfPeaks[s], MAX_NR_OF_PEAKS); p++)
            fprintf(out, "%d:%f:%f,", r.data[s][p].bin, r.data[s][p].height, r.data[s][p].correction);
    }
}

// length counts the samples that went into the transform; only the first
// half of each row holds spectrum bins.
void printFft(const fft_st& r, FILE* out)
{
    int bins = bounded(r.length / 2, MAX_FFT_BUFFER_SIZE);
    for (int s = 0; s < bounded(r.nrOfSweeps, MAX_NR_OF_SWEEPS); s++) {
        fprintf(out, "\ntime=%.*s;sweepnr=%d;sensor=%.*s;fft=", textLength(r.time), r.time, s, textLength(r.section),
                r.section);
        for (int i = 0; i < bins; i++)
            fprintf(out, "%f,", r.data[s][i]);
    }
}

void printTarnix(const tarnix_st& r, FILE* out)
{
    for (int s = 0; s < 2; s++) {
        const beagle_raw_data_t& d = r.tarnix_data[s];
        fprintf(out, "\nVersion:%04X Temp:%d id:%u time:%u sweepnr:%d sweepsize:%d gain:%d timestamp:%lld\nData: ",
                d.version, d.temperature, d.id, d.time, s, r.sweepsize, d.gain & 0xFF,
                static_cast<long long>(r.time));
        for (int i = 0; i < 1024; i++)
            fprintf(out, "%d ", d.data[i]);
    }
}

// The record's bytes copied into an aligned record; false (and a note) when
// the message has another size.
template <typename Record>
bool take(const char* data, size_t size, Record* record, FILE* out)
{
    if (size != sizeof(Record)) {
        fprintf(out, "\nWrong record size: %zu bytes, expected %zu", size, sizeof(Record));
        return false;
    }
    memcpy(record, data, sizeof(Record));
    return true;
}

} // namespace

void printMessage(FeedKind kind, const char* data, size_t size, FILE* out)
{
    // One record at a time; static, as the spectrum record is 17 kB.
    static union {
        heave_st heave;
        peak_st peak;
        fft_st fft;
        tarnix_st tarnix;
    } r;
    switch (kind) {
    case FeedKind::Heave:
        if (take(data, size, &r.heave, out))
            printHeave(r.heave, out);
        break;
    case FeedKind::Peak:
        if (take(data, size, &r.peak, out))
            printPeak(r.peak, out);
        break;
    case FeedKind::Fft:
        if (take(data, size, &r.fft, out))
            printFft(r.fft, out);
        break;
    case FeedKind::Tarnix:
        if (take(data, size, &r.tarnix, out))
            printTarnix(r.tarnix, out);
        break;
    case FeedKind::Text: {
        size_t length = strnlen(data, std::min(size, TEXT_CAPACITY - 1));
        fwrite(data, 1, length, out);
        fputc('\n', out);
        break;
    }
    }
}
