// Records that pass between the stages of the radar program and the layouts of
// its shared-memory files; the records of its "fft", "peak" and "h" feeds,
// which other programs decode too, are in feedrecords.h. Every size and offset
// is pinned below. Padding is what natural alignment gives on the
// targets (x86-64, ARM EABI); the asserts catch any platform where it differs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "defaults.h"
#include "feedrecords.h"
#include "tarnix.h"

// Slot width of the text rings ("log" and the task rings): 250 bytes of text and a NUL.
constexpr int TEXT_SLOT_SIZE = LOG_LINE_WIDTH + 1;
constexpr int RADARS_TEXT_SIZE = 30;

// One recorded sweep as replayed from a file or a network peer.
struct readfile_raw_data_t {
    char sensorname[40];
    char time[TIMESTRSIZE];
    int sweepnr;
    int16_t data[300];
};

// Raw sweep payload; the member is chosen by the record's brand.
union u_radar_data {
    char com[8292];
    int32_t siv[3005];
    readfile_raw_data_t rf[2];
    beagle_raw_data_t tarnix[2];
};

// One measurement (an up and a down sweep) of one radar.
struct radar_st {
    int status;
    char radarVersion[20];
    char time[TIMESTRSIZE];
    int radnr;
    int brand;
    char section[10];
    int nrOfSweeps;
    u_radar_data data;
    int length;
    int nan;
};

// Status block at the start of /tmp/sharedmem.
struct status_st {
    int radarConnection;
    int radarCom;
    int32_t fft;
    int32_t peak;
    int32_t peakmiss;
    char radarVersion[100];
};

// Write index of every ring (the slot written last) and the radars in use.
struct key_st {
    int log;
    int radar0;
    int radar1;
    int radar2;
    int fft;
    int peak;
    int heave;
    int tasks;
    int subscriptiontasks;
    int radartasks;
    char radars[RADARS_TEXT_SIZE];
};

// The whole of /tmp/sharedmem.
struct sharedmem_st {
    status_st status;
    char log[LOG_MAX_INDEX][TEXT_SLOT_SIZE];
    fft_st fft[MEMCACHE_MAX_INDEX];
    peak_st peak[MEMCACHE_MAX_INDEX];
    heave_st heave[MEMCACHE_MAX_INDEX];
    char tasks[TASKS_MAX_INDEX][TEXT_SLOT_SIZE];
    char subscriptiontasks[TASKS_MAX_INDEX][TEXT_SLOT_SIZE];
    char radartasks[TASKS_MAX_INDEX][TEXT_SLOT_SIZE];
    key_st key;
};

// The whole of one /tmp/sharedmemRadarN.
struct sharedmemRadar_st {
    radar_st radar[MEMCACHE_MAX_INDEX];
    char timestring[TIMESTRSIZE];
    double localtime;
    int semafore;
};

// One stage process of the supervisor (in memory only).
struct pidlist_st {
    int pid;
    char name[20];
};

// Sizes of the files the supervisor creates.
constexpr size_t SHAREDMEM_FILE_SIZE = sizeof(sharedmem_st);
constexpr size_t SHAREDMEM_RADAR_FILE_SIZE = sizeof(sharedmemRadar_st);

static_assert(sizeof(readfile_raw_data_t) == 664, "readfile_raw_data_t size");
static_assert(offsetof(readfile_raw_data_t, sensorname) == 0, "rf sensorname");
static_assert(offsetof(readfile_raw_data_t, time) == 40, "rf time");
static_assert(offsetof(readfile_raw_data_t, sweepnr) == 60, "rf sweepnr");
static_assert(offsetof(readfile_raw_data_t, data) == 64, "rf data");

static_assert(sizeof(u_radar_data) == 12020, "u_radar_data size");
static_assert(sizeof(u_radar_data::com) == 8292, "u_radar_data com");
static_assert(sizeof(u_radar_data::siv) == 12020, "u_radar_data siv");
static_assert(sizeof(u_radar_data::rf) == 1328, "u_radar_data rf");
static_assert(sizeof(u_radar_data::tarnix) == 4152, "u_radar_data tarnix");
static_assert(offsetof(u_radar_data, com) == 0 && offsetof(u_radar_data, siv) == 0 &&
              offsetof(u_radar_data, rf) == 0 && offsetof(u_radar_data, tarnix) == 0,
              "u_radar_data members start at 0");

static_assert(sizeof(radar_st) == 12096, "radar_st size");
static_assert(offsetof(radar_st, status) == 0, "radar status");
static_assert(offsetof(radar_st, radarVersion) == 4, "radar radarVersion");
static_assert(offsetof(radar_st, time) == 24, "radar time");
static_assert(offsetof(radar_st, radnr) == 44, "radar radnr");
static_assert(offsetof(radar_st, brand) == 48, "radar brand");
static_assert(offsetof(radar_st, section) == 52, "radar section");
static_assert(offsetof(radar_st, nrOfSweeps) == 64, "radar nrOfSweeps");
static_assert(offsetof(radar_st, data) == 68, "radar data");
static_assert(offsetof(radar_st, length) == 12088, "radar length");
static_assert(offsetof(radar_st, nan) == 12092, "radar nan");

static_assert(sizeof(status_st) == 120, "status_st size");
static_assert(offsetof(status_st, radarConnection) == 0, "status radarConnection");
static_assert(offsetof(status_st, radarCom) == 4, "status radarCom");
static_assert(offsetof(status_st, fft) == 8, "status fft");
static_assert(offsetof(status_st, peak) == 12, "status peak");
static_assert(offsetof(status_st, peakmiss) == 16, "status peakmiss");
static_assert(offsetof(status_st, radarVersion) == 20, "status radarVersion");

static_assert(sizeof(key_st) == 72, "key_st size");
static_assert(offsetof(key_st, log) == 0, "key log");
static_assert(offsetof(key_st, radar0) == 4, "key radar0");
static_assert(offsetof(key_st, radar1) == 8, "key radar1");
static_assert(offsetof(key_st, radar2) == 12, "key radar2");
static_assert(offsetof(key_st, fft) == 16, "key fft");
static_assert(offsetof(key_st, peak) == 20, "key peak");
static_assert(offsetof(key_st, heave) == 24, "key heave");
static_assert(offsetof(key_st, tasks) == 28, "key tasks");
static_assert(offsetof(key_st, subscriptiontasks) == 32, "key subscriptiontasks");
static_assert(offsetof(key_st, radartasks) == 36, "key radartasks");
static_assert(offsetof(key_st, radars) == 40, "key radars");

static_assert(sizeof(sharedmem_st) == 965968, "sharedmem_st size");
static_assert(offsetof(sharedmem_st, status) == 0, "sharedmem status");
static_assert(offsetof(sharedmem_st, log) == 120, "sharedmem log");
static_assert(offsetof(sharedmem_st, fft) == 2632, "sharedmem fft");
static_assert(offsetof(sharedmem_st, peak) == 865032, "sharedmem peak");
static_assert(offsetof(sharedmem_st, heave) == 946232, "sharedmem heave");
static_assert(offsetof(sharedmem_st, tasks) == 950832, "sharedmem tasks");
static_assert(offsetof(sharedmem_st, subscriptiontasks) == 955852, "sharedmem subscriptiontasks");
static_assert(offsetof(sharedmem_st, radartasks) == 960872, "sharedmem radartasks");
static_assert(offsetof(sharedmem_st, key) == 965892, "sharedmem key");

static_assert(sizeof(sharedmemRadar_st) == 604840, "sharedmemRadar_st size");
static_assert(offsetof(sharedmemRadar_st, radar) == 0, "sharedmemRadar radar");
static_assert(offsetof(sharedmemRadar_st, timestring) == 604800, "sharedmemRadar timestring");
static_assert(offsetof(sharedmemRadar_st, localtime) == 604824, "sharedmemRadar localtime");
static_assert(offsetof(sharedmemRadar_st, semafore) == 604832, "sharedmemRadar semafore");

static_assert(sizeof(pidlist_st) == 24, "pidlist_st size");
static_assert(offsetof(pidlist_st, pid) == 0, "pidlist pid");
static_assert(offsetof(pidlist_st, name) == 4, "pidlist name");
