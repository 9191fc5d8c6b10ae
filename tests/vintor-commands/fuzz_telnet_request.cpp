// Any request against rings holding any bytes: every reply must be one valid
// JSON object, whatever the records and the status block hold.
#include <sys/sem.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "configfile.h"
#include "jsonreply.h"
#include "sharedmem.h"
#include "telnet.h"

namespace {

void check(bool ok) {
    if (!ok) abort();
}

// Strict UTF-8, written apart from the code under test.
bool validUtf8(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (len == 0 || i + len > s.size()) return false;
        uint32_t cp = len == 1 ? c : c & (0xFF >> (len + 1));
        for (size_t k = 1; k < len; ++k) {
            unsigned char d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        static const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < least[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += len;
    }
    return true;
}

void checkJson(const std::string& text, bool oneLine) {
    Json::Value root;
    std::string errors;
    check(commandtest::parseReply(text, &root, &errors));
    check(root.isObject());
    check(validUtf8(text));
    if (oneLine)
        for (char c : text) check(static_cast<unsigned char>(c) >= 0x20);
}

// One service object for all runs: its reload semaphore is made once, under a
// key of its own, and removed at exit.
const int kReloadKey = 0x46555a5a;
void removeSemaphore() { semctl(getSemaphore(kReloadKey), 0, IPC_RMID); }

// Lays the next input bytes over `size` bytes at `to`.
void take(void* to, size_t size, const uint8_t*& p, size_t& left) {
    size_t n = std::min(size, left);
    memcpy(to, p, n);
    p += n;
    left -= n;
}

struct Memory {
    std::unique_ptr<sharedmem_st> main{new sharedmem_st()};
    std::unique_ptr<sharedmemRadar_st> radar0{new sharedmemRadar_st()};
    Memory() {
        sharedmem = main.get();
        sharedmemRadar0 = radar0.get();
    }
};

}  // namespace

// Input: the request (up to the first NUL, at most 8 bytes), then bytes laid
// over the fixed fields of the latest spectrum and radar0 records, the status
// block, and the payload of both records.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Memory memory;
    size_t requestLength = 0;
    while (requestLength < size && requestLength < 8 && data[requestLength] != 0) ++requestLength;
    std::string request(reinterpret_cast<const char*>(data), requestLength);
    const uint8_t* rest = data + requestLength;
    size_t restSize = size - requestLength;

    sharedmem_st& m = *memory.main;
    m.key.fft = 3;
    m.key.radar0 = 4;
    fft_st& f = m.fft[3];
    radar_st& r = memory.radar0->radar[4];
    memset(&f, 0, sizeof f);
    memset(&r, 0, sizeof r);
    memset(&m.status, 0, sizeof m.status);
    const uint8_t* p = rest;
    size_t left = restSize;
    take(&f, offsetof(fft_st, data), p, left);
    take(&f.length, 2 * sizeof(int), p, left);
    take(&r, offsetof(radar_st, data), p, left);
    take(&r.length, 2 * sizeof(int), p, left);
    take(&m.status, sizeof m.status, p, left);
    memcpy(r.data.com, p, std::min(left, sizeof r.data.com));
    memcpy(f.data, p, std::min(left, sizeof f.data));

    static ConfigFile cf(0, 0);
    cf.content_.clear();
    cf.sectionList_.clear();
    cf.setValue("vintor", "timeserver", request);
    cf.setValue("radar0", "active", std::string("1"));
    cf.setValue("radar0", "radarname", std::string(reinterpret_cast<const char*>(rest), restSize < 40 ? restSize : 40));
    cf.setValue("subscription" + std::to_string(restSize % 200), "ipnr", request);

    // Requests that would run the status commands are built from their parts instead.
    if (!request.empty() && (request[0] == 'c' || request[0] == 'f' || request[0] == 'r' || request[0] == 's')) {
        static TelnetClass* t = nullptr;
        if (t == nullptr) {
            TelnetSettings settings;
            settings.reloadKey = kReloadKey;
            t = new TelnetClass(&cf, settings);
            atexit(removeSemaphore);
        }
        t->answer(request.data(), request.size());
        checkJson(t->json, request[0] == 'f' || request[0] == 'r');
    } else {
        std::string output;
        std::string line(reinterpret_cast<const char*>(rest), restSize);
        appendOutputLine(output, line.c_str());
        checkJson(statusJson(m.status, request, static_cast<long>(restSize) * 997, {{"ntp", output}}), true);
    }
    return 0;
}
