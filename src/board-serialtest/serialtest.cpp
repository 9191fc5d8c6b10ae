#include "serialtest.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/select.h>
#include <unistd.h>

#include "boardlink.h"
#include "uniquefd.h"

int readOnce(int fd)
{
    static unsigned char buf[16384];
    memset(buf, 0, sizeof buf);
    if (!isDescriptorValid(fd)) {
        printf("\r\nIoCTL error readSweep  error %d = %s", errno, strerror(errno));
        return -1;
    }
    int res;
    for (;;) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(fd, &readable);
        struct timeval tv = {0, 1000000};
        res = select(fd + 1, &readable, nullptr, nullptr, &tv);
        if (res > 0) break;
        if (res < 0 && errno != EINTR) return -1;
        usleep(1000);
    }
    ssize_t n;
    do {
        n = read(fd, buf, 8192);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return -1;
    printf("\na: res=%d bytes=%d n=%d buffcount=%d: ", res, 8192, static_cast<int>(n), 0);
    printWords(buf, static_cast<int>(n / 2));
    return static_cast<int>(n);
}

int runBoardSerialTest(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc < 2) {
        fprintf(stderr, "USAGE: %s <serialport>\n", argc > 0 ? argv[0] : "board-serialtest");
        fprintf(stderr, "\n");
        fprintf(stderr, " /dev/ttyACM0\n");
        return 1;
    }
    const UniqueFd port(openSerial(argv[1], false));
    const int fd = port.get();
    if (fd < 0) {
        printf("\nError opening serial port %d", fd);
        return 1;
    }
    if (sendSerial(fd, makeCommand('A', {0x0008, 0x3040})) != 0) {
        printf("Error sending data");
        return 255;
    }
    const int n = readOnce(fd);
    if (n == 0) {
        printf("Error sending data");
        return 255;
    }
    if (n < 0) {
        // A port that cannot be read is no answer either.
        printf("Error reading data: %s", strerror(errno));
        return 255;
    }
    printf("\nOk\n");
    return 0;
}
