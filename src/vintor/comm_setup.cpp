// The serial radar's set-up: CAN messages tunnelled through command-2 frames,
// answers fetched piece by piece with command 3, and the conversation that
// reads the radar's version and configures its sweeps.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "comm.h"
#include "configfile.h"
#include "misc.h"
#include "timer.h"

int canIdentifier(int command) { return (command & 0x3F) | ((command & 0x40) << 4); }

int canPieceCounter(const char* payload, int length) {
    if (length < 4) return -1;
    return uint8_t(payload[2]) + 256 * uint8_t(payload[3]);
}

int canPiecesAnnounced(const char* payload, int length) {
    if (length <= 4) return 0;
    const int high = length > 5 ? uint8_t(payload[5]) : 0;
    return uint8_t(payload[4]) + 256 * high;
}

void CanAnswer::append(const char* payload, int n) {
    for (int i = 4; i < n && !full(); ++i) data[length++] = payload[i];
    if (capacity > 0) data[length] = 0;
}

int CommClass::sendCAN(int id, int command, const char* data, int length, double timeout) {
    const int ident = canIdentifier(command);
    const int pieces = length > 0 ? (length + 5) / 6 : 0;
    int replyLength = 0;
    for (int k = 0; k <= pieces; ++k) {
        char piece[10] = {char(ident >> 8), char(ident & 0xFF), char(k & 0xFF), char(k >> 8), 0, 0, 0, 0, 0, 0};
        int n = 10;
        if (length <= 0) {
            n = 2;  // a message without data is its identifier alone
        } else if (k == 0) {
            piece[4] = char(pieces & 0xFF);
            piece[5] = char(pieces >> 8);
        } else {
            const int from = (k - 1) * 6;
            const int take = std::min(6, length - from);
            std::memcpy(piece + 4, data + from, size_t(take));
            n = 4 + take;
        }
        sendCommand(char(id), 2, piece, n, timeout);
        receiveData(reply_, REPLY_CAPACITY, &replyLength, timeout);
    }
    return pieces + 1;
}

int CommClass::receiveCAN(char* answer, int capacity, int* length, double timeout) {
    CanAnswer assembled(answer, capacity);
    *length = 0;
    int replyLength = 0;
    auto poll = [&] {
        sendCommand(char(radId), 3, nullptr, 0, timeout);
        const int r = receiveData(reply_, REPLY_CAPACITY, &replyLength, timeout);
        replyLength = std::min(replyLength, lastStored_);
        return r;
    };
    if (poll() != 0) {
        if (debug > 3) printf(" CANdata= l=%d\n", 0);
        return 1;
    }
    const int pieces = canPiecesAnnounced(reply_, replyLength);
    if (pieces == 0) {
        if (debug > 3) printf(" CANdata= l=%d\n", 0);
        return 0;
    }
    if (debug > 4) printf("CANcount: %d\n", pieces);
    int last = 0;
    // An answer that would not fit is cut; its remaining pieces stay with the radar.
    for (int k = 1; k <= pieces && !assembled.full(); ++k) {
        last = poll();
        const int counter = canPieceCounter(reply_, replyLength);
        if (counter < 0) continue;
        if (debug > 5) printf("CANcounter: %d\n", counter);
        if (counter != k) printf("CAN message sequence error: Expected number: %d, found: %d", k, counter);
        assembled.append(reply_, replyLength);
    }
    *length = assembled.length;
    if (debug > 3) {
        printf(" CANdata=");
        for (int i = 0; i < assembled.length; ++i) printf("%x ", uint8_t(answer[i]));
        printf(" l=%d\n", assembled.length);
    }
    return last != 0 ? 1 : 0;
}

int CommClass::requestAnswer(char command, const char* data, int length, char* answer, int capacity,
                             int* answerLength, double timeout) {
    *answerLength = 0;
    const int sent = sendCAN(radId, uint8_t(command), data, length, timeout);
    if (debug > 7) printf("\nmsgCount=%d", sent);
    const double start = getTime();
    while (getTime() - start < timing_.answerWindowMs) {
        if (receiveCAN(answer, capacity, answerLength, timeout) == 1) return -2;
        if (*answerLength != 0) return 0;
        pause(timing_.answerPollMs);
    }
    return -1;
}

int CommClass::commandAcknowledge(char command, const char* data, int length, double timeout) {
    const int sent = sendCAN(radId, uint8_t(command), data, length, timeout);
    int answerLength = 0;
    const int result = receiveCAN(answer_, CAN_ANSWER_CAPACITY, &answerLength, timeout);
    char hex[2 * CAN_ANSWER_CAPACITY + 1] = "";
    if (debug > 9) util::binToHex(answer_, answerLength, hex);
    if (result == 0) {
        if (debug > 9) printf("Received:%s ;msgcnt=%d\n", hex, sent);
        return 0;
    }
    if (debug > 9) printf("Receivedfailed:%s\n", hex);
    pause(timing_.replyPauseMs);
    return -1;
}

int CommClass::getSweepInitString24(int size, int art1a, char* buffer, int* length) {
    const char* digits = nullptr;
    switch (size) {
    case 256: digits = "09926010182085500100550"; break;
    case 512: digits = "09798010310085500100550"; break;
    case 1024: digits = "09542010566085500100550"; break;
    case 2048: digits = "09030011078085500100550"; break;
    default: break;
    }
    const char* tail = art1a != 0 ? "32" : "16";
    if (digits == nullptr) {
        printf("\nUnsuported sweep size: %d", size);
        std::memcpy(buffer, tail, 3);
        *length = 2;
        return 1;
    }
    std::memcpy(buffer, digits, 23);
    std::memcpy(buffer + 23, tail, 3);
    *length = 25;
    return 0;
}

int CommClass::getSweepInitString06(int size, char* buffer, int* length) {
    static const char base[] = "-4+000+000-1999201D11D----WG22FN--------";
    std::memcpy(buffer, base, sizeof base);
    char code = 0;
    switch (size) {
    case 128: code = '4'; break;
    case 256: code = '3'; break;
    case 512: code = '2'; break;
    case 1024: code = '1'; break;
    case 2048: code = '0'; break;
    default: break;
    }
    if (code == 0) {
        printf("Unsuported sweep size: %d\n", size);
        *length = 0;
        return 1;
    }
    buffer[29] = code;
    *length = 40;
    return 0;
}

namespace {

// Answer byte as the unsigned value the float decoding expects.
int byteAt(const char* answer, int i) { return uint8_t(answer[i]); }

}  // namespace

int CommClass::configRadar(double timeout) {
    const int result = setUp(timeout);
    // Acquisition goes on either way: a radar set up before a restart still measures.
    printf("\nconfigRadar result: %d", result);
    return result;
}

int CommClass::setUp(double timeout) {
    // Zero-filled, so parameter bytes an answer lacks read as 0.
    char answer[CAN_ANSWER_CAPACITY];
    int length = 0;

    int result = -1;
    for (int i = 0; i < timing_.versionTries; ++i) {
        std::memset(answer, 0, sizeof answer);
        result = requestAnswer(4, nullptr, 0, answer, sizeof answer, &length, timeout);
        pause(timing_.answerPollMs);
        if (result == 0) break;
    }
    if (result != 0) {
        length = 0;
        answer[0] = 0;
    }
    if (debug != 0) printf("\nSendCan Result: %d", result);
    printf("\nString:");
    for (int i = 0; i < length; ++i) printf("%X", uint8_t(answer[i]));
    printf("|length=%d", length);
    const int art1a = length >= 54 && answer[53] == '6' ? 0 : 1;
    printf("\nCAN Version: %s art1a=%d (len=%d)", answer, art1a, length);

    pause(timing_.stepPauseMs);
    std::memset(answer, 0, sizeof answer);
    result = requestAnswer(84, nullptr, 0, answer, sizeof answer, &length, timeout);
    const float f1 = util::bytes2float(byteAt(answer, 429), byteAt(answer, 428), byteAt(answer, 431),
                                       byteAt(answer, 430));
    if (debug != 0) {
        printf("\nAU Params Result: %d", result);
        printf("%f, ", double(f1));
    }

    pause(timing_.stepPauseMs);
    std::memset(answer, 0, sizeof answer);
    result = requestAnswer(92, nullptr, 0, answer, sizeof answer, &length, timeout);
    if (debug != 0) {
        const float f2 =
            util::bytes2float(byteAt(answer, 7), byteAt(answer, 6), byteAt(answer, 9), byteAt(answer, 8));
        const float f3 =
            util::bytes2float(byteAt(answer, 11), byteAt(answer, 10), byteAt(answer, 13), byteAt(answer, 12));
        printf("\nRA Antenna Result: %d", result);
        printf("Offset -> %f, ", double(f1 + f2));
        printf("%f, ", double(f1 + f2 + f3));
        printf("\nfinal: %f", double((f1 + f2 + f3) * 100));
    }

    pause(timing_.ackPauseMs);
    const char command12[2] = {2, 0};
    if (commandAcknowledge(12, command12, 2, timeout) != 0) return 1;
    if (debug != 0) printf("\ncommandAck 12: %d", 0);

    std::string first;
    cf->Value(section, "init24", &first);
    int built = 0;
    if (first.empty()) {
        char text[32];
        int n = 0;
        built = getSweepInitString24(sweepSize, art1a, text, &n);
        first.assign(text, size_t(n));
    }
    if (debug != 0) printf("\ngetSweepInitString24: %d length=%d %s", built, int(first.size()), first.c_str());
    if (built == 1) return 1;
    int ack = commandAcknowledge(24, first.data(), int(first.size()), timeout);
    if (debug > 2) printf("\ncommandAck 24: %d", ack);
    if (ack != 0) return 1;

    std::string second;
    cf->Value(section, "init06", &second);
    built = 0;
    if (second.empty()) {
        char text[48];
        int n = 0;
        built = getSweepInitString06(sweepSize, text, &n);
        second.assign(text, size_t(n));
    }
    if (debug != 0) printf("\ngetSweepInitString06: %d length=%d %s", built, int(second.size()), second.c_str());
    if (built == 1) return 1;
    ack = commandAcknowledge(6, second.data(), int(second.size()), timeout);
    if (debug > 2) printf("\ncommandAck 06: %d", ack);
    if (second.size() > 29) printf("\nRadar type: %x", unsigned(uint8_t(second[29])));
    if (ack != 0) return 1;

    const int n = sweepSize * nrOfSweeps * 2;
    printf("\nnrOfBytes %d=%d * %d * 2", n, sweepSize, nrOfSweeps);
    const char config[4] = {0, 0, char((n / 256) & 0xFF), char(n % 256)};
    const int sent = sendCommand(char(radId), 1, config, 4, timeout);
    if (debug != 0) printf("\nSendCommand SetConfig Result: %d", sent);
    int replyLength = 0;
    receiveData(reply_, REPLY_CAPACITY, &replyLength, timeout);
    if (debug != 0) printf("\nReceive SetConfig: %s (len=%d)", reply_, replyLength);
    return 0;
}
