#include "headingadjust.h"

#include "heading.h"
#include "publisherbind.h"
#include "signalhandler.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using relay::text;
using relay::trace;

void pidlist_st::printStart() const
{
    trace("Starting: " + subscriberURL + " " + publisherURL + " " + headingURL);
}

int pidlist_st::processStart()
{
    zmq::context_t context(1, 1023);
    if (verbose)
        trace("Starting publisher: " + publisherURL);
    zmq::socket_t publisher;
    if (!relay::openPublisher(context, publisherURL, &publisher))
        return 1;
    zmq::socket_t subscriber;
    if (!relay::openSubscriber(context, subscriberURL, timing.receiveTimeoutMs, &subscriber))
        return 1;
    if (verbose)
        trace("ZMQ Connecting : " + subscriberURL);
    zmq::socket_t headingSocket(context, zmq::socket_type::pull);
    zmq_pollitem_t items[2] = {{subscriber.handle(), 0, ZMQ_POLLIN, 0}, {headingSocket.handle(), 0, ZMQ_POLLIN, 0}};
    int nItems = 1;
    if (!headingURL.empty()) {
        headingSocket.set(zmq::sockopt::ipv6, 1);
        headingSocket.set(zmq::sockopt::linger, 0);
        headingSocket.set(zmq::sockopt::rcvtimeo, timing.receiveTimeoutMs);
        if (!bindSocket(headingSocket, headingURL, "heading input"))
            return 1;
        if (verbose)
            trace("ZMQ binding : " + headingURL);
        nItems = 2;
    }

    HeadingState state;
    std::string dataout;
    while (!stop) {
        if (zmq_poll(items, nItems, -1) < 0) {
            if (errno == EINTR)
                continue; // SIGINT: the stop test decides
            return 3;
        }
        if (items[0].revents & ZMQ_POLLIN) {
            zmq::message_t frame;
            if (!subscriber.recv(frame, zmq::recv_flags::dontwait))
                continue;
            const char* line = static_cast<const char*>(frame.data());
            const size_t length = frame.size() > 0 ? strnlen(line, frame.size()) : 0;
            if (verbose > 2)
                trace("Received subscriber: " + std::string(line, length));
            if (!adjustLine(line, length, state.realheadingENUDeg, &dataout)) {
                if (verbose)
                    trace("Skipped, fewer than seven fields: " + std::string(line, length));
                continue;
            }
            if (verbose)
                trace("Out:" + dataout + " length:" + std::to_string(dataout.size()));
            publisher.send(zmq::buffer(dataout), zmq::send_flags::dontwait);
            dataout.clear();
        }
        if (nItems == 2 && (items[1].revents & ZMQ_POLLIN)) {
            zmq::message_t frame;
            if (!headingSocket.recv(frame, zmq::recv_flags::dontwait))
                continue;
            std::string message = frame.to_string();
            if (verbose)
                trace("Received heading: " + message);
            applyHeadingMessage(message, radarXaxisToHeadingRef_ENU_deg, &state);
            if (verbose)
                trace("GPS => Time=" + std::to_string(state.gpstimestamp) + " Sensor=" + state.sensor +
                      " heading=" + state.realheadingENUDeg);
        }
    }
    return 0;
}

int headingFeeds(const Json::Value& reply, const std::string& own, int verbose,
                 std::vector<std::unique_ptr<pidlist_st>>* feeds)
{
    if (!relay::isObject(reply, {"success", own, "subscribers"}))
        return 0;
    const Json::Value& section = reply["success"][own];
    std::string heading = text(section, {"pull", "heading"});
    float angle = 0.0f;
    if (section.isMember("RadarXaxisToHeadingRef")) {
        std::string angleText = text(section, {"RadarXaxisToHeadingRef"});
        if (!readAngle(angleText, &angle))
            trace("RadarXaxisToHeadingRef is not a number: \"" + angleText + "\"; 0 is used");
    }
    std::vector<std::string> withoutHeading;
    for (const std::string& name : section["subscribers"].getMemberNames()) {
        std::string subscriber = text(section, {"subscribers", name});
        if (subscriber.empty()) {
            if (verbose)
                trace("No subscriberURI found: " + subscriber);
            return 31;
        }
        const std::string portText = text(section, {"publishers", name});
        int port = relay::portOf(portText);
        if (port == 0) {
            relay::skipFeed(name, "publisher port", portText);
            continue;
        }
        const std::string subscriberURL = "tcp://" + subscriber;
        if (!hasPortNumber(subscriberURL)) {
            relay::skipFeed(name, "subscriber", subscriber);
            continue;
        }
        auto feed = std::make_unique<pidlist_st>();
        feed->name = name;
        feed->subscriberURL = subscriberURL;
        feed->publisherURL = "tcp://*:" + std::to_string(port);
        feed->radarXaxisToHeadingRef_ENU_deg = angle;
        feed->verbose = verbose;
        // One process can bind the heading endpoint: the first feed's worker.
        if (!heading.empty() && feeds->empty())
            feed->headingURL = "tcp://" + heading;
        else if (!heading.empty())
            withoutHeading.push_back(name);
        feeds->push_back(std::move(feed));
    }
    if (!withoutHeading.empty()) {
        std::string names;
        for (const auto& n : withoutHeading)
            names += (names.empty() ? "" : ", ") + n;
        trace("Warning: heading endpoint " + heading + " is bound by feed " + feeds->front()->name +
              " only; feeds " + names + " carry NaN headings");
    }
    return 0;
}

int runHeadingAdjust(int argc, char** argv, const std::string& own, const relay::Timing& timing)
{
    relay::Options o;
    if (!relay::parseOptions(argc, argv, "hc:v::", "h", {"  -h\t\t-> This help page\n",
                                 "  -v[int]\t\t\t-> verbose higher number is more info; defaults to 1\n\n",
                                 "Use: %s -c 127.0.0.1:5010\n", "\n"}, &o))
        return 1;
    const int verbose = o.verbose;
    const std::string& configuratorConnection = o.configuratorConnection;

    relay::ConfigSession session(configuratorConnection, verbose != 0);
    Json::Value reply;
    std::string errors;
    if (!session.ask(relay::requestText(own, true), &reply, &errors)) {
        printf("Failed to parse JSON\r\n%s", errors.c_str());
        fflush(stdout);
        return 30;
    }
    if (!relay::configurationFound(reply))
        return 1;
    std::vector<std::unique_ptr<pidlist_st>> feeds;
    int code = headingFeeds(reply, own, verbose, &feeds);
    if (code != 0)
        return code;
    for (auto& f : feeds)
        f->timing = timing;
    std::vector<std::unique_ptr<relay::Worker>> workers(std::make_move_iterator(feeds.begin()),
                                                        std::make_move_iterator(feeds.end()));
    return relay::superviseWithAlerts(session, configuratorConnection, reply, {own}, std::move(workers), timing,
                                      verbose != 0);
}
