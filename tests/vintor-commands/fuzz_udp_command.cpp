// Any datagram, as the listener receives it, read as a command: nothing may
// crash, and what goes to the rings must fit a task slot.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "configfile.h"
#include "udp.h"

namespace {
void check(bool ok) {
    if (!ok) abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The listener's buffer: cleared, at most its size less one, then a terminator.
    if (size > UDP_BUFFER_SIZE - 1) size = UDP_BUFFER_SIZE - 1;
    std::vector<char> buffer(size + 1, '\0');
    if (size > 0) memcpy(buffer.data(), data, size);

    ConfigFile cf(0, 0);
    cf.setValue("radar0", "threshold", std::string("12"));
    cf.setValue("vintor", "portnumber", std::string("3001"));
    cf.setValue("radar0", "radarType", std::string("F"));
    UdpCommand c = handleDatagram(buffer.data(), size, &cf, "192.168.10.20", 65535);

    check(c.task.size() <= 250 && c.subscription.size() <= 250);
    check(c.triggerRadar >= -1 && c.triggerRadar <= 2);
    check(c.triggerRadar >= 0 || c.triggerTime.empty());
    check(c.triggerTime.find(';') == std::string::npos);
    check(c.id.empty() || (c.id.compare(0, 3, "id=") == 0 && c.id.find(';') == c.id.size() - 1));
    // Nothing is both answered and queued, and a subscription is never answered.
    check(c.reply.empty() || c.task.empty());
    check(c.subscription.empty() || (c.reply.empty() && c.task.empty()));
    check(!c.writeConfig || c.reply == "Config written");
    // A key with capitals keeps its one spelling whatever case a "set" used.
    check(cf.content_.count("radar0/radartype") == 0);
    for (char ch : c.task) check(ch < 'A' || ch > 'Z');
    return 0;
}
