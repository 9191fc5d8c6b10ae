#include "unitrelay.h"

#include "signalhandler.h"

#include <cstdio>
#include <cstdlib>

using relay::text;
using relay::trace;

const char* const radarsRequest = "{\"getmem\":{\"Radars\":\"\"}}";

void UnitFeed::printStart() const
{
    trace(subscriberURL + " " + publisherURL);
}

int UnitFeed::processStart()
{
    zmq::context_t context(1, 1023);
    if (!quiet)
        trace("Starting publisher: " + publisherURL);
    zmq::socket_t publisher;
    if (!relay::openPublisher(context, publisherURL, &publisher))
        return 1;
    zmq::socket_t subscriber;
    if (!relay::openSubscriber(context, subscriberURL, timing.receiveTimeoutMs, &subscriber))
        return 1;
    if (!quiet)
        trace("ZMQ Connecting : " + subscriberURL);
    while (!stop) {
        relay::Received r = relay::relayMessage(subscriber, publisher, !quiet);
        if (r == relay::Received::Failed)
            return 3;
    }
    return 0;
}

int unitFeeds(const Json::Value& reply, const Json::Value& memory, const std::string& own, bool quiet,
              std::vector<std::unique_ptr<UnitFeed>>* feeds)
{
    if (!relay::isObject(reply, {"success", own, "subscribers"}))
        return 0;
    const Json::Value& section = reply["success"][own];
    for (const std::string& name : section["subscribers"].getMemberNames()) {
        const std::string portText = text(section, {"subscribers", name, "port"});
        const int port = relay::portOf(portText);
        std::string selector = text(section, {"subscribers", name, "serialSelector"});
        std::string serialNr = text(reply, {"success", "vintor-dir", "Configuration", selector}, "A");
        if (!quiet)
            trace("serialnr: " + serialNr);
        const std::string localText = text(section, {"publishers", name});
        int localPort = relay::portOf(localText);
        if (!relay::configurationFound(memory))
            return 1;
        if (!relay::isObject(memory, {"success", "Radars"})) {
            puts("No memory branch \"Radars\" found");
            return 32;
        }
        if (!relay::isObject(memory, {"success", "Radars", serialNr})) {
            puts(("No unit " + serialNr + " found in memory branch \"Radars\"").c_str());
            return 32;
        }
        std::string ip = text(memory, {"success", "Radars", serialNr, "ip"});
        if (ip.empty()) {
            if (!quiet)
                trace("No subscriberIP found: " + ip + std::to_string(port));
            return 31;
        }
        if (localPort == 0) {
            relay::skipFeed(name, "publisher port", localText);
            continue;
        }
        if (port == 0) {
            relay::skipFeed(name, "port", portText);
            continue;
        }
        auto feed = std::make_unique<UnitFeed>();
        feed->name = name;
        feed->subscriberURL = "tcp://" + ip + ":" + std::to_string(port);
        feed->publisherURL = "tcp://*:" + std::to_string(localPort);
        feed->quiet = quiet;
        feeds->push_back(std::move(feed));
    }
    return 0;
}

int runUnitRelay(int argc, char** argv, const std::string& own, const relay::Timing& timing)
{
    relay::Options o;
    if (!relay::parseOptions(argc, argv, "hc:q", "h",
                             {"  -h\t\t-> This help page\n", "  -q\t\t\t-> quiet\n\n", "Use: %s -c 127.0.0.1:5010\n", "\n"},
                             &o))
        return 1;
    const bool quiet = o.quiet;
    const std::string& configuratorConnection = o.configuratorConnection;

    relay::ConfigSession session(configuratorConnection, !quiet);
    Json::Value reply;
    if (!session.ask(relay::requestText(own, true), &reply))
        return 30;
    if (!relay::configurationFound(reply))
        return 1;
    Json::Value memory;
    if (relay::isObject(reply, {"success", own, "subscribers"}) && !session.ask(radarsRequest, &memory))
        return 30;
    std::vector<std::unique_ptr<UnitFeed>> feeds;
    int code = unitFeeds(reply, memory, own, quiet, &feeds);
    if (code != 0)
        return code;
    return relay::superviseWithAlerts(session, configuratorConnection, reply, {own, "vintor-dir"},
                                      relay::asWorkers(feeds, timing), timing, !quiet);
}
