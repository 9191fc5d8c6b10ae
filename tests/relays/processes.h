// Processes of a program, for tests that run in their own pid namespace.
#pragma once

#include <dirent.h>
#include <sys/types.h>

#include <fstream>
#include <string>
#include <vector>

// Live processes of a program in this namespace (zombies aside).
inline std::vector<pid_t> processesNamed(const std::string& name)
{
    std::vector<pid_t> found;
    DIR* proc = opendir("/proc");
    for (dirent* e; proc != nullptr && (e = readdir(proc)) != nullptr;) {
        std::ifstream stat(std::string("/proc/") + e->d_name + "/stat");
        std::string pid, comm, state;
        if (stat >> pid >> comm >> state && comm == "(" + name + ")" && state != "Z")
            found.push_back(std::stoi(pid));
    }
    if (proc != nullptr)
        closedir(proc);
    return found;
}
