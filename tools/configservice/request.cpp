// Sends one request to the configuration service and prints the reply: for the
// demo and for a person checking what the service serves.
#include "exchange.h"

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
        std::string reply;
        if (!requestReply(endpoint, text, &reply, std::chrono::milliseconds(timeoutMs))) {
            fprintf(stderr, "no reply from %s within %ld ms\n", endpoint.c_str(), timeoutMs);
            return 2;
        }
        printf("%s\n", reply.c_str());
    } catch (const zmq::error_t& e) {
        fprintf(stderr, "%s: %s\n", endpoint.c_str(), e.what());
        return 3;
    }
    return 0;
}
