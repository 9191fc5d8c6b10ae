#include "radars.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "configfile.h"
#include "misc.h"
#include "radar.h"
#include "sharedmem.h"
#include "timer.h"

RadarsClass::RadarsClass(ConfigFile* cfp, const RadarsSettings& settings) : cf(cfp), settings_(settings) {
    debug = cf->ValueInt("vintor", "debugradars");
}

RadarsClass::~RadarsClass() { delete storage_; }

int RadarsClass::removeRadar(RadarClass*) { return 0; }

int RadarsClass::addRadar(std::string section) {
    if (debug >= 1) printf("\nAddRadar: %s", section.c_str());
    // Only radar0..radar2 have a ring, and only a mapped one can take records;
    // one process per radar, since a ring has one writer.
    if (section != "radar0" && section != "radar1" && section != "radar2") {
        printf("\nAddRadar: %s is not a radar section, not started", section.c_str());
        return 1;
    }
    if (radarBlock(section) == nullptr) {
        printf("\nAddRadar: %s has no shared file, not started", section.c_str());
        return 1;
    }
    for (const pidlist_st& e : radars_.entries()) {
        if (section == e.name) {
            printf("\nAddRadar: %s runs already (pid %d), not started again", section.c_str(), e.pid);
            return 1;
        }
    }
    // The radar process ends with its manager (ChildList::start): a restarted
    // manager would otherwise start a second writer on the same ring and port.
    const pid_t pid = radars_.start(section.c_str(), ("vintor" + section).c_str());
    if (pid < 0) util::error("ERROR on fork radar");
    if (pid == 0) {
        if (debug >= 1) printf("\nStarting Radar communication %s", section.c_str());
        {
            RadarClass radar(cf, section, settings_.radar);
            radar.process();
        }
        if (debug >= 1) printf("\nClosing Radar: %s", section.c_str());
        fflush(stdout);
        _exit(0);
    }
    return 0;
}

void RadarsClass::writeRadarsList() {
    std::string list;
    for (const pidlist_st& e : radars_.entries()) {
        if (!list.empty()) list += ",";
        list += e.name;
    }
    // With its terminator, so a shorter list leaves no tail of a longer one.
    storage_->set("radars", const_cast<char*>(list.c_str()), unsigned(list.size() + 1));
}

ChildList::Entries::iterator RadarsClass::stopEntry(ChildList::Entries::iterator it) {
    const pidlist_st radar = *it;
    it = radars_.stop(it);
    if (debug >= 1) printf("\nStopping Radar %s pid:%d ", radar.name, radar.pid);
    return it;
}

int RadarsClass::process() {
    for (int i = 0; i < 3; ++i) {
        std::string section = "radar" + std::to_string(i);
        if (!cf->SectionExists(section)) continue;
        if (debug >= 1) printf("\nNew Radar %d", i);
        if (cf->ValueInt(section, "active") != 0) addRadar(section);
    }
    if (debug >= 1) printf("\nReady loading Radars");
    fflush(stdout);

    storage_ = new SharedMem(cf);
    writeRadarsList();
    storage_->setIndex("RadarTasks", 0);
    int last = 0;
    char task[TEXT_SLOT_SIZE + 1];
    unsigned int taskLength = 0;
    std::memset(task, 0, sizeof task);

    for (;;) {
        unsigned int got = 0;
        int r = storage_->getNext("RadarTasks", last, task, &got);
        if (r >= 0) {
            task[got < TEXT_SLOT_SIZE ? got : TEXT_SLOT_SIZE] = '\0';
            taskLength = unsigned(strlen(task));
            if (debug >= 1) printf("\nNEW      RadarTasks= %s", task);
            if (const char* start = strstr(task, "start")) {
                // Ring indexes stay as they are: moving one back would make the
                // FFT stage read old records again as new ones.
                if (addRadar(std::string(task, size_t(start - task))) == 0) writeRadarsList();
                taskLength = 0;
            }
            if (strstr(task, "killall") != nullptr) {
                for (auto it = radars_.entries().begin(); it != radars_.entries().end();) it = stopEntry(it);
                writeRadarsList();
            }
            last = r;
        }

        ChildList::Entries& radars = radars_.entries();
        for (auto it = radars.begin(); it != radars.end();) {
            if (debug >= 1) {
                printMemoryUse(*it);
                fflush(stdout);
                if (taskLength != 0) printf("\nRadarTasks %s", task);
            }
            if (taskLength != 0 && strstr(task, it->name) != nullptr && strstr(task, "stop") != nullptr) {
                it = stopEntry(it);
                writeRadarsList();
                taskLength = 0;
                continue;
            }
            const pid_t w = ChildList::ended(*it);
            if (w == 0) {
                ++it;
                continue;
            }
            if (w < 0) exit(122);
            radars_.forget(it);
            for (auto o = radars.begin(); o != radars.end();) o = stopEntry(o);
            if (debug >= 1) printf("\nRadars PID exit");
            fflush(stdout);
            return 0;
        }
        taskLength = 0;
        fflush(stdout);
        uSleep(int64_t(settings_.passMicros));
    }
}
