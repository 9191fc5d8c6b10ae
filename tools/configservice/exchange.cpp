#include "exchange.h"

#include <zmq.hpp>

bool requestReply(const std::string& endpoint, const std::string& text, std::string* reply,
                  std::chrono::milliseconds timeout)
{
    zmq::context_t context(1);
    zmq::socket_t socket(context, zmq::socket_type::req);
    socket.set(zmq::sockopt::linger, 0);
    socket.set(zmq::sockopt::ipv6, 1);
    socket.connect(endpoint);
    socket.send(zmq::buffer(text), zmq::send_flags::none);
    zmq::pollitem_t item{static_cast<void*>(socket), 0, ZMQ_POLLIN, 0};
    if (zmq::poll(&item, 1, timeout) <= 0)
        return false;
    zmq::message_t m;
    if (!socket.recv(m, zmq::recv_flags::dontwait))
        return false;
    *reply = m.to_string();
    return true;
}
