// Children that end with the process that forked them, however it ends: the
// unit's service manager starts a program again, and a child left behind would
// hold its ports and locks against the new one.
#pragma once

#include <sys/types.h>

#include <csignal>

namespace childtree {

// fork() for a child that must not outlive its parent: the child is sent sig
// when the parent dies, and ends at once when the parent died before it could
// ask for that. As fork(): the child's pid, 0 in the child, -1 on failure.
pid_t forkTied(int sig = SIGTERM);

// forkTied's step in the child, for a caller that forks itself: sig when
// `parent`, the pid of the process that forked the caller, ends, however that
// ends; the caller ends at once (status 0) when that parent has ended already.
void tieToParent(pid_t parent, int sig);

// For a tied child: runs argv[0] with argv in a process group of its own and
// waits for it. SIGTERM or SIGINT to the caller (its parent's death through
// forkTied included) ends the whole group: what the command started dies with
// it. The command's wait status; -1 when it could not be started.
int runGroup(const char* const argv[]);

// As system(command), but the shell and what it starts end with the caller,
// however the caller ends. The wait status of a process that ends as the shell
// did (a signal that ended the shell reads as exit code 128 + the signal); -1
// when no process could be started.
int system(const char* command);

// The status a shell reports for a wait status: the exit code, 128 + the
// signal for a command a signal ended.
int shellStatus(int waitStatus);

} // namespace childtree
