#include "boardlink.h"

#include "uniquefd.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

extern char** environ;

int detectUSBDevice(const std::string& script, const char* name, char* device, bool quiet)
{
    // The whole configured path, however long: a cut one names another file.
    const char* path = script.c_str();
    if (access(path, F_OK) != 0) {
        if (!quiet) printf("\nError can't find script: %s \n", path);
        return -1;
    }
    // The path comes from the configuration: run it directly, never through a
    // shell, so spaces or shell characters in it are taken literally.
    int pipefd[2];
    if (pipe2(pipefd, O_CLOEXEC) != 0) {
        if (!quiet) printf("\nError Popen: %s %s \n", path, name);
        return -3;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    UniqueFd readEnd(pipefd[0]), writeEnd(pipefd[1]);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
    char* argv[] = {const_cast<char*>(path), const_cast<char*>(name), nullptr};
    pid_t pid = -1;
    int rc = posix_spawn(&pid, path, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    writeEnd.reset();
    if (rc != 0) {
        if (!quiet) printf("\nError Popen: %s %s \n", path, name);
        return -3;
    }
    FILE* out = fdopen(readEnd.get(), "r");
    bool found = false;
    if (out) {
        char line[DEVICE_PATH_SIZE];
        while (fgets(line, sizeof line, out)) {
            if (!quiet) printf("found tarnix dev: %s\n", line);
            size_t len = strlen(line);
            while (len > 0 && (line[len - 1] == '\n' || line[len - 1] == '\r')) line[--len] = '\0';
            memcpy(device, line, len + 1);
            found = true;
        }
        readEnd.release(); // the stream closes it
        fclose(out);
    } else {
        readEnd.reset(); // before the wait: the script must not block on a full pipe
    }
    int status = 0;
    pid_t w;
    do {
        w = waitpid(pid, &status, 0);
    } while (w < 0 && errno == EINTR);
    if (w < 0) {
        if (!quiet) printf("\nError scripts close error\n");
        return -2;
    }
    if (!found) {
        if (!quiet) printf("\nError script printed no device: %s \n", path);
        return -4;
    }
    return 0;
}

bool isDescriptorValid(int fd)
{
    return !(fcntl(fd, F_GETFL) == -1 && errno == EBADF);
}

int setSerialAttributes(int fd, unsigned speed, unsigned parity, bool quiet)
{
    struct termios tty;
    memset(&tty, 0, sizeof tty);
    if (tcgetattr(fd, &tty) != 0) {
        if (!quiet) printf("error %d from tcgetattr", errno);
        return -1;
    }
    cfsetospeed(&tty, speed);
    cfsetispeed(&tty, speed);
    tty.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tty.c_cflag |= CS8 | CLOCAL | CREAD | parity;
    // Frames are binary: besides flow control, every input translation must be
    // off, or a 0x0D byte in a sweep would arrive as 0x0A.
    tty.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | INPCK | IXON | IXOFF | IXANY);
    tty.c_lflag = 0;
    tty.c_oflag = 0;
    tty.c_cc[VMIN] = 0;
    tty.c_cc[VTIME] = 5;
    if (tcsetattr(fd, TCSANOW, &tty) != 0) {
        if (!quiet) printf("error %d from tcsetattr", errno);
        return -1;
    }
    return 0;
}

int openSerial(const char* path, bool quiet)
{
    int fd = open(path, O_RDWR | O_NOCTTY | O_SYNC | O_CLOEXEC);
    if (fd < 0) {
        printf("\nerror %d opening %s: %s\n", errno, path, strerror(errno));
        fflush(stdout);
        return fd;
    }
    // A device that takes no raw 115200 set-up (not a tty, say) is no board port.
    if (setSerialAttributes(fd, B115200, 0, quiet) != 0) {
        const int e = errno;
        close(fd);
        errno = e;
        return -1;
    }
    tcflush(fd, TCIOFLUSH);
    return fd;
}

serial_cmd_st makeCommand(char command, std::initializer_list<uint16_t> words)
{
    serial_cmd_st cmd{};
    cmd.command = static_cast<uint8_t>(command);
    for (uint16_t w : words) {
        if (cmd.count == 11) break;
        cmd.words[cmd.count++] = w;
    }
    return cmd;
}

int encodeCommand(const serial_cmd_st& cmd, uint8_t* out)
{
    int n = 0;
    out[n++] = cmd.command;
    int words = cmd.count < 0 ? 0 : (cmd.count > 11 ? 11 : cmd.count);
    for (int i = 0; i < words; i++) {
        out[n++] = static_cast<uint8_t>(cmd.words[i] >> 8);
        out[n++] = static_cast<uint8_t>(cmd.words[i] & 0xFF);
    }
    return n;
}

int sendSerial(int fd, const serial_cmd_st& cmd)
{
    if (!isDescriptorValid(fd)) {
        printf("\r\nIoCTL error sendSerial  error ");
        fflush(stdout);
        return -1;
    }
    uint8_t frame[1 + 2 * 11];
    int len = encodeCommand(cmd, frame);
    ssize_t n = write(fd, frame, len);
    if (n != len) {
        printf("\nError from write: %d, %d = %s \n", static_cast<int>(n), errno, strerror(errno));
        fflush(stdout);
        return -1;
    }
    return 0;
}

uint16_t crc16Buffer(const uint8_t* bytes, int length, uint16_t crc)
{
    uint32_t c = crc;
    for (int i = 0; i < length; i++) {
        c ^= static_cast<uint32_t>(bytes[i]) << 8;
        for (int b = 0; b < 8; b++) {
            c <<= 1;
            if (c & 0x10000) c = (c ^ 0xA001) & 0xFFFF;
        }
    }
    return static_cast<uint16_t>(c);
}

uint16_t sweepFrameCRC(const beagle_raw_data_t& frame)
{
    return crc16Buffer(reinterpret_cast<const uint8_t*>(&frame), offsetof(beagle_raw_data_t, crc), 0xFFFF);
}

uint32_t swapHalves(uint32_t v)
{
    return (v << 16) | (v >> 16);
}

void printWords(const uint8_t* bytes, int words)
{
    for (int i = 0; i < words; i++) printf("%04X ", static_cast<unsigned>(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
}

SweepReader::SweepReader(bool q, int wait) : quiet(q), waitMs(wait)
{
    memset(buf, 0, sizeof buf);
}

void SweepReader::reset()
{
    memset(buf, 0, sizeof buf);
    start = 0;
    count = 0;
}

uint16_t SweepReader::word(int i) const
{
    return static_cast<uint16_t>(buf[start + 2 * i] | (buf[start + 2 * i + 1] << 8));
}

// Taking bytes only moves the start: sync words and messages are consumed a few
// bytes at a time, and moving the rest each time would copy the buffer per word.
void SweepReader::drop(int bytes)
{
    if (bytes > count) bytes = count;
    start += bytes;
    count -= bytes;
}

// Once per read: held bytes to the front, the space they leave zeroed, so bytes
// beyond the held ones stay zero and a frame still arriving has a zero check word.
void SweepReader::compact()
{
    if (start == 0) return;
    memmove(buf, buf + start, count);
    memset(buf + count, 0, start);
    start = 0;
}

// `from` counts bytes from the first held one.
void SweepReader::dumpWords(const char* head, int from, int words) const
{
    fputs(head, stdout);
    printWords(buf + start + from, words);
    putchar('\n');
}

namespace {
constexpr int NEED_MORE = -2;
}

bool SweepReader::knownKind(uint16_t w)
{
    return w == LINE_END_WORD || w == TICK_WORD || w == FRAME_VERSION;
}

// Sync words go; garbage goes with the sync word that follows it. Bytes after
// a message of a known kind are left for its classification.
void SweepReader::resynchronise()
{
    while (count >= 2) {
        if (word(0) == SYNC_WORD) {
            drop(2);
            continue;
        }
        if (knownKind(word(0))) return;
        int j = 1;
        while (j < count / 2 && word(j) != SYNC_WORD) j++;
        if (j >= count / 2) return;
        drop(2 * (j + 1));
    }
}

int SweepReader::decide(beagle_raw_data_t* frame)
{
    for (;;) {
        resynchronise();
        if (dumpHeld && !quiet) {
            printf("\nb: res=%d n=%d buffcount=%d: ", lastRead.res, lastRead.n, count);
            dumpWords("", 0, count / 2);
        }
        dumpHeld = false;
        if (count < 2) return NEED_MORE;
        const uint16_t w0 = word(0);
        if (w0 == LINE_END_WORD) {
            drop(2);
            return SWEEP_LINE_END;
        }
        if (w0 == TICK_WORD) {
            drop(2);
            return SWEEP_TICK;
        }
        if (w0 == FRAME_VERSION) {
            if (count < BOARD_FRAME_SIZE) {
                // Not whole yet: it cannot pass; report and wait for the rest.
                if (!quiet) {
                    const uint8_t* p = buf + start;
                    uint16_t crcWord = static_cast<uint16_t>(p[2074] | (p[2075] << 8));
                    printf(" CRC=%d -> sweepDataCRC=%d\n", crc16Buffer(p, 2074, 0xFFFF), crcWord);
                }
                return NEED_MORE;
            }
            memcpy(frame, buf + start, BOARD_FRAME_SIZE);
            const uint16_t check = sweepFrameCRC(*frame);
            if (check == frame->crc && frame->crc != 0) {
                frame->start_freq = swapHalves(frame->start_freq);
                frame->bandwidth = swapHalves(frame->bandwidth);
                frame->id = swapHalves(frame->id);
                frame->time = swapHalves(frame->time);
                drop(BOARD_FRAME_SIZE);
                return SWEEP_FRAME;
            }
            if (!quiet) printf(" CRC=%d -> sweepDataCRC=%d\n", check, frame->crc);
            // A whole frame that fails its check is dropped up to the next sync word.
            int j = 1;
            while (j < count / 2 && word(j) != SYNC_WORD) j++;
            drop(2 * j);
            continue;
        }
        // Unknown, and no sync word behind it.
        if (!quiet) {
            printf("\nBuf[0]=%x Count=%d ", w0, count);
            printf("\na: res=%d bytes=%d n=%d buffcount=%d: ", lastRead.res, lastRead.want, lastRead.n, count);
            dumpWords("", 0, lastRead.n / 2);
        }
        drop(count);
        return SWEEP_UNKNOWN;
    }
}

int SweepReader::readSweep(int fd, beagle_raw_data_t* frame)
{
    if (!isDescriptorValid(fd)) {
        printf("\r\nIoCTL error readSweep  error %d = %s", errno, strerror(errno));
        fflush(stdout);
        return SWEEP_FAILED;
    }
    if (!quiet) puts("Start of readSweep");
    lastRead = ReadInfo();
    int r = decide(frame);
    if (r != NEED_MORE) return r;

    int emptyWaits = 0;
    int gathered = 0;
    while (gathered < FILL_LIMIT) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(fd, &readable);
        struct timeval tv;
        tv.tv_sec = waitMs / 1000;
        tv.tv_usec = (waitMs % 1000) * 1000;
        int res = select(fd + 1, &readable, nullptr, nullptr, &tv);
        if (!quiet) {
            putchar('!');
            fflush(stdout);
        }
        if (res < 0) {
            if (errno == EINTR) continue;
            printf("\nError from select: %d = %s \n", errno, strerror(errno));
            fflush(stdout);
            return SWEEP_FAILED;
        }
        if (res == 0) {
            if (!quiet) {
                printf("\nres=%d , f=%d, timeout_counter=%d", res, fd, emptyWaits);
                fflush(stdout);
            }
            if (emptyWaits > 4) return SWEEP_SILENT;
            emptyWaits++;
            continue;
        }
        compact();
        const int want = FILL_LIMIT - count;
        ssize_t n = read(fd, buf + count, want);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) {
            // Readable but nothing to read: the board has gone (hang-up or unplugged).
            printf("\nError from read: %d, %d = %s \n", static_cast<int>(n), n < 0 ? errno : 0,
                   n < 0 ? strerror(errno) : "end of file");
            fflush(stdout);
            return SWEEP_FAILED;
        }
        const int before = count;
        count += static_cast<int>(n);
        gathered += static_cast<int>(n);
        emptyWaits = 0;
        if (!quiet) {
            printf("\na: bytes=%d n=%d buffcount=%d: ", want, static_cast<int>(n), count);
            dumpWords("", before, static_cast<int>(n) / 2);
        }
        lastRead = {res, want, static_cast<int>(n)};
        dumpHeld = true;
        r = decide(frame);
        if (r != NEED_MORE) return r;
    }
    return SWEEP_NOTHING;
}
