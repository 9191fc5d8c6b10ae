#include "tarnixclass.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <json/value.h>
#include <zmq.hpp>

#include "configfile.h"
#include "configrequest.h"
#include "publisherbind.h"

namespace {

const char* const PUBLISHER_REQUEST = "{ \"get\":{\"tarnix-pic32\":{\"publishers\":{\"rawdata-pub\":\"\"}}}}";
constexpr int DEFAULT_CONFIG_PORT = 5010;

const Json::Value* objectMember(const Json::Value& v, const char* name)
{
    if (!v.isObject() || !v.isMember(name)) return nullptr;
    return &v[name];
}

} // namespace

int rawdataEndpoint(const std::string& reply, std::string* endpoint, std::string* message)
{
    Json::Value jcf;
    std::string errs;
    if (!parseReply(reply, &jcf, &errs)) {
        *message = "Failed to parse JSON\r\n" + errs;
        return 3;
    }
    const Json::Value* success = objectMember(jcf, "success");
    const Json::Value* own = success ? objectMember(*success, "tarnix-pic32") : nullptr;
    const Json::Value* publishers = own ? objectMember(*own, "publishers") : nullptr;
    if (publishers == nullptr || !publishers->isObject()) {
        *message = "no publishers object";
        return 1;
    }
    std::string portText = "5020";
    const Json::Value* pub = objectMember(*publishers, "rawdata-pub");
    if (pub != nullptr && !pub->isObject() && !pub->isArray() && !pub->isNull()) portText = pub->asString();
    // The endpoint is built in a buffer of 100 characters.
    char text[100];
    snprintf(text, sizeof text, "tcp://127.0.0.1:%s", portText.c_str());
    *endpoint = text;
    return 0;
}

BoardMessage boardRecord(const void* bytes, size_t size, int configuredSize, tarnix_st* record, int* tooLarge)
{
    if (size != sizeof(tarnix_st)) return BoardMessage::WrongSize;
    int32_t recordSize;
    memcpy(&recordSize, static_cast<const char*>(bytes) + offsetof(tarnix_st, sweepsize), sizeof recordSize);
    // The later stages size their bins by the configured sweep size: a board
    // sweep cut to 1024 samples would give every distance wrong, so no sweep
    // of a larger size is taken at all.
    *tooLarge = recordSize > MAX_BOARD_SWEEP ? recordSize : configuredSize > MAX_BOARD_SWEEP ? configuredSize : 0;
    if (*tooLarge != 0) return BoardMessage::TooLarge;
    memcpy(record, bytes, sizeof(tarnix_st));
    return BoardMessage::Whole;
}

TarnixClass::TarnixClass(ConfigFile* cfp, std::string Sec, double timeout)
    : RadarFrontEnd(cfp, Sec, timeout)
{
    context = new zmq::context_t(1, 1023);
    std::string reply;
    {
        ConfigRequest::Options o;
        o.ipv6 = true;
        o.textReply = true;
        // The service vintor was started with, not a fixed port: another port would hang here for ever.
        const int port = (cfp != nullptr && cfp->confport > 0) ? cfp->confport : DEFAULT_CONFIG_PORT;
        ConfigRequest request(*context, "tcp://127.0.0.1:" + std::to_string(port), o);
        if (request.exchange(PUBLISHER_REQUEST, &reply) != ConfigRequest::Ok) exit(3);
    }

    std::string endpoint, message;
    const int rc = rawdataEndpoint(reply, &endpoint, &message);
    if (rc != 0) {
        printf("Errormgs: %s\n", message.c_str());
        fflush(stdout);
        exit(rc);
    }

    subscriber = new zmq::socket_t(*context, zmq::socket_type::sub);
    subscriber->set(zmq::sockopt::ipv6, 1);
    std::string reason;
    if (!tryConnect(*subscriber, endpoint, &reason)) {
        printf("Errormgs: rawdata-pub %s: %s\n", endpoint.c_str(), reason.c_str());
        fflush(stdout);
        exit(1);
    }
    subscriber->set(zmq::sockopt::subscribe, "");

    Timeout = timeout;
    debug = 0;
    cf = cfp;
    section = Sec;
    if (cf != nullptr) {
        sweepSize = static_cast<int>(cf->ValueLong(section, "sweepsize"));
        nrOfSweeps = static_cast<int>(cf->ValueLong(section, "nrofsweeps"));
    }
}

TarnixClass::~TarnixClass()
{
    if (subscriber != nullptr) {
        subscriber->set(zmq::sockopt::linger, 0);
        delete subscriber;
    }
    delete context;
}

int TarnixClass::getMeasurement(radar_st* record, double)
{
    int* length = &record->length;
    zmq::message_t msg;
    try {
        if (!subscriber->recv(msg, zmq::recv_flags::none)) {
            printf("ZMQTarnix error:%d %d\n", -1, EAGAIN);
            *length = 0;
            return 1;
        }
    } catch (const zmq::error_t& e) {
        printf("ZMQTarnix error:%d %d\n", -1, e.num());
        *length = 0;
        return 1;
    }
    int tooLarge = 0;
    switch (boardRecord(msg.data(), msg.size(), sweepSize, &board_, &tooLarge)) {
    case BoardMessage::WrongSize:
        // Part new, part old would be a record of two pairs: take none of it.
        printf("ZMQTarnix error: message of %zu bytes, not %zu\n", msg.size(), sizeof(tarnix_st));
        *length = 0;
        return 1;
    case BoardMessage::TooLarge:
        if (refusedSize != tooLarge)
            printf("\nTarnix: sweepsize %d above the limit of %d samples: no measurement is taken\n", tooLarge,
                   MAX_BOARD_SWEEP);
        refusedSize = tooLarge;
        *length = 0;
        return 1;
    case BoardMessage::Whole:
        break;
    }
    memcpy(record->data.tarnix, board_.tarnix_data, sizeof board_.tarnix_data);
    const tarnix_st* data = &board_;
    *length = data->sweepsize;
    if (debug != 0) {
        for (int i = 0; i < 2; i++) {
            const beagle_raw_data_t& f = data->tarnix_data[i];
            printf("\nTarnix%d: v=%d temperature=%d time=%u id=%u gain:%d freq:%f bw:%f SyncTime=%lld", i, f.version, f.temperature, f.time,
                   f.id, f.gain, static_cast<double>(static_cast<float>(f.start_freq)), static_cast<double>(static_cast<float>(f.bandwidth)),
                   static_cast<long long>(data->time));
        }
    }
    if (debug > 4) {
        for (int i = 0; i < 2; i++) {
            printf("\ndata: ");
            for (int n = 0; n < 1024; n++) printf("%d ", static_cast<int16_t>(data->tarnix_data[i].data[n]));
        }
        printf("\n");
    }
    return 0;
}

bool TarnixClass::timeOfSweep(radar_st* record)
{
    memset(record->time, 0, sizeof record->time);
    snprintf(record->time, sizeof record->time, "%lld", static_cast<long long>(board_.time));
    return true;
}

int TarnixClass::getVersion()
{
    printf("\nGetting version");
    return 0;
}

int TarnixClass::getStatus(double)
{
    if (debug > 4) printf("\ngetStatus: ");
    return 0;
}
