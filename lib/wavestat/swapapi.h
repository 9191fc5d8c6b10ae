// The wave analysis as the shared library offers it: an opaque context per
// sensor, fed with time-stamped samples, and fixed-size result records.
// Every result value has a parameter code; code / 1000 names its family:
//   0 sample series (0-2 current block, 3-5 working record of signals 0-2)
//   1 heave spectrum and parameters (1000-1021)   2 waves (2000-2021)
//   3 heave quality (3000-3005)                    4 directional (4000-4011)
//   5 band parameters, 15 bands each (5000-5006)   6 directional quality (6000-6010)
// A value that could not be computed holds MISSING_VALUE (3.4028235e38).
#pragma once

#include <cstdint>

#include "wavedefs.h"

class SWAPWaveAnalysis;

// Parameter record of SWAPOpenContext.  Only size, sensorType and theta0 steer
// the analysis; the other fields are kept in the context.
struct SWAPtag_PARM {
    int32_t size; // 52
    int32_t sensorType; // 0 Wavec, 1 DRider, 2 Rider, 3 Gauge, 4 Gauge 1.28 Hz, 5 GaugeArray
    float theta0; // degrees added to every direction
    int32_t basisSignal;
    float delayTime1;
    float delayTime2;
    float xposSensor1;
    float xposSensor2;
    float xposSensor3;
    float yposSensor1;
    float yposSensor2;
    float yposSensor3;
    float orientation;
};

// Every result record starts with its size in bytes (written by the caller,
// checked by the getter), the date (yyyymmdd) and the time (minutes of the
// day) of the block the analysed record ends with.  Fields are named by
// their codes: sNNNN an array, pNNNN one value, qN the flags of series N.
#define SWAP_RECORD_HEADER \
    int32_t size;          \
    int32_t date;          \
    int32_t time

struct SWAPtag_HLEV0 {
    SWAP_RECORD_HEADER;
    float s0[1536];
    int32_t q0[1536];
};

struct SWAPtag_HLEV1 {
    SWAP_RECORD_HEADER;
    float s1000[101];
    float s2000[600];
    float s2001[600];
    float p2002;
};

struct SWAPtag_HLEV2 {
    SWAP_RECORD_HEADER;
    float s1001[51];
    float p1002, p1003, p1004, p1005, p1006, p1007, p1008, p1009;
    float p1010, p1011, p1012, p1013, p1014, p1015, p1016, p1017;
    float p1021, p1018, p1019, p1020;
    float p2003, p2004, p2005, p2006, p2007, p2008, p2009, p2010, p2011, p2012;
    float p2013, p2014, p2015, p2016, p2017, p2018, p2019, p2020, p2021;
    float p3000, p3001, p3004, p3003, p3002, p3005;
};

struct SWAPtag_HLEV4 {
    SWAP_RECORD_HEADER;
    float s3[3072];
    int32_t q3[3072];
};

struct SWAPtag_HDLEV0 {
    SWAP_RECORD_HEADER;
    float s0[768], s1[768], s2[768];
    int32_t q0[768], q1[768], q2[768];
};

struct SWAPtag_HDLEV1 {
    SWAP_RECORD_HEADER;
    float s1000[101];
    float s2000[600];
    float s2001[600];
    float p2002;
    float s4000[101], s4001[101], s4002[101], s4003[101], s4004[101];
};

struct SWAPtag_HDLEV2 {
    SWAP_RECORD_HEADER;
    float s1001[51];
    float p1002, p1003, p1006, p1009, p1011, p1012, p1013, p1014, p1015, p1016;
    float p1021, p1018, p1019, p1020;
    float p2003, p2004, p2005, p2006, p2007, p2008, p2009, p2010, p2011, p2012;
    float p2013, p2014, p2015, p2016, p2017, p2018, p2019, p2020, p2021;
    float s4005[51], s4006[51];
    float p4007, p4008, p4009, p4010, p4011;
    float s5000[15], s5001[15], s5002[15], s5003[15], s5004[15], s5005[15], s5006[15];
    float p3000, p3001, p3004, p3003, p3002, p3005;
    float p6000, p6001, p6002, p6005, p6004, p6003, p6006, p6009, p6008, p6007, p6010;
};

struct SWAPtag_HDLEV4 {
    SWAP_RECORD_HEADER;
    float s3[1536], s4[1536], s5[1536];
    int32_t q3[1536], q4[1536], q5[1536];
};

#undef SWAP_RECORD_HEADER

static_assert(sizeof(SWAPtag_PARM) == 52, "parameter record");
static_assert(sizeof(SWAPtag_HLEV0) == 12300, "HLEV0");
static_assert(sizeof(SWAPtag_HLEV1) == 5220, "HLEV1");
static_assert(sizeof(SWAPtag_HLEV2) == 396, "HLEV2");
static_assert(sizeof(SWAPtag_HLEV4) == 24588, "HLEV4");
static_assert(sizeof(SWAPtag_HDLEV0) == 18444, "HDLEV0");
static_assert(sizeof(SWAPtag_HDLEV1) == 7240, "HDLEV1");
static_assert(sizeof(SWAPtag_HDLEV2) == 1264, "HDLEV2");
static_assert(sizeof(SWAPtag_HDLEV4) == 36876, "HDLEV4");

extern "C" {
// A context for one sensor, or null for a record of the wrong size, an
// unknown sensor type or a context that could not be set up.
WAVESTAT_EXPORT SWAPWaveAnalysis* SWAPOpenContext(const SWAPtag_PARM* parm);
// Deletes the context; null is ignored.
WAVESTAT_EXPORT void SWAPCloseContext(SWAPWaveAnalysis* context);
// One sample (time in milliseconds of the day); a value beyond +-1,000,000 or
// not a number enters as missing with flag 9.  Date 0 forces the analysis of
// the block in hand.  Returns 1 when this call made the analysis run.
WAVESTAT_EXPORT int SWAPPutSample(SWAPWaveAnalysis* context, long date, long time, float v0, float v1, float v2);
WAVESTAT_EXPORT int SWAPSetTheta0(SWAPWaveAnalysis* context, float theta0);
// Runs the analysis of the block in hand once (date, seconds of the day) is
// past its end; 1 when it ran.
WAVESTAT_EXPORT int SWAPForce(SWAPWaveAnalysis* context, long date, long seconds);
// Fill a record with the results of the last run: 1, or 0 (record untouched)
// for a null context or record or a wrong size field.  Level 3 fills the
// level-0 record again; the HDLEV records need a directional sensor.
WAVESTAT_EXPORT int SWAPGetHLevel0(SWAPWaveAnalysis* context, SWAPtag_HLEV0* record);
WAVESTAT_EXPORT int SWAPGetHLevel1(SWAPWaveAnalysis* context, SWAPtag_HLEV1* record);
WAVESTAT_EXPORT int SWAPGetHLevel2(SWAPWaveAnalysis* context, SWAPtag_HLEV2* record);
WAVESTAT_EXPORT int SWAPGetHLevel3(SWAPWaveAnalysis* context, SWAPtag_HLEV0* record);
WAVESTAT_EXPORT int SWAPGetHLevel4(SWAPWaveAnalysis* context, SWAPtag_HLEV4* record);
WAVESTAT_EXPORT int SWAPGetHDLevel0(SWAPWaveAnalysis* context, SWAPtag_HDLEV0* record);
WAVESTAT_EXPORT int SWAPGetHDLevel1(SWAPWaveAnalysis* context, SWAPtag_HDLEV1* record);
WAVESTAT_EXPORT int SWAPGetHDLevel2(SWAPWaveAnalysis* context, SWAPtag_HDLEV2* record);
WAVESTAT_EXPORT int SWAPGetHDLevel3(SWAPWaveAnalysis* context, SWAPtag_HDLEV0* record);
WAVESTAT_EXPORT int SWAPGetHDLevel4(SWAPWaveAnalysis* context, SWAPtag_HDLEV4* record);
}
