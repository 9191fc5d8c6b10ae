// One ZeroMQ message as one NUL-terminated text, for the services. A failed
// send or receive ends the process with status 3, so callers never see an
// error result. Internal linkage: every program carries its own copy.
#pragma once

#include <zmq.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// Copies a received message into a NUL-terminated buffer and closes it.
static inline char* s_msg_text(zmq_msg_t* message)
{
    size_t size = zmq_msg_size(message);
    char* text = static_cast<char*>(malloc(size + 1));
    if (text == nullptr)
        exit(3);
    memcpy(text, zmq_msg_data(message), size);
    zmq_msg_close(message);
    text[size] = '\0';
    return text;
}

// The message plus a NUL, in a buffer the caller releases with free(); exit(3)
// when the receive fails (an expired ZMQ_RCVTIMEO or EINTR included).
static inline char* s_recv(void* socket)
{
    zmq_msg_t message;
    zmq_msg_init(&message);
    if (zmq_msg_recv(&message, socket, 0) < 0)
        exit(3);
    return s_msg_text(&message);
}

// As s_recv, but null at once when no message is waiting.
static inline char* s_recv_nonblocking(void* socket)
{
    zmq_msg_t message;
    zmq_msg_init(&message);
    if (zmq_msg_recv(&message, socket, ZMQ_DONTWAIT) < 0) {
        if (errno == EAGAIN)
            return nullptr;
        exit(3);
    }
    return s_msg_text(&message);
}

static inline int s_send_flags(void* socket, const char* text, int flags)
{
    size_t size = strlen(text);
    zmq_msg_t message;
    if (zmq_msg_init_size(&message, size) != 0)
        exit(3);
    memcpy(zmq_msg_data(&message), text, size);
    int rc = zmq_msg_send(&message, socket, flags);
    if (rc < 0) {
        zmq_msg_close(&message);
        exit(3);
    }
    return rc;
}

// The text's bytes up to its NUL as one message; the byte count.
static inline int s_send(void* socket, const char* text)
{
    return s_send_flags(socket, text, 0);
}

// As s_send, with more parts to follow.
static inline int s_sendmore(void* socket, const char* text)
{
    return s_send_flags(socket, text, ZMQ_SNDMORE);
}

// Receives one message with all its parts and prints each as "[size] " and its
// bytes: as characters when all lie in 0x20..0x7F, else as hex pairs.
static inline void s_dump(void* socket)
{
    puts("----------------------------------------");
    int64_t more = 1;
    while (more != 0) {
        zmq_msg_t message;
        zmq_msg_init(&message);
        zmq_msg_recv(&message, socket, 0);
        size_t size = zmq_msg_size(&message);
        const unsigned char* data = static_cast<const unsigned char*>(zmq_msg_data(&message));
        bool isText = true;
        for (size_t i = 0; i < size; i++)
            if (data[i] < 0x20 || data[i] > 0x7F)
                isText = false;
        printf("[%03d] ", static_cast<int>(size));
        for (size_t i = 0; i < size; i++) {
            if (isText)
                printf("%c", data[i]);
            else
                printf("%02X", data[i]);
        }
        printf("\n");
        more = 0;
        size_t length = sizeof more;
        zmq_getsockopt(socket, ZMQ_RCVMORE, &more, &length);
        zmq_msg_close(&message);
    }
}

// A random identity "XXXX-XXXX" for the socket.
static inline void s_set_id(void* socket)
{
    // Each half can reach 0x10000 (five digits), hence room for 11 characters.
    char identity[16];
    int a = static_cast<int>(static_cast<double>(static_cast<float>(random()) * 65536.0f) / 2147483648.0);
    int b = static_cast<int>(static_cast<double>(static_cast<float>(random()) * 65536.0f) / 2147483648.0);
    snprintf(identity, sizeof identity, "%04X-%04X", a, b);
    zmq_setsockopt(socket, ZMQ_IDENTITY, identity, strlen(identity));
}

static inline void s_version()
{
    int major, minor, patch;
    zmq_version(&major, &minor, &patch);
    printf("Current 0MQ version is %d.%d.%d\n", major, minor, patch);
}
