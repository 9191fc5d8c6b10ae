#include "listen.h"

#include "configclient.h"
#include "configrequest.h"
#include "decode.h"
#include "hostlookup.h"
#include "numbers.h"

#include <zmq.hpp>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

const Json::Value* successOf(const std::string& reply, Json::Value* root, std::string* errors, ListingReply* status)
{
    *status = ListingReply::NotJson;
    if (!ConfigClient::parseReply(reply, root, errors))
        return nullptr;
    *status = ListingReply::NotFound;
    const Json::Value* success = ConfigClient::at(*root, {});
    if (success == nullptr || !success->isObject())
        return nullptr;
    *status = ListingReply::Ok;
    return success;
}

} // namespace

ListingReply sectionNames(const std::string& reply, std::vector<std::string>* names, std::string* errors)
{
    Json::Value root;
    ListingReply status;
    const Json::Value* success = successOf(reply, &root, errors, &status);
    if (success != nullptr)
        *names = success->getMemberNames();
    return status;
}

ListingReply sectionPublishers(const std::string& reply, const std::string& section,
                               std::vector<std::pair<std::string, std::string>>* publishers, std::string* errors)
{
    Json::Value root;
    ListingReply status;
    if (successOf(reply, &root, errors, &status) == nullptr)
        return status;
    const Json::Value* list = ConfigClient::at(root, {section, "publishers"});
    if (list == nullptr || !list->isObject())
        return status;
    for (const std::string& name : list->getMemberNames()) {
        const Json::Value& v = (*list)[name];
        publishers->emplace_back(name, v.isObject() || v.isArray() ? "" : v.asString());
    }
    return status;
}

namespace {

std::string ask(ConfigRequest& config, const std::string& request)
{
    std::string reply;
    exchangeOrEnd(config, request, &reply, OnFailure::Silently);
    return reply;
}

// The message of a reply that cannot be used, and the exit status 3.
int refuse(ListingReply status, const std::string& errors)
{
    if (status == ListingReply::NotJson)
        printf("Failed to parse JSON\r\n%s\n", errors.c_str());
    else
        puts("Configuration not found");
    return 3;
}

std::string endpoint(const std::string& address, int port)
{
    return "tcp://" + address + ":" + std::to_string(port);
}

// Lists the publishers of every section (unless quiet) and finds the port of
// the chosen one, o.port when none matches: -1, or the exit status when a
// reply cannot be used.
int findPublisher(ConfigRequest& config, const ListenOptions& o, int* port)
{
    std::vector<std::string> sections;
    std::string errors;
    ListingReply status = sectionNames(ask(config, "{ \"get\": \"\" }"), &sections, &errors);
    if (status != ListingReply::Ok)
        return refuse(status, errors);
    if (!o.quiet)
        puts("Possible options are:");
    *port = o.port;
    bool found = false;
    for (const std::string& section : sections) {
        std::vector<std::pair<std::string, std::string>> publishers;
        status = sectionPublishers(ask(config, "{ \"get\": {" + Json::valueToQuotedString(section.c_str()) +
                                                       ":{\"publishers\":\"\" }}}"),
                                   section, &publishers, &errors);
        if (status != ListingReply::Ok)
            return refuse(status, errors);
        for (const auto& p : publishers) {
            if (!o.quiet)
                printf("%s -m %s -o %s\n", o.program.c_str(), section.c_str(), p.first.c_str());
            if (section != o.module || p.first != o.publisher)
                continue;
            if (!parsePortNumber(p.second.c_str(), port)) {
                printf("Error: port of %s -o %s is not a number (%s)\n", section.c_str(), p.first.c_str(),
                       p.second.c_str());
                return 1;
            }
            found = true;
        }
    }
    if (!found && !o.quiet)
        printf("No publisher %s in module %s: listening on port %d\n", o.publisher.c_str(), o.module.c_str(), *port);
    return -1;
}

// Prints the feed's messages decoded until o.count of them or o.timeout
// idle milliseconds; the exit status.
int printFeed(zmq::context_t& context, const ListenOptions& o, int port)
{
    zmq::socket_t feed(context, zmq::socket_type::sub);
    feed.set(zmq::sockopt::ipv6, 1);
    feed.set(zmq::sockopt::linger, 0);
    const std::string feedEndpoint = endpoint(o.address, port);
    feed.connect(feedEndpoint);
    feed.set(zmq::sockopt::subscribe, "");
    printf("ZMQ Connected: %s\n", feedEndpoint.c_str());
    fflush(stdout);

    const FeedKind kind = feedKind(o.module.c_str(), o.publisher.c_str());
    const size_t capacity = messageCapacity(kind);
    alignas(8) static char buffer[TEXT_CAPACITY];
    long count = o.count;
    long countdown = o.timeout;
    while (count != 0) {
        int n = zmq_recv(feed.handle(), buffer, capacity, ZMQ_DONTWAIT);
        if (n >= 0) {
            printMessage(kind, buffer, static_cast<size_t>(n), stdout);
            fflush(stdout);
            if (count > 0)
                count--;
            countdown = o.timeout;
            continue;
        }
        if (errno != EAGAIN) {
            if (!o.quiet)
                printf("Receiving error: %d\n", errno);
            return 102;
        }
        usleep(1000);
        if (countdown == 1) {
            if (!o.quiet)
                puts("timeout");
            return 100;
        }
        if (countdown > 1)
            countdown--;
    }
    return 0;
}

} // namespace

int runListen(const ListenOptions& o)
{
    try {
        if (!o.quiet)
            printf("Connecting to the ip/portnr %s:%d.\n", o.address.c_str(), o.port);
        fflush(stdout);
        if (!hostResolves(endpoint(o.address, o.port), "configuration service", true, HostWait::No))
            return 1;
        zmq::context_t context(1, 1023);
        ConfigRequest::Options options;
        options.ipv6 = true;
        options.textReply = true;
        ConfigRequest config(context, endpoint(o.address, o.port), options);
        if (config.open() != ConfigRequest::Ok) {
            printf("ZMQ error: %s\n", config.reason());
            return 1;
        }
        int port = o.port;
        const int refused = findPublisher(config, o, &port);
        if (refused >= 0)
            return refused;
        return printFeed(context, o, port);
    } catch (const zmq::error_t& e) {
        printf("ZMQ error: %s\n", e.what());
        return 1;
    }
}
