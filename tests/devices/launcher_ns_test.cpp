// script-launcher as a whole program on its fixed directories and ports, with
// the namespace's own /tmp and /opt and the configuration stand-in.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "harness.h"
#include "uniquefd.h"

namespace {

using testsupport::milliseconds;
using testsupport::Process;
using testsupport::readFile;
using testsupport::writeFile;

const std::string TMP_DIR = "/tmp/script-launcher";
const std::string OPT_DIR = "/opt/kestrom/script-launcher";
const std::string MARKS = "/tmp/marks";

bool exists(const std::string& path)
{
    return access(path.c_str(), F_OK) == 0;
}

// Waits until the file exists and has been removed again, or the deadline.
bool awaitFile(const std::string& path, bool present, milliseconds timeout = milliseconds(10000))
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (exists(path) != present) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(milliseconds(20));
    }
    return true;
}

// A script that appends its own path to a marker file.
std::string marking(const std::string& marker)
{
    return "echo \"$0\" >> " + MARKS + "/" + marker + "\n";
}

// Fresh directories and the stand-in with the given memory on the fixed ports.
struct Bench {
    testsupport::TempDir d;
    testsupport::ConfigServiceOptions cs;
    std::unique_ptr<Process> service;

    explicit Bench(const std::string& memory, const std::string& delay = "")
    {
        EXPECT_EQ(system(("rm -rf " + TMP_DIR + " " + OPT_DIR + " " + MARKS + " /tmp/bin /opt/kestrom/other").c_str()), 0);
        mkdir(MARKS.c_str(), 0755);
        cs.memory = d.file("memory.json");
        cs.requestLog = d.file("requests");
        cs.delay = delay;
        writeFile(cs.memory, memory);
        service = testsupport::startConfigService(cs);
    }
    std::vector<std::string> requests() const { return testsupport::readRequestLog(cs.requestLog); }
};

std::unique_ptr<Process> launcher(const std::vector<std::string>& args = {}, const std::string& path = "")
{
    Process::Options o;
    o.mergeStderr = true;
    if (!path.empty())
        o.environment.push_back("PATH=" + path);
    return std::unique_ptr<Process>(new Process(SCRIPT_LAUNCHER_BIN, args, o));
}

TEST(ScriptLauncherProgram, RunsEachDroppedScriptOnceAsOnePath)
{
    Bench b("{}");
    ASSERT_TRUE(b.service);
    mkdir(TMP_DIR.c_str(), 0700);
    writeFile(TMP_DIR + "/early.sh", marking("early"));
    // A command named c on the PATH: it must never run for the name "a b;c".
    mkdir("/tmp/bin", 0755);
    writeFile("/tmp/bin/c", "#!/bin/sh\ntouch " + MARKS + "/c-ran\n");
    chmod("/tmp/bin/c", 0755);
    auto p = launcher({}, "/tmp/bin:/usr/bin:/bin");

    ASSERT_TRUE(p->waitForLine(TMP_DIR + "/early.sh has been removed.", milliseconds(10000))) << p->output();
    EXPECT_EQ(readFile(MARKS + "/early"), TMP_DIR + "/early.sh\n");
    struct stat st;
    ASSERT_EQ(stat(TMP_DIR.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0777u) << "every program of the unit may queue scripts";
    ASSERT_TRUE(awaitFile(OPT_DIR, true));

    // A script held open does not run until it is closed.
    FILE* held = fopen((TMP_DIR + "/held.sh").c_str(), "w");
    ASSERT_NE(held, nullptr);
    fputs(marking("held").c_str(), held);
    fflush(held);
    writeFile(TMP_DIR + "/a b;c", marking("spaced"));
    // One moved in from the same file system runs too.
    mkdir("/opt/kestrom/other", 0755);
    writeFile("/opt/kestrom/other/moved.sh", marking("moved"));
    ASSERT_EQ(rename("/opt/kestrom/other/moved.sh", (OPT_DIR + "/moved.sh").c_str()), 0);

    ASSERT_TRUE(awaitFile(MARKS + "/spaced", true));
    ASSERT_TRUE(awaitFile(TMP_DIR + "/a b;c", false));
    ASSERT_TRUE(awaitFile(OPT_DIR + "/moved.sh", false));
    EXPECT_EQ(readFile(MARKS + "/spaced"), TMP_DIR + "/a b;c\n");
    EXPECT_EQ(readFile(MARKS + "/moved"), OPT_DIR + "/moved.sh\n");
    EXPECT_FALSE(exists(MARKS + "/c-ran")) << "the name was read by a shell";
    EXPECT_FALSE(exists(MARKS + "/held"));
    EXPECT_TRUE(exists(TMP_DIR + "/held.sh"));
    fclose(held);
    ASSERT_TRUE(awaitFile(TMP_DIR + "/held.sh", false));
    EXPECT_EQ(readFile(MARKS + "/held"), TMP_DIR + "/held.sh\n");

    p->drain(milliseconds(500));
    EXPECT_EQ(readFile(MARKS + "/early"), TMP_DIR + "/early.sh\n") << "each ran once";
    EXPECT_EQ(readFile(MARKS + "/spaced"), TMP_DIR + "/a b;c\n");
    const std::string& out = p->output();
    EXPECT_NE(out.find("Mode -q quiet\n"), std::string::npos) << "usage without -q";
    EXPECT_NE(out.find("Running script: " + TMP_DIR + "/a b;c\n"), std::string::npos);
    EXPECT_NE(out.find("mask = IN_MOVED_TO \n        name = moved.sh\n"), std::string::npos);
}

TEST(ScriptLauncherProgram, RunsQueuedActionsInNameOrderAndDeletesThem)
{
    // The deletions are answered late while the actions end: the program goes on.
    Bench b(R"({"actions":{"b":"echo b >> /tmp/marks/actions","a":"echo a >> /tmp/marks/actions","t":"true"}})",
            "deletemem:300");
    ASSERT_TRUE(b.service);
    auto p = launcher({"-q"});
    const std::vector<std::string> first = {
        R"({"getmem":{"actions":""}})",
        "{\"deletemem\":{\"actions\":\"echo a >> /tmp/marks/actions\"\n}}",
        "{\"deletemem\":{\"actions\":\"echo b >> /tmp/marks/actions\"\n}}",
        "{\"deletemem\":{\"actions\":\"true\"\n}}",
    };
    auto deadline = std::chrono::steady_clock::now() + milliseconds(15000);
    while (b.requests().size() < first.size() + 1 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(50));
    auto requests = b.requests();
    ASSERT_GT(requests.size(), first.size()) << "the deletions' notices fetch the actions again";
    EXPECT_EQ(std::vector<std::string>(requests.begin(), requests.begin() + 4), first);
    for (size_t i = first.size(); i < requests.size(); i++)
        EXPECT_EQ(requests[i], first[0]) << "nothing is left to run";
    EXPECT_EQ(readFile(MARKS + "/actions"), "a\nb\n");
    EXPECT_TRUE(p->running());

    // It still runs dropped scripts afterwards.
    writeFile(TMP_DIR + "/after.sh", marking("after"));
    EXPECT_TRUE(awaitFile(MARKS + "/after", true));
    EXPECT_TRUE(p->running());
}

TEST(ScriptLauncherProgram, SaysSoWhenNoActionsAreQueued)
{
    Bench b("{}");
    ASSERT_TRUE(b.service);
    auto p = launcher();
    EXPECT_TRUE(p->waitForLine("No actions found", milliseconds(10000)));
    EXPECT_TRUE(p->running());
}

// Shows a directory of ours at another path as owned by a user this namespace
// does not map: the kernel's overflow id, as a directory of someone else's
// looks where only one user id is mapped (a test run by a person who is not
// root), so that no chown can hand it to another user. An id-mapped bind
// mount through a user namespace that maps none of our ids does it.
class ForeignMount {
public:
    ~ForeignMount() { unmount(); }
    void unmount()
    {
        if (!target_.empty())
            umount2(target_.c_str(), MNT_DETACH);
        target_.clear();
    }
    // Empty once mounted, else what failed.
    std::string mount(const std::string& source, const std::string& target)
    {
        int ends[2];
        if (pipe(ends) != 0)
            return failed("pipe");
        UniqueFd readEnd(ends[0]), writeEnd(ends[1]);
        const pid_t child = fork();
        if (child == 0) {
            const int error = unshare(CLONE_NEWUSER) == 0 ? 0 : errno;
            if (write(writeEnd.get(), &error, sizeof error) != sizeof error)
                _exit(1);
            pause();
            _exit(0);
        }
        writeEnd.reset();
        int error = 0;
        if (child < 0)
            error = errno;
        else if (read(readEnd.get(), &error, sizeof error) != sizeof error)
            error = EIO;
        std::string why;
        const std::string proc = "/proc/" + std::to_string(child);
        // Its user 1000 is ours; our own id 0, which owns the files, is none of its.
        UniqueFd userns;
        if (error != 0)
            why = std::string("unshare(CLONE_NEWUSER): ") + strerror(error);
        else if (!writeMap(proc + "/uid_map") || !writeMap(proc + "/gid_map"))
            why = failed("writing the id maps");
        else {
            userns.reset(open((proc + "/ns/user").c_str(), O_RDONLY | O_CLOEXEC));
            if (!userns)
                why = failed("open ns/user");
        }
        if (child > 0) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
        }
        if (!why.empty())
            return why;
        const UniqueFd tree(open_tree(AT_FDCWD, source.c_str(), OPEN_TREE_CLONE | OPEN_TREE_CLOEXEC));
        struct mount_attr attr = {};
        attr.attr_set = MOUNT_ATTR_IDMAP;
        attr.userns_fd = static_cast<__u64>(userns.get());
        if (!tree)
            return failed("open_tree");
        if (mount_setattr(tree.get(), "", AT_EMPTY_PATH, &attr, sizeof attr) != 0)
            return failed("mount_setattr(MOUNT_ATTR_IDMAP)");
        if (move_mount(tree.get(), "", AT_FDCWD, target.c_str(), MOVE_MOUNT_F_EMPTY_PATH) != 0)
            return failed("move_mount");
        target_ = target;
        return "";
    }

private:
    static std::string failed(const std::string& what) { return what + ": " + strerror(errno); }
    static bool writeMap(const std::string& path)
    {
        const char map[] = "1000 0 1\n";
        const UniqueFd fd(open(path.c_str(), O_WRONLY | O_CLOEXEC));
        return fd && write(fd.get(), map, sizeof map - 1) == static_cast<ssize_t>(sizeof map - 1);
    }
    std::string target_;
};

TEST(ScriptLauncherProgram, WatchesNoDirectoryThatIsALinkOrSomeoneElses)
{
    Bench b("{}");
    ASSERT_TRUE(b.service);
    // Anyone may make /tmp/script-launcher: here a link into another directory.
    mkdir("/tmp/elsewhere", 0777);
    writeFile("/tmp/elsewhere/planted.sh", marking("planted"));
    ASSERT_EQ(symlink("/tmp/elsewhere", TMP_DIR.c_str()), 0);
    mkdir("/opt/kestrom", 0755);
    mkdir(OPT_DIR.c_str(), 0755);
    ForeignMount foreign;
    if (chown(OPT_DIR.c_str(), 4321, 4321) == 0) {
        writeFile(OPT_DIR + "/foreign.sh", marking("foreign"));
    } else {
        ASSERT_EQ(errno, EINVAL) << "only an unmapped user id fails so";
        mkdir("/opt/kestrom/other", 0755);
        writeFile("/opt/kestrom/other/foreign.sh", marking("foreign"));
        const std::string why = foreign.mount("/opt/kestrom/other", OPT_DIR);
        if (!why.empty())
            GTEST_SKIP() << "only one user id is mapped here, so no directory can be someone else's: " << why;
    }
    struct stat owner;
    ASSERT_EQ(stat(OPT_DIR.c_str(), &owner), 0);
    ASSERT_NE(owner.st_uid, geteuid());
    auto p = launcher();
    EXPECT_TRUE(p->waitForLine("Not watching " + TMP_DIR + ": not a directory but a link or a file", milliseconds(10000)))
        << p->output();
    EXPECT_TRUE(p->waitForLine("Not watching " + OPT_DIR + ": owned by user " + std::to_string(owner.st_uid) +
                                   ", not by " + std::to_string(geteuid()),
                               milliseconds(10000)));
    writeFile("/tmp/elsewhere/later.sh", marking("later"));
    p->drain(milliseconds(2500));
    EXPECT_FALSE(exists(MARKS + "/planted"));
    EXPECT_FALSE(exists(MARKS + "/foreign"));
    EXPECT_FALSE(exists(MARKS + "/later"));
    EXPECT_TRUE(exists("/tmp/elsewhere/planted.sh"));
    EXPECT_TRUE(p->running());
    unlink(TMP_DIR.c_str());
    foreign.unmount();
    system(("rm -rf /tmp/elsewhere /opt/kestrom/other " + OPT_DIR).c_str());
}

} // namespace
