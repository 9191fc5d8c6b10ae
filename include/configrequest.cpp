#include "configrequest.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include <json/reader.h>

#include "publisherbind.h"

ConfigRequest::ConfigRequest(zmq::context_t& context, std::string endpoint, const Options& options)
    : context_(context), endpoint_(std::move(endpoint)), options_(options) {}

ConfigRequest::ConfigRequest(std::string endpoint, const Options& options)
    : own_(new zmq::context_t(1, 1023)), context_(*own_), endpoint_(std::move(endpoint)), options_(options) {}

ConfigRequest::~ConfigRequest() {
    monitor_.reset();
    socket_.reset();
}

const char* ConfigRequest::reason() const { return notAPort_ ? NOT_A_PORT : zmq_strerror(error_); }

ConfigRequest::Result ConfigRequest::connect() {
    monitor_.reset();
    notAPort_ = !hasPortNumber(endpoint_);
    if (notAPort_) {
        error_ = EINVAL;
        socket_.reset();
        return ConnectFailed;
    }
    try {
        socket_.reset(new zmq::socket_t(context_, zmq::socket_type::req));
        // A reply that will never come must not hold the program at its end.
        socket_->set(zmq::sockopt::linger, options_.lingerMs);
        if (options_.ipv6) socket_->set(zmq::sockopt::ipv6, 1);
        if (options_.timeoutMs >= 0) {
            socket_->set(zmq::sockopt::rcvtimeo, options_.timeoutMs);
            socket_->set(zmq::sockopt::sndtimeo, options_.timeoutMs);
        }
        socket_->connect(endpoint_);
        if (options_.resendAfterDrop && options_.timeoutMs < 0) {
            static unsigned monitors = 0;
            const std::string name = "inproc://configrequest-" + std::to_string(++monitors);
            if (zmq_socket_monitor(socket_->handle(), name.c_str(), ZMQ_EVENT_DISCONNECTED) != 0)
                throw zmq::error_t();
            monitor_.reset(new zmq::socket_t(context_, zmq::socket_type::pair));
            monitor_->set(zmq::sockopt::linger, 0);
            monitor_->connect(name);
        }
        return Ok;
    } catch (const zmq::error_t& e) {
        error_ = e.num();
        monitor_.reset();
        socket_.reset();
        return ConnectFailed;
    }
}

ConfigRequest::Result ConfigRequest::awaitReply(const std::string& text, zmq::message_t* msg) {
    for (;;) {
        zmq::pollitem_t items[] = {{socket_->handle(), 0, ZMQ_POLLIN, 0}, {monitor_->handle(), 0, ZMQ_POLLIN, 0}};
        if (zmq_poll(items, 2, -1) < 0) {
            if (zmq_errno() == EINTR) continue;
            throw zmq::error_t();
        }
        if (items[0].revents & ZMQ_POLLIN) {
            if (!socket_->recv(*msg, zmq::recv_flags::dontwait)) continue;
            return Ok;
        }
        if (!(items[1].revents & ZMQ_POLLIN)) continue;
        // An event is two frames: its number and value, then the endpoint.
        zmq::message_t event, where;
        if (!monitor_->recv(event, zmq::recv_flags::dontwait)) continue;
        if (event.more()) (void)monitor_->recv(where, zmq::recv_flags::dontwait);
        uint16_t number = 0;
        if (event.size() >= sizeof number) memcpy(&number, event.data(), sizeof number);
        if (number != ZMQ_EVENT_DISCONNECTED) continue;
        const Result r = connect();
        if (r != Ok) return r;
        // Queued on the fresh socket until the service is back.
        if (!socket_->send(zmq::buffer(text), zmq::send_flags::none)) {
            error_ = EAGAIN;
            socket_.reset();
            return TimedOut;
        }
    }
}

ConfigRequest::Result ConfigRequest::exchange(const std::string& text, std::string* reply) {
    if (!socket_) {
        const Result r = connect();
        if (r != Ok) return r;
    }
    // A signal that interrupts a send or a receive does not end the exchange.
    auto uninterrupted = [](auto call) {
        for (;;) {
            try {
                return call();
            } catch (const zmq::error_t& e) {
                if (e.num() != EINTR) throw;
            }
        }
    };
    Result failed = SendFailed;
    try {
        if (monitor_) {
            // A drop while no request was out is over: the socket has connected
            // again by itself, and the request goes out on it.
            zmq::message_t stale;
            while (monitor_->recv(stale, zmq::recv_flags::dontwait)) {
            }
        }
        if (!uninterrupted([&] { return socket_->send(zmq::buffer(text), zmq::send_flags::none); })) {
            error_ = EAGAIN;
            socket_.reset();
            return TimedOut;
        }
        failed = ReceiveFailed;
        zmq::message_t msg;
        if (monitor_) {
            const Result r = awaitReply(text, &msg);
            if (r != Ok) return r;
        } else if (!uninterrupted([&] { return socket_->recv(msg, zmq::recv_flags::none); })) {
            error_ = EAGAIN;
            socket_.reset();
            return TimedOut;
        }
        const char* data = static_cast<const char*>(msg.data());
        reply->assign(data, options_.textReply ? strnlen(data, msg.size()) : msg.size());
        return Ok;
    } catch (const zmq::error_t& e) {
        error_ = e.num();
        socket_.reset();
        return failed;
    }
}

bool exchangeOrEnd(ConfigRequest& request, const std::string& text, std::string* reply, OnFailure say) {
    const ConfigRequest::Result r = request.exchange(text, reply);
    if (r == ConfigRequest::Ok) return true;
    if (r == ConfigRequest::TimedOut) return false;
    if (say == OnFailure::NameEndpoint)
        fprintf(stderr, "configuration service %s: %s\n", request.endpoint().c_str(), request.reason());
    exit(r == ConfigRequest::ConnectFailed ? 1 : 3);
}

std::string exchangeOrEnd(ConfigRequest& request, const std::string& text) {
    std::string reply;
    if (!exchangeOrEnd(request, text, &reply, OnFailure::NameEndpoint)) {
        fprintf(stderr, "configuration service %s: %s\n", request.endpoint().c_str(), request.reason());
        exit(3);
    }
    return reply;
}

std::string localEndpoint(int port) { return "tcp://localhost:" + std::to_string(port); }

namespace {

bool parseJson(const std::string& text, Json::Value* root, std::string* errors, bool strict) {
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    // The parser throws, rather than fails, when text nests deeper than this.
    builder["stackLimit"] = MAX_JSON_DEPTH;
    if (strict) {
        builder["failIfExtra"] = true;
        builder["rejectDupKeys"] = true;
    }
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string why;
    bool ok = false;
    try {
        ok = reader->parse(text.data(), text.data() + text.size(), root, &why);
    } catch (const std::exception& e) {
        why = e.what();
    }
    if (!ok) *root = Json::Value();
    if (errors != nullptr) *errors = why;
    return ok;
}

}  // namespace

bool parseReply(const std::string& reply, Json::Value* root, std::string* errors) {
    return parseJson(reply, root, errors, false);
}

bool parseStrictJson(const std::string& text, Json::Value* root, std::string* errors) {
    return parseJson(text, root, errors, true);
}

bool requestReply(const std::string& endpoint, const std::string& text, std::string* reply,
                  std::chrono::milliseconds timeout) {
    ConfigRequest::Options o;
    o.timeoutMs = static_cast<int>(timeout.count());
    o.ipv6 = true;
    ConfigRequest request(endpoint, o);
    return request.exchange(text, reply) == ConfigRequest::Ok;
}
