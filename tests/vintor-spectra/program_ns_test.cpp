// The real program with its FFT and peak stages on their fixed files, keys and
// ports, inside the private namespace of tests/ns-run: a sweep record put into
// ring radar0 comes out on the "fft" and "peak" feeds.
#include "harness.h"
#include "records.h"
#include "sharedmem.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

using namespace testsupport;

namespace {

const char* kConfig = R"({
  "general": {"speed": "1000"},
  "vintor": {
    "vintor": {"debug": "0", "debugfft": "0", "debugpeak": "0"},
    "module": {"fft": "1", "peak": "1"},
    "publishers": {"fft": "5030", "peak": "5031"}
  },
  "radar": {"active": "1", "sweepsize": "256", "henn": "1", "threshold": "20", "minimumheight": "0.5",
            "maximumheight": "50", "radaroffset": "0", "mountingangle": "0", "radarType": "F"},
  "radar2": {"active": "0"},
  "radar3": {"active": "0"}
})";

} // namespace

TEST(VintorSpectra, SweepRecordOfRadar0BecomesSpectrumAndPeaksOnTheFeeds)
{
    TempDir dir;
    auto service = startConfigServiceWith(dir, kConfig);
    ASSERT_TRUE(service);

    Process::Options po;
    po.mergeStderr = true;
    Process vintor(VINTOR_BIN, {"5010", "5011"}, po);
    ASSERT_TRUE(vintor.waitForLine("Starting fft publisher: tcp://*:5030", milliseconds(8000))) << vintor.output();
    ASSERT_TRUE(vintor.waitForLine("Starting peak publisher: tcp://*:5031", milliseconds(8000))) << vintor.output();

    sharedmem = mapShared<sharedmem_st>("/tmp/sharedmem");
    sharedmemRadar0 = mapShared<sharedmemRadar_st>("/tmp/sharedmemRadar0");
    ASSERT_NE(sharedmem, nullptr);
    ASSERT_NE(sharedmemRadar0, nullptr);
    SharedMem sm(nullptr);

    // A board sweep pair of 256 samples with a tone at bin 40 (about 23 m).
    radar_st record;
    std::memset(&record, 0, sizeof record);
    std::strcpy(record.section, "radar0");
    record.brand = TARNIX;
    record.nrOfSweeps = 2;
    record.length = 256;
    for (int s = 0; s < 2; ++s)
        for (int i = 0; i < 256; ++i)
            record.data.tarnix[s].data[i + 1] =
                static_cast<uint16_t>(static_cast<int16_t>(std::lround(6000 * std::cos(2 * M_PI * 40 * i / 256))));
    long long t = 1765250000000;
    auto feedOne = [&] {
        const std::string text = std::to_string(++t);
        std::memcpy(record.time, text.c_str(), text.size() + 1);
        sm.add("radar0", &record, sizeof record);
        setSemaphore(getSemaphore(KEYFFT), 1);
    };

    Subscriber fftFeed("tcp://127.0.0.1:5030");
    Subscriber peakFeed("tcp://127.0.0.1:5031");
    std::string spectrumBytes, peakBytes;
    ASSERT_TRUE(fftFeed.receiveAfter(feedOne, &spectrumBytes, milliseconds(10000))) << vintor.output();
    ASSERT_TRUE(peakFeed.receiveAfter(feedOne, &peakBytes, milliseconds(10000))) << vintor.output();
    ASSERT_EQ(spectrumBytes.size(), sizeof(fft_st));
    ASSERT_EQ(peakBytes.size(), sizeof(peak_st));

    fft_st spectrum;
    peak_st peaks;
    std::memcpy(&spectrum, spectrumBytes.data(), sizeof spectrum);
    std::memcpy(&peaks, peakBytes.data(), sizeof peaks);
    EXPECT_STREQ(spectrum.section, "radar0");
    EXPECT_EQ(spectrum.length, 256);
    EXPECT_EQ(spectrum.nrOfSweeps, 2);
    EXPECT_NEAR(spectrum.energy[0], 6000.0 * 6000.0 / 2, 6000.0 * 6000.0 * 1e-3);
    ASSERT_EQ(peaks.nrOfPeaks[0], 1);
    EXPECT_EQ(peaks.data[0][0].bin, 40);
    EXPECT_EQ(peaks.data[1][0].bin, 40);
    EXPECT_NEAR(peaks.data[0][0].correction, 0.0f, 1e-2);
    EXPECT_GT(sharedmem->status.fft, 0);

    // The radar list was empty (no radar manager), so the FFT stage assumed radar0.
    EXPECT_EQ(std::string(sharedmem->key.radars, 6), "radar0");
    munmap(sharedmem, sizeof(sharedmem_st));
    munmap(sharedmemRadar0, sizeof(sharedmemRadar_st));
    sharedmem = nullptr;
    sharedmemRadar0 = nullptr;
}
