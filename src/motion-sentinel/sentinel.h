// motion-sentinel: watches the IMU's status word on the "status" feed, publishes
// warnings on "alert" and restart requests on "action".
#pragma once

struct SentinelOptions {
    bool quiet = false;
    int confPort = 5010;
    int noticePort = 5011;
};

// Runs until a send fails (exit status 3) or a ZeroMQ call throws.
int runSentinel(const SentinelOptions& options);
