// Radar constants, record limits, semaphore keys and front-end brand codes of the radar program.
#pragma once

// Radar constants, single precision: they set the distance scale of every height reported.
constexpr float DEF_speedOfLightVacuum = 299792458.0f;
constexpr float DEF_refraction_Air = 1.0003f;
constexpr float DEF_speedOfLight = DEF_speedOfLightVacuum / DEF_refraction_Air;
constexpr float DEF_deltaF = 512000000.0f;
constexpr float DEF_sweepSize = 512.0f;
constexpr float DEF_timePerSample = 0.000024f;
constexpr float DEF_SweepTime = DEF_sweepSize * DEF_timePerSample;
constexpr float DEF_sampleFrequency = 1.0f / DEF_timePerSample;
constexpr float DEF_sweepSpeed = DEF_deltaF / DEF_SweepTime;
// The Doppler factor: cm/s of vertical speed per cm of half the difference of
// the down- and up-sweep distances.
constexpr float DEF_sweepSpeed_DEF_baseFrequency = 4.3516097f;

// Limits that bound the records and rings.
constexpr int MAX_NR_OF_SWEEPS = 2;
constexpr int MAX_NR_OF_PEAKS = 64;
constexpr int MAX_FFT_BUFFER_SIZE = 2048 + 100;
constexpr int MEMCACHE_MAX_INDEX = 50;
constexpr int TASKS_MAX_INDEX = 20;
constexpr int LOG_MAX_INDEX = 10;
constexpr int LOG_LINE_WIDTH = 250;
constexpr int TIMESTRSIZE = 20;

// System V semaphore keys of the stage hand-over.
constexpr int KEYRADAR0 = 444440;
constexpr int KEYRADAR1 = 444441;
constexpr int KEYRADAR2 = 444442;
constexpr int KEYFFT = 444443;
constexpr int KEYPEAK = 444444;
constexpr int KEYH = 444445;
constexpr int KEYSUBSCRIPTIONS = 444446;
constexpr int KEYKEEPALIVE = 444447;
constexpr int KEYRELOADCONFIGSUBSCRIPTIONS = 444555;

// Front-end brand codes.
constexpr int ENRAF = 0;
constexpr int SIVERSIMA = 1;
constexpr int TARNIX = 2;
constexpr int READFILE = 3;
constexpr int READUDP = 4;
