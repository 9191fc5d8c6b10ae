#include "configcli.h"

#include "configrequest.h"
#include "hostlookup.h"

#include <climits>
#include <cstdio>

namespace {

// The whole wait for the reply in milliseconds; -1 without limit.
int replyWaitMs(const ConfigCliOptions& o)
{
    if (o.wait < 0)
        return -1;
    const long long ms = static_cast<long long>(o.wait) * 10 * o.pollMs;
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

} // namespace

int runConfigCli(const ConfigCliOptions& o)
{
    ConfigRequest::Options options;
    options.timeoutMs = replyWaitMs(o);
    options.ipv6 = true;
    options.textReply = true;
    // Long enough for a request nobody waits for to leave, short enough not to
    // hang on a service that is not there.
    options.lingerMs = o.lingerMs;
    ConfigRequest request("tcp://" + o.address + ":" + std::to_string(o.port), options);
    if (!o.quiet)
        puts("Connecting to configurator server");
    fflush(stdout);
    if (!hostResolves(request.endpoint(), "configuration service", true, HostWait::No))
        return 1;
    if (request.open() != ConfigRequest::Ok) {
        fprintf(stderr, "Error: %s\n", request.reason());
        return 1;
    }
    if (!o.quiet)
        printf("Sending request %s..\n", o.request.c_str());
    std::string reply;
    const bool answered = exchangeOrEnd(request, o.request, &reply, OnFailure::Silently);
    if (!answered)
        reply.clear();
    if (!o.quiet)
        printf("Received: ");
    printf("%s\n", reply.c_str());
    if (!o.quiet)
        puts("Done");
    return answered || o.wait == 0 ? 0 : 100;
}
