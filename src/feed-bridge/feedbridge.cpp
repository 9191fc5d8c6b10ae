#include "feedbridge.h"

#include "publisherbind.h"
#include "signalhandler.h"

#include <cstdio>
#include <cstdlib>

using relay::text;

void bridgeFromReply(const Json::Value& reply, const std::string& own, BridgeSettings* settings)
{
    // Without the section, or without the group, the defaults hold as for a
    // missing key: a port 0 or an empty endpoint would only fail later.
    if (settings->publisherPort == 0) {
        settings->publisherText = text(reply, {"success", own, "publishers", "proxyto"}, "5051");
        settings->publisherPort = relay::portOf(settings->publisherText);
    }
    if (settings->subscriberURI.empty())
        settings->subscriberURI = text(reply, {"success", own, "subscribers", "proxyfrom"}, "127.0.0.1:5050");
}

int processStart(BridgeSettings settings, const std::string& own, const relay::Timing& timing)
{
    zmq::context_t context(1, 1023);
    if (!settings.configuratorConnection.empty()) {
        Json::Value reply;
        {
            relay::ConfigSession session(settings.configuratorConnection, !settings.quiet);
            if (!session.ask(relay::requestText(own, false), &reply))
                return 30;
        }
        if (!relay::configurationFound(reply))
            return 1;
        bridgeFromReply(reply, own, &settings);
    }

    const std::string endpoint =
        settings.publisherPort != 0 ? feedAddress(settings.publisherPort) : feedAddress(settings.publisherText);
    if (!settings.quiet) {
        printf("Starting publisher: %s\n", endpoint.c_str());
        fflush(stdout);
    }
    zmq::socket_t publisher;
    if (!relay::openPublisher(context, endpoint, &publisher))
        return 1;
    const std::string input = "tcp://" + settings.subscriberURI;
    zmq::socket_t subscriber;
    if (!relay::openSubscriber(context, input, timing.receiveTimeoutMs, &subscriber))
        return 1;
    if (!settings.quiet)
        relay::trace("ZMQ Connecting subscriber: tcp://" + settings.subscriberURI);
    while (!stop)
        if (relay::relayMessage(subscriber, publisher, false) == relay::Received::Failed)
            return 3;
    return 0;
}

int runFeedBridge(int argc, char** argv, const std::string& own, const relay::Timing& timing)
{
    const std::initializer_list<const char*> help = {
        "  -d\t\t\t\t-> Skips the configurator connection, note -s and -p must be set on the commandline\n",
        "  -s <ip>:<portnr>\t\t-> subscriber overrules configurator ; defaults to 127.0.0.1:5050\n",
        "  -p <portnr>\t\t\t-> publisher PORT overrules configurator ; defaults to 5051\n",
        "  -h\t\t\t\t-> This help page\n", "  -q\t\t\t\t-> quiet\n\n", "Example Use:\t%s -c 127.0.0.1:5010\n",
        "\t\t%s -c 127.0.0.1:5010 -s 192.168.8.123:5050 -p 5051\n", "\t\t%s -c 127.0.0.1:5010 -s 192.168.8.123:5050\n",
        "\t\t%s -c 127.0.0.1:5010 -p 5051\n", "\n"};
    relay::Options o;
    if (!relay::parseOptions(argc, argv, "hdc:s:p:q", "h", help, &o))
        return 1;
    // Without the service, the command line must name both ends.
    if (o.configuratorConnection.empty() && (o.subscriberURI.empty() || o.publisherPort == 0)) {
        fprintf(stderr, "%s: -d needs both -s <ip>:<portnr> and -p <portnr>\n", argv[0]);
        return 1;
    }
    BridgeSettings settings;
    settings.configuratorConnection = o.configuratorConnection;
    settings.subscriberURI = o.subscriberURI;
    settings.publisherPort = o.publisherPort;
    settings.quiet = o.quiet;
    return processStart(settings, own, timing);
}
