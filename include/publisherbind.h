// Binding a socket that others connect to, and what happens when it cannot be
// bound (the port is taken, the endpoint is not one): a message that names the
// endpoint, never an uncaught error.
#pragma once

#include <string>

#include <zmq.hpp>

// "tcp://*:<port>": a feed listens on every address.
std::string feedAddress(int port);

// Binds socket to address; false, with the reason in *reason, when it cannot:
// for a program that reports a failed bind with a text of its own.
bool tryBind(zmq::socket_t& socket, const std::string& address, std::string* reason);

// Binds socket to address. When it cannot, prints "<what> <address>: <reason>"
// on standard error and returns false.
bool bindSocket(zmq::socket_t& socket, const std::string& address, const std::string& what);

enum class BindFailure {
    EndStage,   // the process ends with status 1; whoever supervises it starts it again
    KeepGoing,  // the feed stays silent and the caller goes on
};

// Binds a publisher. When it cannot, prints "<label> publisher <address>:
// <reason>" on standard error and does what `onFailure` says; true when bound.
bool bindFeed(zmq::socket_t& publisher, const std::string& address, const char* label, BindFailure onFailure);
