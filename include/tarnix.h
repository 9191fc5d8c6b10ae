// Records of the radar board's reader: one board sweep and the sweep-pair record
// that travels on its "rawdata-pub" feed. Shared by the reader and every program
// that decodes its feed, so the byte image is pinned here once.
#pragma once

#include <cstddef>
#include <cstdint>

// One sweep frame of the board, words in host (little-endian) order.
struct beagle_raw_data_t {
    uint16_t version;      // 0x000C in a sweep frame
    uint16_t temperature;
    uint32_t start_freq;
    uint32_t bandwidth;
    uint32_t id;
    uint32_t time;         // board time stamp
    uint16_t gain;         // bit 0x0100 marks the first sweep of a pair
    uint16_t offset;
    uint16_t data[1025];
    uint16_t crc;
};

// One sweep pair as published by the board reader.
struct tarnix_st {
    int64_t time;          // epoch milliseconds when the first sweep was accepted
    int32_t quit;          // 1 once the reader has been told to end
    beagle_raw_data_t tarnix_data[2];
    int32_t sweepsize;
};

static_assert(sizeof(beagle_raw_data_t) == 2076, "beagle_raw_data_t size");
static_assert(offsetof(beagle_raw_data_t, version) == 0, "beagle version");
static_assert(offsetof(beagle_raw_data_t, temperature) == 2, "beagle temperature");
static_assert(offsetof(beagle_raw_data_t, start_freq) == 4, "beagle start_freq");
static_assert(offsetof(beagle_raw_data_t, bandwidth) == 8, "beagle bandwidth");
static_assert(offsetof(beagle_raw_data_t, id) == 12, "beagle id");
static_assert(offsetof(beagle_raw_data_t, time) == 16, "beagle time");
static_assert(offsetof(beagle_raw_data_t, gain) == 20, "beagle gain");
static_assert(offsetof(beagle_raw_data_t, offset) == 22, "beagle offset");
static_assert(offsetof(beagle_raw_data_t, data) == 24, "beagle data");
static_assert(offsetof(beagle_raw_data_t, crc) == 2074, "beagle crc");

static_assert(sizeof(tarnix_st) == 4168, "tarnix_st size");
static_assert(offsetof(tarnix_st, time) == 0, "tarnix time");
static_assert(offsetof(tarnix_st, quit) == 8, "tarnix quit");
static_assert(offsetof(tarnix_st, tarnix_data) == 12, "tarnix data");
static_assert(offsetof(tarnix_st, tarnix_data[1]) == 2088, "tarnix data[1]");
static_assert(offsetof(tarnix_st, sweepsize) == 4164, "tarnix sweepsize");
