// Sends one request to the configuration service and prints the reply: for the
// demo and for a person checking what the service serves.
#include <zmq.hpp>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv)
{
    std::string endpoint = "tcp://127.0.0.1:5010";
    long timeoutMs = 5000;
    std::string text;
    bool haveText = false;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "-e") == 0 && i + 1 < argc) {
            endpoint = argv[++i];
        } else if (strcmp(argv[i], "-t") == 0 && i + 1 < argc) {
            timeoutMs = strtol(argv[++i], nullptr, 10);
        } else if (!haveText) {
            text = argv[i];
            haveText = true;
        } else {
            haveText = false;
            break;
        }
    }
    if (!haveText) {
        fprintf(stderr, "Use: %s [-e endpoint(tcp://127.0.0.1:5010)] [-t ms(5000)] '<json request>'\n", argv[0]);
        return 1;
    }
    try {
        zmq::context_t context(1);
        zmq::socket_t socket(context, zmq::socket_type::req);
        socket.set(zmq::sockopt::linger, 0);
        socket.set(zmq::sockopt::ipv6, 1);
        socket.connect(endpoint);
        socket.send(zmq::buffer(text), zmq::send_flags::none);
        zmq::pollitem_t item{static_cast<void*>(socket), 0, ZMQ_POLLIN, 0};
        if (zmq::poll(&item, 1, std::chrono::milliseconds(timeoutMs)) <= 0) {
            fprintf(stderr, "no reply from %s within %ld ms\n", endpoint.c_str(), timeoutMs);
            return 2;
        }
        zmq::message_t reply;
        if (!socket.recv(reply, zmq::recv_flags::none))
            return 2;
        printf("%s\n", reply.to_string().c_str());
    } catch (const zmq::error_t& e) {
        fprintf(stderr, "%s: %s\n", endpoint.c_str(), e.what());
        return 3;
    }
    return 0;
}
