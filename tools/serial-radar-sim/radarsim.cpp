#include "radarsim.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdlib>
#include <sstream>

#include "defaults.h"

namespace {

int canCommand(int ident) { return (ident & 0x3F) | ((ident >> 4) & 0x40); }
int canIdent(int command) { return (command & 0x3F) | ((command & 0x40) << 4); }

// A float as the radar stores it: big-endian bytes placed at the positions
// given, most significant first.
void putFloat(Bytes* b, float v, int p0, int p1, int p2, int p3) {
    uint32_t bits;
    static_assert(sizeof bits == sizeof v, "32-bit float");
    std::memcpy(&bits, &v, sizeof bits);
    (*b)[size_t(p0)] = uint8_t(bits >> 24);
    (*b)[size_t(p1)] = uint8_t(bits >> 16);
    (*b)[size_t(p2)] = uint8_t(bits >> 8);
    (*b)[size_t(p3)] = uint8_t(bits);
}

}  // namespace

Bytes sweepPayload(const RadarSimOptions& o, int bytes) {
    Bytes out(size_t(bytes > 0 ? bytes : 0), 0);
    const int sweeps = o.sweeps > 0 ? o.sweeps : 1;
    const int perSweep = bytes / 2 / sweeps;
    // Beat frequency of a target at distance d: 2 d sweepSpeed / c.
    const double beatHz = 2.0 * o.distanceCm / 100.0 * double(DEF_sweepSpeed) / double(DEF_speedOfLight);
    const double fs = double(DEF_sampleFrequency);
    for (int s = 0; s < sweeps; ++s) {
        for (int i = 0; i < perSweep; ++i) {
            long v = std::lround(o.amplitude * std::cos(2.0 * M_PI * beatHz * i / fs));
            if (v > 32767) v = 32767;
            if (v < -32768) v = -32768;
            const size_t at = size_t(2 * (s * perSweep + i));
            out[at] = uint8_t(v & 0xFF);
            out[at + 1] = uint8_t((v >> 8) & 0xFF);
        }
    }
    return out;
}

Bytes replyFrame(int command, int address, const Bytes& payload, int announced) {
    const int length = announced >= 0 ? announced : int(payload.size());
    Bytes f = {0x01, uint8_t(command), uint8_t(~command), uint8_t(address), uint8_t(length >> 8), uint8_t(length)};
    f.insert(f.end(), payload.begin(), payload.end());
    unsigned sum = 0;
    for (uint8_t b : f) sum += b;
    f.push_back(uint8_t(sum));
    return f;
}

void RadarSim::input(const uint8_t* data, size_t n) {
    if (o_.echo) {
        Bytes echo(data, data + n);
        if (alter_ && !echo.empty()) {
            echo[0] ^= 0xFF;
            alter_ = false;
        }
        send(echo);
    }
    held_.insert(held_.end(), data, data + n);
    size_t skipped = 0;
    while (!held_.empty()) {
        if (held_[0] != 0x01 || (held_.size() >= 3 && uint8_t(held_[0] + held_[1] + held_[2]) != 0)) {
            held_.erase(held_.begin());
            ++skipped;
            continue;
        }
        if (held_.size() < 6) break;
        const size_t length = size_t(held_[4]) * 256 + held_[5];
        if (held_.size() < 7 + length) break;
        const Bytes frame(held_.begin(), held_.begin() + long(7 + length));
        held_.erase(held_.begin(), held_.begin() + long(7 + length));
        note("frame " + hexText(frame));
        request(frame[1], frame[3], Bytes(frame.begin() + 6, frame.end() - 1));
    }
    if (skipped > 0) note("skip " + std::to_string(skipped));
}

void RadarSim::request(int command, int address, const Bytes& payload) {
    if (silent_) {
        note("unanswered");
        return;
    }
    switch (command) {
    case 1:
        if (payload.size() >= 4) sweepBytes_ = payload[2] * 256 + payload[3];
        reply(1, address, {});
        break;
    case 2:
        tunnel(payload);
        reply(2, address, {});
        break;
    case 3:
        if (muteNextPoll_) {
            muteNextPoll_ = false;
            note("poll unanswered");
            break;
        }
        if (answer_.empty()) {
            reply(3, address, {});
        } else {
            reply(3, address, answer_.front());
            answer_.pop_front();
        }
        break;
    case 4:
        reply(4, address, sweepPayload(o_, sweepBytes_), true);
        break;
    case 5:
        reply(5, address, Bytes(o_.version.begin(), o_.version.end()));
        break;
    case 6:
        reply(6, address, {});
        break;
    case 7: {
        Bytes status(8, 0);
        status[4] = uint8_t(o_.temperature);
        reply(7, address, status);
        break;
    }
    case 8:
        note("start");
        break;
    default:
        note("unknown command " + std::to_string(command));
        break;
    }
}

void RadarSim::reply(int command, int address, const Bytes& payload, bool sweep) {
    Bytes frame;
    if (oversize_) {
        oversize_ = false;
        frame = replyFrame(command, address, Bytes(65535, 0x5A));
    } else {
        frame = replyFrame(command, address, payload);
    }
    if (sweep && short_) {
        short_ = false;
        frame.resize(6 + payload.size() / 2);
    }
    if (junk_) {
        junk_ = false;
        frame.insert(frame.begin(), {0x55, 0xAA, 0x7E, 0x00});
    }
    if (trail_ > 0) {
        frame.insert(frame.end(), size_t(trail_), 0x33);
        trail_ = 0;
    }
    const int delay = lateMs_;
    lateMs_ = 0;
    if (!split_) {
        send(frame, delay);
        return;
    }
    split_ = false;
    const size_t cut1 = frame.size() / 3, cut2 = 2 * frame.size() / 3;
    send(Bytes(frame.begin(), frame.begin() + long(cut1)), delay);
    send(Bytes(frame.begin() + long(cut1), frame.begin() + long(cut2)), 30);
    send(Bytes(frame.begin() + long(cut2), frame.end()), 30);
}

void RadarSim::tunnel(const Bytes& piece) {
    if (piece.size() == 2) {
        message(canCommand(piece[0] << 8 | piece[1]), {});
        return;
    }
    if (piece.size() < 4) return;
    const int ident = piece[0] << 8 | piece[1];
    const int counter = piece[2] | piece[3] << 8;
    if (counter == 0) {
        inIdent_ = ident;
        inPieces_ = piece.size() >= 6 ? (piece[4] | piece[5] << 8) : 0;
        inData_.clear();
        if (inPieces_ == 0) message(canCommand(ident), {});
        return;
    }
    if (ident != inIdent_) return;
    inData_.insert(inData_.end(), piece.begin() + 4, piece.end());
    if (counter == inPieces_) {
        inIdent_ = -1;
        message(canCommand(ident), inData_);
    }
}

void RadarSim::message(int command, const Bytes& data) {
    note("can " + std::to_string(command) + (data.empty() ? "" : " " + hexText(data)));
    if (noAck_.count(command) != 0) muteNextPoll_ = true;
    if (nothing_) return;
    switch (command) {
    case 4: {
        std::string text = "radar-sim measurement unit, firmware 2.3, serial 0001 (tunnel)";
        text[53] = o_.art16 ? '6' : '3';
        queueAnswer(4, Bytes(text.begin(), text.end()));
        break;
    }
    case 84: {
        Bytes au(432, 0);
        putFloat(&au, 0.125f, 429, 428, 431, 430);
        queueAnswer(84, au);
        break;
    }
    case 92: {
        Bytes ra(14, 0);
        putFloat(&ra, 0.5f, 7, 6, 9, 8);
        putFloat(&ra, 0.25f, 11, 10, 13, 12);
        queueAnswer(92, ra);
        break;
    }
    default:
        break;  // acknowledged by answering the next poll at all
    }
}

void RadarSim::queueAnswer(int command, const Bytes& data) {
    const int ident = canIdent(command);
    const size_t per = size_t(o_.pieceBytes > 0 ? o_.pieceBytes : 6);
    const int pieces = int((data.size() + per - 1) / per);
    answer_.push_back({uint8_t(ident >> 8), uint8_t(ident), 0, 0, uint8_t(pieces), uint8_t(pieces >> 8)});
    for (int k = 1; k <= pieces; ++k) {
        int counter = k;
        if (badCounter_ && k == (pieces > 1 ? 2 : 1)) {
            counter = k + 7;
            badCounter_ = false;
        }
        Bytes piece = {uint8_t(ident >> 8), uint8_t(ident), uint8_t(counter), uint8_t(counter >> 8)};
        const size_t from = size_t(k - 1) * per;
        const size_t to = std::min(data.size(), from + per);
        piece.insert(piece.end(), data.begin() + long(from), data.begin() + long(to));
        answer_.push_back(piece);
    }
}

bool RadarSim::command(const std::string& line) {
    std::istringstream in(line);
    std::string word;
    in >> word;
    int n = 0;
    if (word == "echo") {
        std::string v;
        in >> v;
        o_.echo = v == "on";
    } else if (word == "alter") {
        alter_ = true;
    } else if (word == "junk") {
        junk_ = true;
    } else if (word == "split") {
        split_ = true;
    } else if (word == "trail" && (in >> n) && n > 0) {
        trail_ = n;
    } else if (word == "late" && (in >> n) && n > 0) {
        lateMs_ = n;
    } else if (word == "oversize") {
        oversize_ = true;
    } else if (word == "short") {
        short_ = true;
    } else if (word == "silence") {
        silent_ = true;
    } else if (word == "resume") {
        silent_ = false;
    } else if (word == "noack" && (in >> n)) {
        noAck_.insert(n);
    } else if (word == "badcounter") {
        badCounter_ = true;
    } else if (word == "nothing") {
        nothing_ = true;
    } else if (word == "pending" && (in >> n) && n > 0) {
        for (int i = 0; i < n; ++i) answer_.push_back({0x00, 0x03, uint8_t(i + 1), 0x00, 0xA0, uint8_t(i)});
    } else {
        return false;
    }
    note("control " + line);
    return true;
}
