#include "statuswatcher.h"

#include "misc.h"
#include "statusword.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

std::string statusWordToBits(uint32_t word)
{
    std::string bits(32, '0');
    for (int k = 0; k < 32; k++)
        if (word & (1u << (31 - k)))
            bits[k] = '1';
    return bits;
}

int throttleOf(const std::string& text)
{
    long v = strtol(text.c_str(), nullptr, 10);
    return static_cast<int>(std::max<long>(INT_MIN, std::min<long>(INT_MAX, v)));
}

StatusWatcher::StatusWatcher(std::map<int, bitrule_st> rules, bool quiet, Outputs outputs)
    : bitRules(std::move(rules)), quiet(quiet), out(std::move(outputs))
{
}

void StatusWatcher::handle(const std::string& message)
{
    std::string text = message;
    const std::vector<std::string> fields = explode(",", &text);
    // Without a status word there is nothing to count.
    if (fields.size() < 3) {
        if (!quiet)
            out.print("Status message without a status word: " + message);
        return;
    }
    // Noise in place of the word must not read as every bit cleared.
    uint32_t word = 0;
    if (!statusWordFromText(fields[2].c_str(), &word)) {
        if (!quiet)
            out.print("Status message whose status word is not a number: " + message);
        return;
    }
    const std::string bits = statusWordToBits(word);
    for (int b = 0; b < 32; b++)
        if (bits[31 - b] == '0')
            zeroCounts[b]++;
    for (int b = 0; b < 32; b++) {
        auto rule = bitRules.find(b);
        if (rule == bitRules.end())
            continue;
        const bitrule_st& r = rule->second;
        if (r.throttle <= 0 || r.throttle != zeroCounts[b])
            continue;
        zeroCounts[b] = 0;
        if (r.action != "log" && r.action != "reboot")
            continue;
        const std::string warning = "WARNING, action:'" + r.action + "' :: " + std::to_string(b) + "th bit :: " +
                                    r.parameter + " :: " + r.description;
        if (!quiet)
            out.print(warning);
        out.alert(warning);
        if (r.action == "reboot")
            out.action(fields[0] + ",reboot");
        if (!loggedBits[b]) {
            out.syslog(warning);
            loggedBits[b] = true;
        }
    }
}
