// The set-up constructor: brings the IMU into the state the configuration
// describes, and gives up only when the device is gone.
#include "imulink.h"

#include "configclient.h"

#include <syslog.h>
#include <termios.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

int decimal(const std::string& text)
{
    long v = strtol(text.c_str(), nullptr, 10);
    return static_cast<int>(std::max<long>(INT_MIN, std::min<long>(INT_MAX, v)));
}

// Truncated toward zero; a value beyond int (or not a number) is held at the limit.
int truncated(const std::string& text)
{
    double v = strtod(text.c_str(), nullptr);
    if (std::isnan(v))
        return 0;
    if (v >= 2147483647.0)
        return INT_MAX;
    if (v <= -2147483648.0)
        return INT_MIN;
    return static_cast<int>(v);
}

} // namespace

ImuLink::ImuLink(ConfigClient* configClient, bool verbose, bool saveEnabled, const LinkWaits& waits, LogSink logSink)
    : verbose(verbose), saveEnabled(saveEnabled), configClient(configClient), waits(waits), log(std::move(logSink))
{
    ConfigClient& cc = *configClient;
    const std::string sections[] = {"imu", "read-only"};
    cc.requestSections(sections, 2);
    Targets targets;
    openLine(readLineSettings(cc, &targets));
    readOutputs(cc, &targets);
    if (waitForImu())
        configure(targets);
}

int ImuLink::readLineSettings(ConfigClient& cc, Targets* t)
{
    devicePath = cc.lookup("imu", "serial", "comport");
    const std::string parity = cc.lookup("imu", "serial", "parity");
    baudrate = decimal(cc.lookup("imu", "serial", "baudrate"));
    databits = decimal(cc.lookup("imu", "serial", "databit"));
    stopbits = decimal(cc.lookup("imu", "serial", "stopbit"));
    t->datarate = cc.lookup("imu", "output", "datarate");
    const char* const axes[] = {"roll", "pitch", "yaw"};
    for (int i = 0; i < 3; i++)
        t->mounting[i] = static_cast<float>(decimal(cc.lookup("read-only", "imu-offset", "mounting", axes[i])));
    for (int i = 0; i < 3; i++)
        t->fine[i] = static_cast<float>(strtod(cc.lookup("read-only", "imu-offset", "fine", axes[i]).c_str(), nullptr));
    const char* const inverted[] = {"roll", "pitch", "yaw", "surge", "sway", "heave"};
    for (int i = 0; i < 6; i++)
        t->invert[i] = truncated(cc.lookup("read-only", "imu-offset", "invert", inverted[i]));
    outputId = cc.lookup("imu", "output", "ID");

    if (verbose) {
        printf("Mounting R:%f P:%f Y:%f\n", t->mounting[0], t->mounting[1], t->mounting[2]);
        printf("Fine R:%f P:%f Y:%f\n", t->fine[0], t->fine[1], t->fine[2]);
        printf("Invert R:%d P:%d Y:%d Sur:%d Swa:%d Heav:%d\n", t->invert[0], t->invert[1], t->invert[2],
               t->invert[3], t->invert[4], t->invert[5]);
        printf("IMU sequence initialization\n");
    }
    printf(" tty: %s\n", devicePath.c_str());
    return parity == "o" ? PARODD : 0;
}

void ImuLink::readOutputs(ConfigClient& cc, Targets* t)
{
    t->usemode = cc.lookup("imu", "output", "usemode");
    t->list = cc.lookup("imu", "output", "list");
    t->token = cc.lookup("imu", "output", "token");
    t->id = cc.lookup("imu", "output", "ID");
    t->format = cc.lookup("imu", "output", "format");
    t->protocol = cc.lookup("imu", "output", "protocol");
}

bool ImuLink::waitForImu()
{
    // A device that is gone never answers: the caller ends the program, and the
    // service manager's restart opens the device afresh.
    while (probeImu() != 0) {
        if (lost())
            return false;
        pause(waits.probeRetry);
    }
    return true;
}

bool ImuLink::checkPass(const Targets& t)
{
    const struct {
        std::function<int()> check;
        const char* done;
    } steps[] = {
        {[&] { return checkAndSet("usemode", "", t.usemode); }, "Done: Check output usemode"},
        {[&] { return checkAndSet("output", "list", t.list); }, "Done: Check output list"},
        {[&] { return checkAndSet("output", "token", t.token); }, "Done: Check output token"},
        {[&] { return checkAndSet("output", "id", t.id); }, "Done: Check output id"},
        {[&] { return checkAndSet("output", "format", t.format); }, "Done: Check output format"},
        {[&] { return checkAndSet("output", "protocol", t.protocol); }, "Done: Check output protocol"},
        {[&] { return checkAndSet("output", "rate", t.datarate); }, "Done: Check output rate"},
        {[&] { return checkMountingAngles(t.mounting[1], t.mounting[0], t.mounting[2]); },
         "Done: Check mounting angles"},
        {[&] { return checkFineAngles(t.fine[1], t.fine[0], t.fine[2]); }, "Done: Check fine angles"},
        {[&] {
             return checkInvertAxes(t.invert[0], t.invert[1], t.invert[2], t.invert[3], t.invert[4], t.invert[5]);
         },
         "Done: Check Axes"},
    };
    const size_t stepCount = sizeof steps / sizeof steps[0];
    bool failed = false;
    for (size_t s = 0; s < stepCount; s++) {
        if (steps[s].check() != 0)
            failed = true;
        else
            logAndPrint(steps[s].done);
        if (s >= 1 && s + 1 < stepCount)
            pause(waits.betweenSteps);
    }
    return !failed;
}

void ImuLink::configure(const Targets& targets)
{
    while (true) {
        while (stopStream() != 0) {
            if (lost())
                return;
            printf("Failed to stop stream\n");
        }
        pause(waits.beforePass);
        const bool allSet = checkPass(targets);
        if (lost())
            return;
        if (!allSet)
            continue;
        pause(waits.betweenSteps);
        while (saveSettings() != 0) {
            if (lost())
                return;
            if (verbose)
                printf("Save settings error\n");
            log(LOG_INFO, "Error: save Settings");
            // An IMU that refuses "save" at once must not be hammered.
            pause(waits.saveRetry);
        }
        if (verbose)
            printf("Initialization sequence completed\n");
        log(LOG_INFO, "Done: Configuring");
        fflush(stdout);
        return;
    }
}
