#include "handshake.h"

#include <cstdint>

bool connectAndHandshake(zmq::context_t& context, zmq::socket_t& socket, const std::string& endpoint,
                         std::chrono::milliseconds timeout)
{
    // The monitor is in place before the connection starts, so its event cannot slip by.
    const std::string monitor = "inproc://handshake-" + std::to_string(reinterpret_cast<uintptr_t>(socket.handle()));
    if (zmq_socket_monitor(socket.handle(), monitor.c_str(), ZMQ_EVENT_HANDSHAKE_SUCCEEDED) != 0)
        throw zmq::error_t();
    bool done = false;
    try {
        zmq::socket_t events(context, zmq::socket_type::pair);
        events.set(zmq::sockopt::linger, 0);
        events.connect(monitor);
        socket.connect(endpoint);
        zmq::pollitem_t item{static_cast<void*>(events), 0, ZMQ_POLLIN, 0};
        if (timeout.count() > 0 && zmq::poll(&item, 1, timeout) > 0) {
            // An event is two frames: its number and value, then the peer's address.
            zmq::message_t frame;
            while (events.recv(frame, zmq::recv_flags::dontwait) && frame.more()) {
            }
            done = true;
        }
    } catch (const zmq::error_t&) {
        zmq_socket_monitor(socket.handle(), nullptr, 0);
        throw;
    }
    zmq_socket_monitor(socket.handle(), nullptr, 0);
    return done;
}
