// Sends one request to the configuration service and prints the reply: for the
// demo and for a person checking what the service serves.
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "cmdline.h"
#include "configrequest.h"

namespace {

int usage(const char* program, FILE* to, int status)
{
    fprintf(to, "Use: %s [-e endpoint(tcp://127.0.0.1:5010)] [-t ms(5000)] '<json request>'\n", program);
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    std::string endpoint = "tcp://127.0.0.1:5010";
    long timeoutMs = 5000;
    std::string text;
    bool haveText = false;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "--help") == 0) {
            return usage(argv[0], stdout, 0);
        } else if (strcmp(argv[i], "-e") == 0 && i + 1 < argc) {
            endpoint = argv[++i];
        } else if (strcmp(argv[i], "-t") == 0 && i + 1 < argc) {
            if (!numberOption('t', argv[++i], 0, INT_MAX, &timeoutMs))
                return usage(argv[0], stderr, 1);
        } else if (argv[i][0] == '-') {
            // No request starts with '-': an option this tool does not know,
            // or one without its value.
            fprintf(stderr, "Unknown option or missing value: %s\n", argv[i]);
            return usage(argv[0], stderr, 1);
        } else if (!haveText) {
            text = argv[i];
            haveText = true;
        } else {
            haveText = false;
            break;
        }
    }
    if (!haveText) return usage(argv[0], stderr, 1);
    ConfigRequest::Options o;
    o.timeoutMs = static_cast<int>(timeoutMs);
    o.ipv6 = true;
    ConfigRequest request(endpoint, o);
    std::string reply;
    switch (request.exchange(text, &reply)) {
    case ConfigRequest::Ok:
        printf("%s\n", reply.c_str());
        return 0;
    case ConfigRequest::TimedOut:
        fprintf(stderr, "no reply from %s within %ld ms\n", endpoint.c_str(), timeoutMs);
        return 2;
    default:
        fprintf(stderr, "%s: %s\n", endpoint.c_str(), request.reason());
        return 3;
    }
}
