#include "siverssim.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>

#include "defaults.h"

std::vector<int> traceValues(const SiversSimOptions& o, int points) {
    std::vector<int> v(size_t(points > 0 ? points : 0));
    // Beat frequency of a target at distance d: 2 d sweepSpeed / c.
    const double beatHz = 2.0 * o.distanceCm / 100.0 * double(DEF_sweepSpeed) / double(DEF_speedOfLight);
    const double fs = double(DEF_sampleFrequency);
    for (size_t i = 0; i < v.size(); ++i) v[i] = int(std::lround(o.amplitude * std::cos(2.0 * M_PI * beatHz * double(i) / fs)));
    return v;
}

void SiversSim::input(const uint8_t* data, size_t n) {
    held_.append(reinterpret_cast<const char*>(data), n);
    size_t eol;
    while ((eol = held_.find('\n')) != std::string::npos) {
        std::string line = held_.substr(0, eol);
        held_.erase(0, eol + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        note("cmd " + line);
        answer(line);
    }
}

void SiversSim::answer(const std::string& line) {
    if (!refused_.empty() && line.compare(0, refused_.size(), refused_) == 0) {
        reply("ERROR\r\n");
        return;
    }
    if (line == "hardware:system ?") return reply(o_.hardware + "\r\n");
    if (line == "version:major ?") return reply(o_.major + "\r\n");
    if (line == "version:minor ?") return reply(o_.minor + "\r\n");
    if (line == "version:REVIsion ?") return reply(o_.revision + "\r\n");
    if (line == "version:date ?") return reply(o_.date + "\r\n");
    if (line == "trace:data ?") {
        std::string text;
        if (longLine_ > 0) {
            text.assign(size_t(longLine_), '1');
            longLine_ = 0;
        }
        const int count = many_ > 0 ? many_ : points_;
        many_ = 0;
        for (int v : traceValues(o_, count)) text += std::to_string(v) + "\r\n";
        if (!noEnd_) text += "OK\r\n";
        noEnd_ = false;
        return reply(text);
    }
    const std::string points = "FREQUENCY:points ";
    if (line.compare(0, points.size(), points) == 0) {
        const int p = std::atoi(line.c_str() + points.size());
        if (p > 0) points_ = p;
    }
    if (line == "INIT" || line == "trig:arm" || line.compare(0, 6, "sweep:") == 0 ||
        line.compare(0, 10, "FREQUENCY:") == 0)
        return reply("OK\r\n");
    reply("ERROR\r\n");
}

void SiversSim::reply(const std::string& text) {
    if (silent_) return;
    const Bytes bytes(text.begin(), text.end());
    if (!split_) {
        send(bytes);
        return;
    }
    split_ = false;
    for (size_t at = 0; at < bytes.size(); at += 7)
        send(Bytes(bytes.begin() + long(at), bytes.begin() + long(std::min(bytes.size(), at + 7))), at == 0 ? 0 : 2);
}

bool SiversSim::command(const std::string& line) {
    std::istringstream in(line);
    std::string word;
    in >> word;
    int n = 0;
    if (word == "refuse") {
        std::getline(in >> std::ws, refused_);
        if (refused_.empty()) return false;
    } else if (word == "accept") {
        refused_.clear();
    } else if (word == "split") {
        split_ = true;
    } else if (word == "noend") {
        noEnd_ = true;
    } else if (word == "longline" && (in >> n) && n > 0) {
        longLine_ = n;
    } else if (word == "many" && (in >> n) && n > 0) {
        many_ = n;
    } else if (word == "silence") {
        silent_ = true;
    } else if (word == "resume") {
        silent_ = false;
    } else {
        return false;
    }
    note("control " + line);
    return true;
}
