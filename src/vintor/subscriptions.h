// Subscriptions stage: turns the height records of ring "h" into the text
// feeds "heave", "vintor" and "reflection" and reports the share of valid data.
#pragma once

#include <cmath>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>
#include <zmq.hpp>

#include "configrequest.h"
#include "defaults.h"
#include "records.h"
#include "sectionsettings.h"
#include "stageloop.h"
#include "validdatacounter.h"

constexpr std::size_t HEAVE_FRAME_SIZE = 200;
constexpr std::size_t VINTOR_FRAME_SIZE = 400;

// The heave line in a zeroed frame of HEAVE_FRAME_SIZE bytes, cut to fit.
// time is the record's 20-byte time field (not necessarily terminated).
void heaveLine(char* frame, const char* time, const char* radarName, bool valid, float h);

// The vintor line in a zeroed frame of VINTOR_FRAME_SIZE bytes, cut to fit:
// ten values for a valid record, else "NaN;Value=" and the fault sum.
void vintorLine(char* frame, const char* time, const char* radarName, const float* values, bool valid,
                int nan);

// Fixed-point text with 5 decimals, minus infinity as "0", appended to out.
void appendFloat5(std::string& out, float value);

class ConfigFile;
class SharedMem;

class SubscriptionsClass : private ChainStage {
public:
    ConfigFile* cf;
    std::unique_ptr<SharedMem> storage;
    zmq::context_t context;
    zmq::socket_t heavepublisher;
    zmq::socket_t vintorpublisher;
    zmq::socket_t reflpublisher;
    int debug;
    SectionSettings settings;  // of the record being handled
    heave_st data_heave;
    int data_index = 0;
    int vintordata_pub = 0;
    int heavedata_pub = 0;
    int refldata_pub = 0;
    ValidDataCounter validData;

    // A percentage the service has not confirmed, sent again after a pause.
    bool percentagePending = false;
    float pendingPercentage = 0;
    double lastAttemptMs = 0;
    static constexpr int setmemTimeoutMs = 500;
    static constexpr double setmemRetryMs = 10000;
    // A feed whose port was taken is tried again this often.
    static constexpr double rebindMs = 2000;

    explicit SubscriptionsClass(ConfigFile* cfp);
    ~SubscriptionsClass();

    // The stage loop over ring "h"; never returns.
    int process(int keySubscriptions = KEYSUBSCRIPTIONS);
    // Loads the settings of a radar section (see SectionSettingsLoader).
    int setVars(const char* section);
    int vintor();
    int heave();
    int status();
    int diag();

    // Height of the water surface in cm: the radar offset does not enter it.
    float height() const { return settings.mountingHeight - data_heave.distanceAvg * settings.cosAngle; }
    // The reflection line of a peak and a spectrum record, for the current settings.
    void reflectionLine(const peak_st& P, const fft_st& F, std::string& line);
    // The vintor and heave lines of data_heave, for the current settings.
    void composeVintor(char* frame) const;
    void composeHeave(char* frame) const;

private:
    // One height record of ring "h", in the stage's loop.
    void onRecord(const void* record, int slot) override;
    void traceIdle() override;
    int recordCount_ = 0;  // since the last reflection line

    SectionSettingsLoader settingsOf_;

    // The valid-data share goes to the service with a time-out: a service
    // that does not answer must never hold up the result feeds.
    std::unique_ptr<ConfigRequest> setmem_;
    std::string line_;  // reflection line, reused
    void report(float percentage);

    // A feed whose port was taken at start is bound again as records come:
    // it delivers once the port is free while the others go on.
    struct UnboundFeed {
        zmq::socket_t* socket;
        std::string address;
        const char* label;
    };
    std::vector<UnboundFeed> unbound_;
    double nextBindAttempt_ = 0;
    void bindAgain();
};
