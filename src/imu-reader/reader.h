// imu-reader: configures the IMU, records its identity, and turns every IMU
// data line into the "heave", "attitude", "status" and "imu" feeds.
#pragma once

#include "imulink.h"

#include <cstdint>
#include <string>

struct ReaderOptions {
    std::string progname = "imu-reader"; // its notice topic
    bool verbose = false;
    bool saveEnabled = false;
    int confPort = 5010;
    int noticePort = 5011;
    std::string identityPath = "/opt/kestrom/config/imuInformation";
    LinkWaits waits;
};

// Runs until a change notice for progname arrives: 0. A failed feed send: 3.
// The IMU's device gone (never opened, hung up, a read or write error): 1, with
// a message naming the port. A feed that cannot be bound: 1, with a message
// naming the endpoint.
int runImuReader(const ReaderOptions& options);

// The four messages of one data line at time t (µs), in publishing order:
// heave, attitude, status, imu.
struct FeedTexts {
    char heave[160];
    char attitude[160];
    char status[160];
    char imu[160];
};
void formatFeeds(const ImuSample& sample, uint64_t t, FeedTexts* out);

// An action message that asks for an IMU restart.
bool isRebootAction(const char* text);

// Wall clock in milliseconds since the epoch, at millisecond resolution.
uint64_t nowMs();

// The six labelled answers of the IMU's identity queries.
std::string identityRecord(ImuLink& link);

// True when the file opens and holds exactly text.
bool fileHasContent(const std::string& path, const std::string& text);
// Rewrites the file only when its content differs. False, after a line on
// standard error naming the path and the reason, when it could not be written.
bool writeIfChanged(const std::string& path, const std::string& text, bool verbose);
