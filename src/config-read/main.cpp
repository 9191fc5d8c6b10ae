// config-read <configurator portnumber> <subscriberport> [-d]: one "read"
// request to the configuration service, then its notices for about a second;
// -d runs it as a daemon.
#include "configread.h"
#include "handler.h"
#include "numbers.h"

#include <syslog.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    signal(SIGSEGV, handler);
    if (argc < 3) {
        fprintf(stderr, "ERROR, No configurator portnumber\n");
        fprintf(stderr, "Use: %s <configurator portnumber> <subscriberport>\n", argv[0]);
        fprintf(stderr, " bv: %s 5010 5011\n", argv[0]);
        fprintf(stderr, "\n");
        return 1;
    }
    // The ports go into the endpoints as given, so only numbers are let through.
    for (int i = 1; i <= 2; i++) {
        int port = 0;
        if (!parsePortNumber(argv[i], &port)) {
            fprintf(stderr, "Error: wrong port number (%s)\n", argv[i]);
            return 1;
        }
    }
    if (argc > 3 && strcmp(argv[3], "-d") == 0) {
        openlog(argv[0], LOG_PID | LOG_CONS | LOG_NDELAY, LOG_LOCAL1);
        syslog(LOG_NOTICE, "Program started in daemon by user %d", static_cast<int>(getuid()));
        puts("Going into daemon mode");
        fflush(stdout);
        // The ZeroMQ context is made after the fork: contexts do not survive one.
        pid_t pid = fork();
        if (pid < 0) {
            printf("Fork error");
            return 1;
        }
        if (pid > 0) {
            puts("Daemon started and parent closed ok");
            syslog(LOG_INFO, "Daemon started and parent closed ok\n");
            return 0;
        }
    } else {
        puts("To go into daemonmode use:");
        printf("%s %s %s -d\n\n", argv[0], argv[1], argv[2]);
    }
    ConfigReadOptions o;
    o.confport = argv[1];
    o.subport = argv[2];
    return runConfigRead(o);
}
