// feed-listen's choice of decoder, and its decoders on damaged and foreign
// messages.
#include "decode.h"
#include "feedrecords.h"
#include "harness.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using testsupport::count;

namespace {

std::string printed(FeedKind kind, const void* data, size_t size)
{
    char* text = nullptr;
    size_t length = 0;
    FILE* out = open_memstream(&text, &length);
    printMessage(kind, static_cast<const char*>(data), size, out);
    fclose(out);
    std::string s(text, length);
    free(text);
    return s;
}

TEST(FeedListen, ChoosesTheDecoderByTheHashOfModuleAndPublisher)
{
    // Values derived apart from the code, from the hash's definition.
    EXPECT_EQ(publisherHash("vintor-h"), 3076156344u);
    EXPECT_EQ(publisherHash("vintor-peak"), 1717101199u);
    EXPECT_EQ(publisherHash("vintor-fft"), 1098061412u);
    EXPECT_EQ(publisherHash("tarnix-pic32-rawdata-pub"), 4265946552u);
    EXPECT_EQ(feedKind("tarnix-pic32", "rawdata-pub"), FeedKind::Tarnix);
    EXPECT_EQ(feedKind("vintor-h", ""), FeedKind::Text);
}

TEST(FeedListen, DamagedRecordsPrintOnlyWhatTheirArraysHold)
{
    heave_st heave{};
    heave.nrOfSweeps = 7;
    memset(heave.time, '1', sizeof heave.time); // no terminating NUL
    std::string h = printed(FeedKind::Heave, &heave, sizeof heave);
    EXPECT_EQ(count(h, "\ntime=11111111111111111111;sweepnr="), 2u) << h;

    peak_st peak{};
    peak.nrOfSweeps = 2;
    peak.nrOfPeaks[0] = 1000;
    peak.nrOfPeaks[1] = -3;
    EXPECT_EQ(count(printed(FeedKind::Peak, &peak, sizeof peak), ":0.000000:0.000000,"), 64u);

    static fft_st fft{};
    fft.nrOfSweeps = 1;
    fft.length = 99999;
    EXPECT_EQ(count(printed(FeedKind::Fft, &fft, sizeof fft), "0.000000,"), 2148u);
    fft.length = 9; // samples: four whole bins
    EXPECT_EQ(count(printed(FeedKind::Fft, &fft, sizeof fft), "0.000000,"), 4u);

    EXPECT_EQ(printed(FeedKind::Heave, &heave, 91), "\nWrong record size: 91 bytes, expected 92");
    EXPECT_EQ(printed(FeedKind::Fft, &fft, 20000), "\nWrong record size: 20000 bytes, expected 17248");

    std::string text(TEXT_CAPACITY, 'a');
    EXPECT_EQ(printed(FeedKind::Text, text.data(), 250000), std::string(TEXT_CAPACITY - 1, 'a') + "\n");
}

} // namespace
