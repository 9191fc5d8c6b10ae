#include "configrequest.h"

#include <cerrno>
#include <cstring>
#include <exception>

#include <json/reader.h>

ConfigRequest::ConfigRequest(zmq::context_t& context, std::string endpoint, const Options& options)
    : context_(context), endpoint_(std::move(endpoint)), options_(options) {}

ConfigRequest::ConfigRequest(std::string endpoint, const Options& options)
    : own_(new zmq::context_t(1, 1023)), context_(*own_), endpoint_(std::move(endpoint)), options_(options) {}

ConfigRequest::~ConfigRequest() { socket_.reset(); }

const char* ConfigRequest::reason() const { return zmq_strerror(error_); }

ConfigRequest::Result ConfigRequest::connect() {
    try {
        socket_.reset(new zmq::socket_t(context_, zmq::socket_type::req));
        // A reply that will never come must not hold the program at its end.
        socket_->set(zmq::sockopt::linger, 0);
        if (options_.ipv6) socket_->set(zmq::sockopt::ipv6, 1);
        if (options_.timeoutMs >= 0) {
            socket_->set(zmq::sockopt::rcvtimeo, options_.timeoutMs);
            socket_->set(zmq::sockopt::sndtimeo, options_.timeoutMs);
        }
        socket_->connect(endpoint_);
        return Ok;
    } catch (const zmq::error_t& e) {
        error_ = e.num();
        socket_.reset();
        return ConnectFailed;
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
        if (!uninterrupted([&] { return socket_->send(zmq::buffer(text), zmq::send_flags::none); })) {
            error_ = EAGAIN;
            socket_.reset();
            return TimedOut;
        }
        failed = ReceiveFailed;
        zmq::message_t msg;
        if (!uninterrupted([&] { return socket_->recv(msg, zmq::recv_flags::none); })) {
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
