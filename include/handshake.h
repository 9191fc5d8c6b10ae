// Waiting for a ZeroMQ connection to be made, for a client that must not act
// before its peer can hear it.
#pragma once

#include <chrono>
#include <string>

#include <zmq.hpp>

// Connects `socket` (of `context`) to `endpoint` and waits until the
// connection's handshake is done. False when it was not done within `timeout`;
// the socket then stays connected and keeps trying. Throws the messaging
// library's error when the endpoint is not one.
bool connectAndHandshake(zmq::context_t& context, zmq::socket_t& socket, const std::string& endpoint,
                         std::chrono::milliseconds timeout);
