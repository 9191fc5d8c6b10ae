// How a stage binds the publisher of its feed, and what happens when it cannot.
#pragma once

#include <string>

#include <zmq.hpp>

// "tcp://*:<port>": a stage's feed listens on every address.
std::string feedAddress(int port);

enum class BindFailure {
    EndStage,   // the stage ends with status 1; the supervisor starts it again
    KeepGoing,  // the feed stays silent and the stage goes on
};

// Binds a stage's publisher. When it cannot, prints "<label> publisher
// <address>: <reason>" on standard error and does what `onFailure` says;
// true when bound.
bool bindFeed(zmq::socket_t& publisher, const std::string& address, const char* label, BindFailure onFailure);
