// The processes a supervising process forks: their titles, the list of them
// in the order of starting, stopping and reaping them, and the words of the
// task texts that name them. The supervisor and the radar manager share it.
#pragma once

#include <sys/types.h>

#include <csignal>
#include <string>
#include <vector>

#include "childtree.h"
#include "records.h"

// Remembers the program name as started and its length: the room a title is
// written into. Without it the room is what program_invocation_name holds now.
void initProcessTitle(char* argv0);
// Writes `title` over the program name, cut to that room and padded with NULs.
void setProcessTitle(const std::string& title);

// The signal a child of the tree gets when its parent ends: the tree's own
// end, so the child says so and ends with 0 as on a change notice. A SIGKILL
// could overtake the SIGUSR1 the supervisor sent the group just before it
// ended, and the child's line would be lost.
constexpr int kEndWithParent = SIGUSR1;

class ChildList {
public:
    using Entries = std::vector<pidlist_st>;

    // Forks a child under `title`, bound to end with its parent. The child
    // gets 0 (as from fork); the parent gets the pid and lists it as `name`;
    // -1 when the fork fails.
    pid_t start(const char* name, const char* title);
    bool has(const std::string& name) const;
    // SIGKILL and a blocking wait; removes the entry and returns the next one.
    Entries::iterator stop(Entries::iterator it);
    // Removes the entry of a child that has ended; returns the next one.
    Entries::iterator forget(Entries::iterator it) { return children_.erase(it); }
    // Whether the child runs, without blocking: 0 it runs, its pid when it has
    // ended (it is reaped), -1 when it cannot be waited for.
    static pid_t ended(const pidlist_st& child);

    Entries& entries() { return children_; }
    const Entries& entries() const { return children_; }

private:
    Entries children_;
};

// "\nPID: <pid> <name>; VM: <vm>; RSS: <rss>" with the child's memory use (kB).
void printMemoryUse(const pidlist_st& child);

// Whether the task text's first word is `verb` and its second is `name`
// (words are separated by blanks, tabs and line ends).
bool taskNames(const std::string& task, const char* verb, const char* name);
