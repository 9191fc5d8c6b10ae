// Peak stage: derived radar settings, the five-point peak detector and the drain loop over ring "f".
#include "peak.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

#include <zmq.hpp>

#include "configfile.h"
#include "feedbind.h"
#include "misc.h"
#include "sharedmem.h"
#include "timer.h"

PeakClass::PeakClass(ConfigFile* cfp) : cf(cfp), settingsOf(cfp, BinRange::Widened)
{
    // Room for the most peaks a row can hold, so the list never grows per record.
    plist.reserve(MAX_FFT_BUFFER_SIZE / 3 + 1);
}

int PeakClass::setVars(const char* section)
{
    settingsOf.load(section, std::strlen(section), &settings);
    return 0;
}

int PeakClass::peakDetect(float* data, int size, int start, int end, int blockSize, int noiseLevel,
    std::vector<peak_struct>* plist, float thresholdInv)
{
    if (debug > 5) {
        printf("\npeakdata len:%d data:", size);
        for (int i = 0; i < std::min(size, MAX_FFT_BUFFER_SIZE); ++i)
            printf("%f ", data[i]);
    }
    if (start < 2)
        start = 2;
    if (end >= size - 1)
        end = size - 2;
    if (debug > 2)
        printf("\nnoiseLevel:%d size:%d start:%d end:%d blockSize:%d thresholdInv:%f\n", noiseLevel, size, start, end,
            blockSize, thresholdInv);
    for (int i = start; i < end; ++i) {
        const float d = data[i];
        if (thresholdInv < d && d > data[i - 1] && d > data[i + 1] && d > data[i - 2] && d > data[i + 2]) {
            if (debug > 5)
                printf("\nPeak found: %f>%f>%f>%f>%f", data[i - 2], data[i - 1], d, data[i + 1], data[i + 2]);
            peak_struct p;
            p.bin = i;
            p.height = d;
            const float sum = (((data[i + 2] + data[i + 1]) + d) + data[i - 1]) + data[i - 2];
            p.correction = sum != 0.0f ? (((2 * data[i + 2] + data[i + 1]) - data[i - 1]) - 2 * data[i - 2]) / sum : 0.0f;
            plist->push_back(p);
        }
    }
    return 0;
}

float PeakClass::meanValue(float* data, int size)
{
    if (size <= 0)
        return 0.0f;
    double sum = 0;
    for (int i = 0; i < size; ++i)
        sum += data[i];
    return static_cast<float>(sum / size);
}

float PeakClass::standardDeviation(float* data, int size)
{
    if (size <= 0)
        return 0.0f;
    const float mean = meanValue(data, size);
    double o = 0;
    for (int i = 0; i < size; ++i)
        o += (data[i] - mean) * static_cast<double>(data[i] - mean);
    return static_cast<float>(std::sqrt(o / size));
}

void PeakClass::processRecord(const fft_st& in, int slot, peak_st& out)
{
    char time[TIMESTRSIZE + 1];
    std::memcpy(time, in.time, TIMESTRSIZE);
    time[TIMESTRSIZE] = '\0';
    char section[sizeof in.section + 1];
    std::memcpy(section, in.section, sizeof in.section);
    section[sizeof in.section] = '\0';

    stamps[0] = debug > 2 ? getTime() : 0;
    setVars(section);
    if (debug > 3)
        printf("\npeak t=%s k=%d length=%d time=%s", time, slot, in.length, time);
    stamps[1] = debug > 2 ? getTime() : 0;
    if (debug > 5)
        printf("\npeak fourierDistanceCm=%f minimumbin=%d maximumbin=%d", settings.fourierDistanceCm, settings.minimumbin,
            settings.maximumbin);
    stamps[2] = debug > 2 ? getTime() : 0;

    // Two sweep rows of 2148 bins: larger counts from a corrupt slot stay inside them.
    const int sweeps = std::max(0, std::min(in.nrOfSweeps, MAX_NR_OF_SWEEPS));
    const int size = std::min(in.length, MAX_FFT_BUFFER_SIZE);
    for (int s = 0; s < sweeps; ++s) {
        peakDetect(const_cast<float*>(in.data[s]), size, settings.minimumbin, settings.maximumbin, blockSize, noiseLevel,
            &plist, settings.thresholdInv);
        stamps[3] = debug > 2 ? getTime() : 0;
        const int count = std::min(static_cast<int>(plist.size()), MAX_NR_OF_PEAKS);
        for (int p = 0; p < count; ++p) {
            out.data[s][p] = plist[p];
            if (debug > 3)
                std::cout << std::endl
                          << "Peak Values: (bin=" << plist[p].bin << ", Correction=" << plist[p].correction
                          << ", value=" << plist[p].height << ")";
        }
        plist.clear();
        out.nrOfPeaks[s] = count;
        out.energy[s] = in.energy[s];
        stamps[4] = debug > 2 ? getTime() : 0;
    }

    std::memcpy(out.time, in.time, TIMESTRSIZE);
    out.radnr = in.radnr;
    std::memcpy(out.section, in.section, sizeof out.section);
    out.nrOfSweeps = sweeps;
    out.fft_key = slot;
    out.minimumbin = settings.minimumbin;
    out.maximumbin = settings.maximumbin;
    out.windowdown = settings.minimumbin + 1;
    out.windowup = settings.maximumbin - 1;
    out.nan = in.nan;
}

void PeakClass::traceRead(const radarlist_st&, int last, int slot)
{
    if (debug > 1)
        printf("\nPeak ->getNext ,k=%d, j=%d", last, slot);
}

void PeakClass::tracePosted(int outputSem, int)
{
    if (debug != 0)
        printf("\nPosting for h sem_h=%d", getSemaphoreValue(outputSem));
}

void PeakClass::onRecord(const void* record, int j)
{
    peak_st* peaks = &feed_->next();
    processRecord(*static_cast<const fft_st*>(record), j, *peaks);
    const double beforeStore = debug > 2 ? getTime() : 0;
    const int rc = sm_->add("p", peaks, sizeof(peak_st));
    if (debug > 5) {
        char time[TIMESTRSIZE + 1];
        std::memcpy(time, peaks->time, TIMESTRSIZE);
        time[TIMESTRSIZE] = '\0';
        const int last = peaks->nrOfSweeps > 0 ? peaks->nrOfPeaks[peaks->nrOfSweeps - 1] : 0;
        printf("\npeak rc=%d nrof peaks: %d time: %s nrOfSweeps:%d\n", rc, last, time, peaks->nrOfSweeps);
    }
    feed_->send();
    if (debug > 2) {
        const double sent = getTime();
        printf("\npeak total:%.0lf t2:%.0lf t3:%.0lf t4:%.0lf t5:%.0lf t6:%.0lf t7:%.0lf", sent - stamps[0],
            stamps[1] - stamps[0], stamps[2] - stamps[1], stamps[3] - stamps[2], stamps[4] - stamps[3],
            beforeStore - stamps[4], sent - beforeStore);
    }
}

int PeakClass::generatePeak()
{
    StageLoop loop({semPeakKey, semHKey, "semget peak", true, "semop h+1", "semop peak wait"});
    debug = cf->ValueInt("vintor", "debugpeak");
    noiseLevel = cf->ValueInt("vintor", "peaknoiselevel");
    blockSize = cf->ValueInt("vintor", "peakblocksize");
    StageFeed<peak_st> feed;
    feed.bind(cf->ValueInt("publishers", "peak"), "peak", debug == 0);

    fflush(stdout); // the start-up line reaches a log even while the stage waits
    SharedMem sm(cf);
    radarlist_st input = StageLoop::newestOf(sm, "f");
    feed_ = &feed;
    sm_ = &sm;
    loop.run(sm, &input, 1, *this);
}
