#include "radars.h"

#include <errno.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "configfile.h"
#include "misc.h"
#include "radar.h"
#include "sharedmem.h"
#include "supervisor.h"
#include "timer.h"

RadarsClass::RadarsClass(ConfigFile* cfp, const RadarsSettings& settings) : cf(cfp), settings_(settings) {
    debug = cf->ValueInt("vintor", "debugradars");
    std::memset(&pl, 0, sizeof pl);
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
    for (const pidlist_st& e : pid_list) {
        if (section == e.name) {
            printf("\nAddRadar: %s runs already (pid %d), not started again", section.c_str(), e.pid);
            return 1;
        }
    }
    fflush(stdout);
    const pid_t manager = getpid();
    pid_t pid = fork();
    if (pid < 0) util::error("ERROR on fork radar");
    if (pid == 0) {
        // A radar must not outlive its manager: a restarted manager would start
        // a second writer on the same ring and port.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != manager) _exit(0);
        setProcessTitle("vintor" + section);
        if (debug >= 1) printf("\nStarting Radar communication %s", section.c_str());
        {
            RadarClass radar(cf, section, settings_.radar);
            radar.process();
        }
        if (debug >= 1) printf("\nClosing Radar: %s", section.c_str());
        fflush(stdout);
        _exit(0);
    }
    pl.pid = pid;
    std::memset(pl.name, 0, sizeof pl.name);
    std::snprintf(pl.name, sizeof pl.name, "%s", section.c_str());
    pid_list.push_back(pl);
    return 0;
}

void RadarsClass::writeRadarsList() {
    std::string list;
    for (const pidlist_st& e : pid_list) {
        if (!list.empty()) list += ",";
        list += e.name;
    }
    // With its terminator, so a shorter list leaves no tail of a longer one.
    storage_->set("radars", const_cast<char*>(list.c_str()), unsigned(list.size() + 1));
}

void RadarsClass::stopEntry(std::list<pidlist_st>::iterator it) {
    kill(it->pid, SIGKILL);
    while (waitpid(it->pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    if (debug >= 1) printf("\nStopping Radar %s pid:%d ", it->name, it->pid);
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
                for (auto it = pid_list.begin(); it != pid_list.end();) {
                    stopEntry(it);
                    it = pid_list.erase(it);
                }
                writeRadarsList();
            }
            last = r;
        }

        for (auto it = pid_list.begin(); it != pid_list.end();) {
            if (debug >= 1) {
                double vm = 0, rss = 0;
                util::process_mem_usage(it->pid, vm, rss);
                std::cout << "\nPID: " << it->pid << " " << it->name << "; VM: " << vm << "; RSS: " << rss
                          << std::flush;
                if (taskLength != 0) printf("\nRadarTasks %s", task);
            }
            if (taskLength != 0 && strstr(task, it->name) != nullptr && strstr(task, "stop") != nullptr) {
                stopEntry(it);
                it = pid_list.erase(it);
                writeRadarsList();
                taskLength = 0;
                continue;
            }
            pid_t w = waitpid(it->pid, nullptr, WNOHANG);
            if (w == 0) {
                ++it;
                continue;
            }
            if (w < 0) exit(122);
            it = pid_list.erase(it);
            for (auto o = pid_list.begin(); o != pid_list.end();) {
                stopEntry(o);
                o = pid_list.erase(o);
            }
            if (debug >= 1) printf("\nRadars PID exit");
            fflush(stdout);
            return 0;
        }
        taskLength = 0;
        fflush(stdout);
        uSleep(int64_t(settings_.passMicros));
    }
}
