#include "configread.h"

#include "configrequest.h"
#include "handshake.h"
#include "zhelpers.h"

#include <zmq.hpp>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

int runConfigRead(const ConfigReadOptions& o)
{
    try {
        zmq::context_t context(1, 1023);
        ConfigRequest::Options options;
        options.textReply = true;
        ConfigRequest requests(context, "tcp://" + o.host + ":" + o.confport, options);
        zmq::socket_t notices(context, zmq::socket_type::sub);
        notices.set(zmq::sockopt::linger, 0);
        puts("Connecting to configurator server");
        if (requests.open() != ConfigRequest::Ok) {
            fprintf(stderr, "Error: %s\n", requests.reason());
            return 1;
        }
        // The service announces what the read changed right behind its reply,
        // so the request leaves only once the subscription can have arrived:
        // it follows the handshake at once, and the publisher takes it when its
        // I/O thread next runs. A notice port that does not answer in time
        // costs the notices, not the read.
        notices.set(zmq::sockopt::subscribe, "");
        if (connectAndHandshake(context, notices, "tcp://" + o.host + ":" + o.subport, o.noticeConnectWait))
            usleep(static_cast<useconds_t>(o.subscriptionSettleMs) * 1000);

        const char* request = "{ \"read\": \"\" }";
        printf("Sending request %s..\n", request);
        std::string reply;
        exchangeOrEnd(requests, request, &reply, OnFailure::Silently);
        printf("Received: %s\n", reply.c_str());
        puts("Klaar ");
        puts("\nWaiting for subscriber measages");
        for (int pass = 0; pass < o.listenPasses; pass++) {
            char* notice = s_recv_nonblocking(notices.handle());
            if (notice != nullptr) {
                printf("Subscriber received:%s\n", notice);
                fflush(stdout);
                free(notice);
            }
            usleep(1000);
        }
        puts("\nDone");
        return 0;
    } catch (const zmq::error_t& e) {
        fprintf(stderr, "Error: %s\n", e.what());
        return 1;
    }
}
