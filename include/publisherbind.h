// Binding a socket that others connect to, connecting one to a peer, and what
// happens when it cannot be done (the port is taken or is none, the endpoint
// is not one): a message that names the endpoint, never an uncaught error.
#pragma once

#include <string>

#include <zmq.hpp>

// "tcp://*:<port>": a feed listens on every address.
std::string feedAddress(int port);
// The same for a configured port text; the text as given when it is no port
// number, so that the bind helpers refuse it by that name.
std::string feedAddress(const std::string& portText);

// The reason given for a port that is none (see parsePortNumber in numbers.h):
// "not a port number (1-65535)".
extern const char* const NOT_A_PORT;

// False for a "tcp://<host>:<port>" whose port text is not a port number: the
// library would take it modulo 65536, or 0 as any port. After the host "*" the
// whole rest is the port text. An address of another
// transport, or without a port, is left to the library to judge.
bool hasPortNumber(const std::string& address);

// Binds socket to address; false, with the reason in *reason, when it cannot:
// for a program that reports a failed bind with a text of its own.
bool tryBind(zmq::socket_t& socket, const std::string& address, std::string* reason);

// Binds socket to address. When it cannot, prints "<what> <address>: <reason>"
// on standard error and returns false.
bool bindSocket(zmq::socket_t& socket, const std::string& address, const std::string& what);

// Connects socket to address, as tryBind binds.
bool tryConnect(zmq::socket_t& socket, const std::string& address, std::string* reason);

// Connects socket to address, as bindSocket binds.
bool connectSocket(zmq::socket_t& socket, const std::string& address, const std::string& what);

enum class BindFailure {
    EndStage,   // the process ends with status 1; whoever supervises it starts it again
    KeepGoing,  // the feed stays silent and the caller goes on
};

// Binds a publisher. When it cannot, prints "<label> publisher <address>:
// <reason>" on standard error and does what `onFailure` says; true when bound.
bool bindFeed(zmq::socket_t& publisher, const std::string& address, const char* label, BindFailure onFailure);
