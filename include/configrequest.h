// Requests to the configuration service: one REQ socket that sends a request
// and waits for the reply, and one parser for the replies. Every program and
// tool that asks the service uses them, each with its own request texts,
// time-out and failure policy (exchange reports; the caller decides).
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include <json/value.h>
#include <zmq.hpp>

class ConfigRequest {
public:
    struct Options {
        int timeoutMs = -1;      // for sending and for the reply; -1: no limit
        bool ipv6 = false;       // ZMQ_IPV6 on the socket
        bool textReply = false;  // the reply ends at its first NUL, as a C text
        // Without a time-out: when the connection drops before the reply came
        // (the service stopped), the request goes out again on a fresh socket,
        // to be answered once the service is back. A request socket takes its
        // reply only from the connection its request left on, so it would
        // otherwise wait for ever, even with the service back.
        bool resendAfterDrop = false;
        // Time a request that was sent but whose reply nobody waits for any
        // more has to leave when the socket closes.
        int lingerMs = 0;
    };
    enum Result { Ok, ConnectFailed, SendFailed, ReceiveFailed, TimedOut };

    // On the caller's context.
    ConfigRequest(zmq::context_t& context, std::string endpoint, const Options& options);
    // On a context of its own: one I/O thread, at most 1023 sockets.
    ConfigRequest(std::string endpoint, const Options& options);
    ~ConfigRequest();
    ConfigRequest(const ConfigRequest&) = delete;
    ConfigRequest& operator=(const ConfigRequest&) = delete;

    // Sends `text` and waits for the reply. After a failure the next exchange
    // starts on a fresh socket (a request socket that missed its reply cannot
    // send again).
    Result exchange(const std::string& text, std::string* reply);
    // Makes and connects the socket now, for a program that reports a bad
    // endpoint before it says it sends (exchange otherwise does it itself).
    Result open() { return socket_ ? Ok : connect(); }

    // errno of the last failure, and its text (an endpoint whose port is none
    // fails to connect with EINVAL and NOT_A_PORT of publisherbind.h).
    int error() const { return error_; }
    const char* reason() const;
    const std::string& endpoint() const { return endpoint_; }

private:
    Result connect();
    // Waits for the reply on socket_ (resendAfterDrop): Ok with *msg, or the
    // failure.
    Result awaitReply(const std::string& text, zmq::message_t* msg);

    std::unique_ptr<zmq::context_t> own_;
    zmq::context_t& context_;
    std::string endpoint_;
    Options options_;
    std::unique_ptr<zmq::socket_t> socket_;
    std::unique_ptr<zmq::socket_t> monitor_;  // socket_'s dropped connections
    int error_ = 0;
    bool notAPort_ = false;  // the endpoint's port is none: refused before the library wraps it
};

// No time-out, the reply read as a C text (as s_recv reads it), the request
// sent again after the service went away: the requests of the services that
// ask while they run.
inline ConfigRequest::Options untilAnswered() {
    ConfigRequest::Options o;
    o.textReply = true;
    o.resendAfterDrop = true;
    return o;
}

enum class OnFailure { NameEndpoint, Silently };

// The reply to text in *reply, or false when none came within the request's
// time-out. Any other failure ends the program, after a line on standard error
// naming the endpoint and the reason unless Silently: with 1 when the endpoint
// is not one (a set-up failure), with 3 when sending or receiving failed, as a
// failed s_send or s_recv does.
bool exchangeOrEnd(ConfigRequest& request, const std::string& text, std::string* reply, OnFailure say);
// The reply to text; a reply that does not come in time ends the program with
// 3 too, and every failure names the endpoint.
std::string exchangeOrEnd(ConfigRequest& request, const std::string& text);

// The request endpoint of a service on this host.
std::string localEndpoint(int port);

// Deepest nesting of objects and arrays taken from outside text. Replies and
// requests of the system nest a few levels; the bound keeps every recursive walk
// of a parsed value (copies, comparisons, writers) far from the end of the stack.
constexpr int MAX_JSON_DEPTH = 64;

// Parses a reply as JSON; false, with the parser's message in *errors when
// given, when it is not or nests deeper than MAX_JSON_DEPTH. Never throws:
// outside text must not end a program. *root is null after a failure.
bool parseReply(const std::string& reply, Json::Value* root, std::string* errors = nullptr);
// The same, also refusing text after the value and repeated member names: how
// the configuration service's stand-in reads requests and its files.
bool parseStrictJson(const std::string& text, Json::Value* root, std::string* errors = nullptr);

// One request on a fresh socket, waiting up to `timeout`; false when it could
// not be sent or no reply came in time.
bool requestReply(const std::string& endpoint, const std::string& text, std::string* reply,
                  std::chrono::milliseconds timeout);
