#include "climate.h"

#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <zmq.hpp>

#include "cmdline.h"
#include "configclient.h"
#include "timer.h"
#include "configrequest.h"
#include "hostlookup.h"
#include "publisherbind.h"
#include "zhelpers.h"

namespace climate {

namespace {

void usage(const char* name, int option)
{
    fprintf(stderr, "%s will fetch zmq messages and presents them local.\n", name);
    fprintf(stderr, "Unknown option `-%c'.\n", option);
    fprintf(stderr, "  -c <ip>:<portnr>\t\t-> configurator portnumber; defaults to tcp://127.0.0.1:5010\n");
    fprintf(stderr, "  -d <seconds>\t\t-> Delay in seconds bewteen the measurements; defaults to 600\n");
    fprintf(stderr, "  -d1 -n <x>\t\t-> read for x times; defaults to -1= for ever\n");
    fprintf(stderr, "  -d1 -o\t\t-> read 1 time\n");
    fprintf(stderr, "  -h\t\t-> This help page\n");
    fprintf(stderr, "  -v<number>\t\t\t-> verbose number\n\n");
    fprintf(stderr, "Use: %s -c 127.0.0.1:5010\n", name);
    fprintf(stderr, "Use: %s -d 10\n", name);
    fprintf(stderr, "Use: %s -v1\n", name);
}

// Seconds as microseconds; false for anything but a finite count from 0 up to
// what 64 bits hold.
bool delayOf(const std::string& seconds, int64_t* us)
{
    char* end = nullptr;
    errno = 0;
    double s = strtod(seconds.c_str(), &end);
    if (seconds.empty() || errno != 0 || *end != '\0' || !std::isfinite(s) || s < 0 || s > 9.2e12)
        return false;
    *us = int64_t(std::llround(s * 1e6));
    return true;
}

} // namespace

std::string endpointOf(const std::string& option)
{
    return option.find("://") == std::string::npos ? "tcp://" + option : option;
}

bool parseOptions(int argc, char** argv, Options* o, int* status)
{
    const char* name = argc > 0 && argv[0] ? argv[0] : "climate-sensor";
    o->name = programName(name);
    optind = 0;
    int option;
    while ((option = getopt(argc, argv, "hc:d:v:on:")) != -1) {
        switch (option) {
        case 'c':
            o->endpoint = endpointOf(optarg);
            break;
        case 'd':
            if (!delayOf(optarg, &o->delayUs)) {
                fprintf(stderr, "The delay must be a number of seconds, 0 or more: -d %s\n", optarg);
                *status = 1;
                return false;
            }
            break;
        case 'n':
            // "abc" read as 0 would end without a reading, and say nothing.
            if (!parseWholeNumber(optarg, 0, LONG_MAX, &o->count)) {
                fprintf(stderr, "The count must be a whole number, 0 or more: -n %s\n", optarg);
                *status = 1;
                return false;
            }
            o->verbose = true;
            break;
        case 'o':
            o->count = 1;
            break;
        case 'v':
            o->verbose = true;
            break;
        default:
            usage(name, option == '?' ? optopt : option);
            *status = 1;
            return false;
        }
    }
    return true;
}

float temperatureOf(uint8_t msb, uint8_t lsb)
{
    const int raw = msb * 256 + (lsb & 0xFC);
    return float(raw / 65536.0 * 175.72 - 46.85);
}

float humidityOf(uint8_t msb, uint8_t lsb)
{
    const int raw = msb * 256 + (lsb & 0xFC);
    return float(raw / 65536.0 * 125.0 - 6.0);
}

int parseConfigReply(const std::string& reply, const std::string& section, SensorConfig* c, std::string* message)
{
    Json::Value root;
    std::string errors;
    if (!ConfigClient::parseReply(reply, &root, &errors)) {
        *message = "Failed to parse JSON\r\n" + errors;
        return 30;
    }
    std::string value;
    if (!root.isObject() || !root.isMember("success") || !root["success"].isObject()) {
        *message = "Configuration not found";
        return 1;
    }
    if (!root["success"].isMember(section) || !root["success"][section].isObject()) {
        *message = "Configuration not found: no section \"" + section + "\"";
        return 1;
    }
    std::string port;
    ConfigClient::find(root, {section, "publishers", "data"}, &port);
    c->publisher = "tcp://*:" + port;
    std::string delay;
    if (ConfigClient::find(root, {section, "delay"}, &delay) && !delay.empty() && !delayOf(delay, &c->delayUs))
        c->delayUs = -1;
    std::string name;
    ConfigClient::find(root, {section, "sensorname"}, &name);
    c->sensorName = name.empty() ? "health" : name;
    return 0;
}

std::string readingLine(int64_t milliseconds, const std::string& name, float temperature, float humidity)
{
    char values[96];
    snprintf(values, sizeof values, ";temperature=%.2fC;humidity=%.2f%%", double(temperature), double(humidity));
    return "time=" + std::to_string(milliseconds) + ";sensor=" + name + values;
}

std::string setmemRequest(const std::string& name, float temperature, float humidity)
{
    char values[96];
    snprintf(values, sizeof values, ",\"temperature\":%.2f,\"humidity\":%.2f}}}", double(temperature),
             double(humidity));
    return "{\"setmem\":{\"sensors\":{\"sensorname\":" + Json::valueToQuotedString(name.c_str()) + values;
}

namespace {

// One measurement: 0, 1 when the address cannot be set (the program ends),
// 2 when the sensor gave no full answer (the reading is skipped).
int measure(I2cBus& bus, int fd, uint8_t command, uint8_t bytes[3])
{
    if (i2cSelect(bus, fd, SENSOR_ADDRESS) < 0)
        return 1;
    if (i2cCommandRead(bus, fd, command, bytes, 3) != 3) {
        printf("*Could not read the sensor (command 0x%02X)\n", command);
        return 2;
    }
    return 0;
}

class Service {
public:
    Service(const Options& o, I2cBus& bus)
        : o_(o), bus_(bus), context_(1, 1023), requests_(context_, o.endpoint, untilAnswered()),
          notices_(context_, zmq::socket_type::sub), publisher_(context_, zmq::socket_type::pub)
    {
    }

    int run()
    {
        notices_.connect(o_.noticeEndpoint);
        notices_.set(zmq::sockopt::subscribe, o_.name.substr(0, 6));
        const std::string request =
            "{\"get\":{\"configurator\":\"\"," + Json::valueToQuotedString(o_.name.c_str()) + ":\"\"}}";
        // A host that does not exist ends the program as a bad endpoint does;
        // one that cannot be looked up yet is waited for.
        if (!hostResolves(o_.endpoint, "configuration service", false, HostWait::UntilFound))
            return 1;
        SensorConfig config;
        std::string message;
        int status = parseConfigReply(exchange(request, true), o_.name, &config, &message);
        if (status != 0) {
            printf("%s\n", message.c_str());
            return status;
        }
        // A missing "delay" keeps the command line's (or the default) delay.
        const int64_t delayUs = config.delayUs >= 0 ? config.delayUs : o_.delayUs;
        if (o_.verbose)
            printf("Starting publisher: %s\n", config.publisher.c_str());
        std::string reason;
        if (!tryBind(publisher_, config.publisher, &reason)) {
            printf("Cannot start publisher %s: %s\n", config.publisher.c_str(), reason.c_str());
            return 1;
        }
        long count = o_.count;
        while (count != 0) {
            status = reading(config.sensorName);
            if (status == 1)
                return 1;
            if (count > 0 && --count == 0)
                return status == 0 ? 0 : 1;
            fflush(stdout);
            sleepThroughSignals(delayUs);
        }
        return 0;
    }

private:
    std::string exchange(const std::string& request, bool showReply)
    {
        if (o_.verbose)
            printf("Sending request %s..\n", request.c_str());
        fflush(stdout);
        const std::string reply = exchangeOrEnd(requests_, request);
        if (o_.verbose && showReply)
            printf("Received: %s\n", reply.c_str());
        return reply;
    }

    // 0 published, 1 the program must end, 2 skipped.
    int reading(const std::string& name)
    {
        I2cSession session(bus_, o_.bus);
        if (!session.ok())
            return 1;
        uint8_t t[3], h[3];
        int status = measure(bus_, session.fd(), MEASURE_TEMPERATURE, t);
        if (status == 0)
            status = measure(bus_, session.fd(), MEASURE_HUMIDITY, h);
        if (status != 0)
            return status;
        const float temperature = temperatureOf(t[0], t[1]);
        const float humidity = humidityOf(h[0], h[1]);
        if (o_.verbose) {
            printf("Temp : %5.2fC\n", double(temperature));
            printf("RH   : %5.2f%%\n", double(humidity));
        }
        const std::string line = readingLine(wholeEpochMs(wallClock()), name, temperature, humidity);
        s_send(publisher_.handle(), line.c_str());
        if (o_.verbose)
            printf("%s\n", line.c_str());
        const std::string request = setmemRequest(name, temperature, humidity);
        if (o_.verbose)
            printf("Sending data to config mem %s\n", request.c_str());
        fflush(stdout);
        exchangeOrEnd(requests_, request);
        return 0;
    }

    Options o_;
    I2cBus& bus_;
    zmq::context_t context_;
    ConfigRequest requests_;
    zmq::socket_t notices_;
    zmq::socket_t publisher_;
};

} // namespace

int run(int argc, char** argv, I2cBus& bus)
{
    Options options;
    int status = 0;
    if (!parseOptions(argc, argv, &options, &status))
        return status;
    int result;
    {
        Service service(options, bus);
        result = service.run();
    }
    fflush(stdout);
    return result;
}

} // namespace climate
