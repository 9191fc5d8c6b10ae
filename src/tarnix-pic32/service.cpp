#include "service.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <syslog.h>
#include <unistd.h>

#include <json/json.h>
#include <zmq.hpp>

#include "boardlink.h"
#include "clocklock.h"
#include "configrequest.h"
#include "publisherbind.h"
#include "pairing.h"
#include "pid.h"
#include "semflag.h"
#include "settings.h"
#include "timer.h"

namespace {

// Notices in and records out. Made afresh in a daemon's child, because a ZeroMQ
// context does not survive fork.
struct Feeds {
    zmq::context_t ctx{1, 1023};
    zmq::socket_t notices{ctx, zmq::socket_type::sub};
    zmq::socket_t pub{ctx, zmq::socket_type::pub};

    ~Feeds()
    {
        notices.set(zmq::sockopt::linger, 0);
        pub.set(zmq::sockopt::linger, 1000);
    }
};

std::unique_ptr<Feeds> openFeeds(const TarnixOptions& o)
{
    std::unique_ptr<Feeds> f(new Feeds);
    f->notices.connect(o.noticeEndpoint);
    f->notices.set(zmq::sockopt::subscribe, "tarnix-pic32");
    f->notices.set(zmq::sockopt::subscribe, "radar");
    return f;
}

bool bindFeed(Feeds& f, const char* endpoint)
{
    std::string reason;
    if (tryBind(f.pub, endpoint, &reason))
        return true;
    printf("\nError binding publisher %s: %s\n", endpoint, reason.c_str());
    fflush(stdout);
    return false;
}

// Asks the configuration service once; 0, or the exit status.
int fetchSettings(const TarnixOptions& o, zmq::context_t& ctx, Json::Value* root)
{
    std::string reply;
    ConfigRequest request(ctx, o.configEndpoint, ConfigRequest::Options());
    if (!o.quiet) printf("Sending request %s..\n", TARNIX_REQUEST);
    if (request.exchange(TARNIX_REQUEST, &reply) != ConfigRequest::Ok) return 3;
    if (!o.quiet) printf("Received: %s\n", reply.c_str());
    std::string errs;
    if (!parseReply(reply, root, &errs)) {
        printf("Failed to parse JSON\r\n%s\n", errs.c_str());
        fflush(stdout);
        return 3;
    }
    return 0;
}

// The board's tty into `device` by the detection script; false, logged, when it fails.
bool findBoard(const std::string& script, char* device, bool quiet)
{
    if (detectUSBDevice(script, "kestrom_tarnix", device, quiet) == 0) return true;
    syslog(LOG_INFO, "find-usb-dev.sh script not found\n");
    return false;
}

class BoardReader {
public:
    BoardReader(const TarnixOptions& o, const TarnixSettings& s, Feeds& f, int semid, tarnix_st* rec)
        : opt(o), set(s), feeds(f), sem(semid), record(rec), pairer(rec), reader(o.quiet, o.waitMs),
          pid(1, 10, -10, 0.5, 0.01, 0.01), lastTick(static_cast<int64_t>(getTime()))
    {
    }

    int run()
    {
        while (record->quit == 0) {
            int rc = pollNotice();
            if (rc != 0) return finish(rc);
            if (port < 0) {
                rc = openPort();
                if (rc != 0) return finish(rc);
            }
            rc = readOne();
            if (rc != 0) return finish(rc);
        }
        return finish(0);
    }

private:
    int finish(int rc)
    {
        closePort();
        return rc;
    }

    void closePort()
    {
        if (port >= 0) close(port);
        port = -1;
    }

    int pollNotice()
    {
        try {
            zmq::message_t msg;
            if (feeds.notices.recv(msg, zmq::recv_flags::dontwait)) {
                if (!opt.quiet) printf("Subscriber received:%s\n", msg.to_string().c_str());
                record->quit = 1;
            }
        } catch (const zmq::error_t&) {
            return 3;
        }
        return 0;
    }

    int openPort()
    {
        if (!opt.quiet) printf("\nINFO: Opening SerialPort\n");
        fflush(stdout);
        usleep(static_cast<useconds_t>(opt.reopenDelayMs) * 1000);
        if (!findBoard(set.script, device, opt.quiet)) return 1;
        port = openSerial(device, opt.quiet);
        if (port < 0) {
            printf("\nError opening serial port %d", port);
            fflush(stdout);
            perror("\nError opening serial port ");
            port = -1;
            return 1;
        }
        if (!opt.quiet) printf("\nINFO: SerialPort is open\n");
        rate = 8;
        // A pair never spans a reopening of the port.
        reader.reset();
        pairer.reset();
        sendSerial(port, makeCommand('Z', {0x0008, 0x3040}));
        return 0;
    }

    void reinitialise()
    {
        sendSerial(port, makeCommand('r', {0x0000}));
        closePort();
        errors = 0;
    }

    int readOne()
    {
        const int r = reader.readSweep(port, &frame);
        switch (r) {
        case SWEEP_TICK:
            lockClock();
            errors = 0;
            return 0;
        case SWEEP_FRAME:
            return takeFrame();
        case SWEEP_FAILED:
            // Unplugged or hung up: the port gives nothing ever again, so it is
            // not read once more; the next pass finds the board again, or ends
            // the program when it is not there.
            printf("\nBoard port %s lost: reopening\n", device);
            fflush(stdout);
            closePort();
            errors = 0;
            return 0;
        case SWEEP_SILENT:
            if (!opt.quiet) printf("There is no data coming from the pic. Reinitializing!\n");
            reinitialise();
            return 0;
        default:
            if (!opt.quiet) printf("sweepDataInfo:%d\n", r);
            if (errors == 0) {
                errors = 1;
            } else {
                if (!opt.quiet) printf(" errorcount:%d\n", errors);
                if (errors > 100) reinitialise();
                else errors++;
            }
            return 0;
        }
    }

    void lockClock()
    {
        const int64_t now = static_cast<int64_t>(getTime());
        const int64_t diff = now - lastTick;
        if (!opt.quiet) printf("\ntime between sweeps diff:\t%lld\ttime: %lld", static_cast<long long>(diff), static_cast<long long>(now));
        const double phase = static_cast<double>(now % set.speed);
        const double value = clockLockValue(diff, phase, set.speed, set.offset);
        const double pidinc = pid.calculate(static_cast<double>(set.speed), value);
        if (!opt.quiet) printf(" val:\t%7.3f offset:\t%lld pidinc:\t%7.3f\n", phase, static_cast<long long>(set.offset), pidinc);
        rate = nextRateWord(rate, pidinc);
        sendSerial(port, makeCommand('Z', {rate, 0x0008, 0xEFF3}));
        lastTick = now;
    }

    int takeFrame()
    {
        if (!opt.quiet)
            printf("\r\nVersion:%04X Temp:%d id:%u time:%u gain:%d", frame.version, frame.temperature, frame.id, frame.time, frame.gain);
        switch (pairer.add(frame, static_cast<int64_t>(getTime()), set.sweepsize)) {
        case SweepPairer::FIRST_STORED:
            return 0;
        case SweepPairer::UNPAIRED:
            if (!opt.quiet) printf("\nsecond sweep id:%u without a first one dropped\n", frame.id);
            return 0;
        case SweepPairer::PAIR_READY:
            break;
        }
        if (setSemaphore(sem, 1) == -1) {
            perror("semop tarnix+1");
            return 1;
        }
        try {
            feeds.pub.send(zmq::buffer(record, sizeof(tarnix_st)), zmq::send_flags::none);
        } catch (const zmq::error_t& e) {
            printf("\nError publishing record: %s\n", e.what());
        }
        return 0;
    }

    const TarnixOptions& opt;
    const TarnixSettings& set;
    Feeds& feeds;
    int sem;
    tarnix_st* record;
    SweepPairer pairer;
    SweepReader reader;
    PID pid;
    int64_t lastTick;
    int port = -1;
    uint16_t rate = 8;
    int errors = 0;
    beagle_raw_data_t frame{};
    char device[DEVICE_PATH_SIZE] = {};
};

// In daemon mode forks: the parent ends (0), the child goes on with feeds
// of its own. -1 to go on, or the exit status.
int detachWhenAsked(const TarnixOptions& o, const char* endpoint, std::unique_ptr<Feeds>* feeds)
{
    if (o.daemon) {
        printf("Going into daemon mode\n");
        fflush(stdout);
        feeds->reset();
        const pid_t pid = fork();
        if (pid < 0) {
            printf("Fork error\n");
            return 1;
        }
        if (pid > 0) {
            if (!o.quiet) printf("Daemon started and parent closed ok\n");
            syslog(LOG_INFO, "Daemon started and parent closed ok\n");
            return 0;
        }
        try {
            *feeds = openFeeds(o);
        } catch (const zmq::error_t&) {
            syslog(LOG_ERR, "notice socket failed after fork");
            return 1;
        }
        if (!bindFeed(**feeds, endpoint)) {
            syslog(LOG_ERR, "publisher bind failed after fork");
            return 1;
        }
    } else {
        printf("To go into daemonmode use:\n%s -d\n", o.progname.c_str());
    }
    return -1;
}

// A speed that cannot pace the board ends the program (2); an offset outside
// the period is set to 0. -1 to go on, or the exit status.
int checkTiming(const TarnixOptions& o, TarnixSettings* set)
{
    if (set->speed <= 0) {
        fprintf(stderr, "speed is not a valid integer or 0 (msec) %s -> %d\n\n", set->speedText.c_str(), 0);
        fprintf(stderr, "Change the configurator option general->speed\n");
        fprintf(stderr, "USAGE: %s\n", o.progname.c_str());
        return 2;
    }
    if (set->offset < 0 || set->offset >= set->speed) {
        fprintf(stderr, "offset should be smaller than the speed (msec) (%lld < %d)\n\n", static_cast<long long>(set->offset), set->speed);
        fprintf(stderr, "Change the configurator option %s->offset\n", o.progname.c_str());
        fprintf(stderr, "USAGE: %s\n", o.progname.c_str());
        set->offset = 0;
    }
    return -1;
}

} // namespace

int runTarnix(const TarnixOptions& o)
{
    const int sem = getSemaphore(o.semKey);
    if (sem < 0) {
        perror("semget tarnix");
        return 1;
    }

    std::unique_ptr<Feeds> feeds;
    Json::Value root;
    try {
        feeds = openFeeds(o);
    } catch (const zmq::error_t& e) {
        printf("\nError connecting %s: %s\n", o.noticeEndpoint.c_str(), e.what());
        return 1;
    }
    int rc = fetchSettings(o, feeds->ctx, &root);
    if (rc != 0) return rc;

    TarnixSettings set = readSettings(root);
    printf("speed:%d offset:%lld sweepsize:%d rawdata_pub:%d\n", set.speed, static_cast<long long>(set.offset), set.sweepsize,
           set.rawdata_pub);
    const std::string address = feedAddress(set.rawdataPubText);
    const char* endpoint = address.c_str();
    if (!o.quiet) printf("Starting publisher: %s\n", endpoint);
    if (!bindFeed(*feeds, endpoint)) return 1;

    if (o.daemon) {
        openlog(o.progname.c_str(), LOG_PID | LOG_CONS | LOG_NDELAY, LOG_LOCAL1);
        syslog(LOG_NOTICE, "Program started in daemon by user %d", getuid());
    }
    char device[DEVICE_PATH_SIZE] = {};
    if (!findBoard(set.script, device, o.quiet)) return 1;

    rc = detachWhenAsked(o, endpoint, &feeds);
    if (rc >= 0) return rc;
    rc = checkTiming(o, &set);
    if (rc >= 0) return rc;
    if (!o.quiet) printf("Speed: %d  Offset: %lld\n", set.speed, static_cast<long long>(set.offset));

    std::unique_ptr<tarnix_st, void (*)(void*)> record(static_cast<tarnix_st*>(calloc(1, sizeof(tarnix_st))), free);
    if (!record) {
        printf("\nERROR: malloc(tarnix) %d\n", errno);
        return 1;
    }
    fflush(stdout);
    if (!o.quiet) printf("\nINFO: Starting %s \nINFO: Initializing tarnix.", o.progname.c_str());
    if (setSemaphore(sem, 1) == -1) {
        perror("semop tarnix+1");
        return 1;
    }
    BoardReader board(o, set, *feeds, sem, record.get());
    rc = board.run();
    fflush(stdout);
    return rc;
}
