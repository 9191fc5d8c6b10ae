#include "configcli.h"

#include "zhelpers.h"

#include <zmq.hpp>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

int runConfigCli(const ConfigCliOptions& o)
{
    try {
        zmq::context_t context(1, 1023);
        zmq::socket_t socket(context, zmq::socket_type::req);
        socket.set(zmq::sockopt::ipv6, 1);
        // Long enough for a request nobody waits for to leave, short enough not to
        // hang on a service that is not there.
        socket.set(zmq::sockopt::linger, o.lingerMs);
        if (!o.quiet)
            puts("Connecting to configurator server");
        socket.connect("tcp://" + o.address + ":" + std::to_string(o.port));
        if (!o.quiet)
            printf("Sending request %s..\n", o.request.c_str());
        s_send(socket.handle(), o.request.c_str());

        std::string reply;
        bool answered = false;
        long polls = o.wait > 0 ? o.wait * 10 : o.wait;
        while (polls != 0) {
            char* text = s_recv_nonblocking(socket.handle());
            if (text != nullptr) {
                reply = text;
                free(text);
                answered = true;
                break;
            }
            usleep(static_cast<useconds_t>(o.pollMs) * 1000);
            if (polls > 0)
                polls--;
        }
        if (!o.quiet)
            printf("Received: ");
        printf("%s\n", reply.c_str());
        if (!o.quiet)
            puts("Done");
        return answered || o.wait == 0 ? 0 : 100;
    } catch (const zmq::error_t& e) {
        fprintf(stderr, "Error: %s\n", e.what());
        return 1;
    }
}
