#include "launcher.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "childtree.h"
#include "configclient.h"
#include "zhelpers.h"

namespace launcher {

namespace {

constexpr uint32_t WATCH_MASK = IN_CLOSE_WRITE | IN_MOVED_TO;

// Ended children, written by the SIGCHLD handler, read by the loop.
int endedPipe[2] = {-1, -1};

// Reaps every ended child: signals that come together are delivered once.
void reapChild(int)
{
    const int saved = errno;
    pid_t pid;
    int status;
    while ((pid = waitpid(-1, &status, WNOHANG)) > 0) {
        // A full pipe only costs the guard against running a path twice.
        ssize_t written = write(endedPipe[1], &pid, sizeof pid);
        (void)written;
    }
    errno = saved;
}

// A stop by the service manager is a normal end; the running scripts end with
// the launcher, through their tie to it.
void endOnTerm(int)
{
    _exit(0);
}

// SIGCHLD held back while a ZeroMQ call runs: an interrupted call would end
// the program (status 3) whenever an action ends during an exchange.
class ChildSignalsHeld {
public:
    ChildSignalsHeld()
    {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGCHLD);
        sigprocmask(SIG_BLOCK, &set, &saved_);
    }
    ~ChildSignalsHeld() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }

private:
    sigset_t saved_;
};

void line(const std::string& text)
{
    printf("%s\n", text.c_str());
    fflush(stdout);
}

// A child's output must not repeat what the parent had buffered. A child (and
// what it runs) ends with the launcher: a stopped launcher leaves nothing behind.
pid_t forkFlushed()
{
    fflush(stdout);
    fflush(stderr);
    return childtree::forkTied();
}

} // namespace

std::vector<Event> parseEvents(const char* buffer, size_t length)
{
    std::vector<Event> events;
    size_t at = 0;
    while (length - at >= sizeof(inotify_event)) {
        inotify_event header;
        memcpy(&header, buffer + at, sizeof header);
        const size_t nameSpace = header.len;
        if (nameSpace > length - at - sizeof header)
            break;
        Event e;
        e.wd = header.wd;
        e.mask = header.mask;
        e.cookie = header.cookie;
        const char* name = buffer + at + sizeof header;
        e.name.assign(name, strnlen(name, nameSpace)); // NUL-padded
        events.push_back(std::move(e));
        at += sizeof header + nameSpace;
    }
    return events;
}

std::string maskNames(uint32_t mask)
{
    static const struct {
        uint32_t bit;
        const char* name;
    } names[] = {
        {IN_ACCESS, "IN_ACCESS"},         {IN_ATTRIB, "IN_ATTRIB"},         {IN_CLOSE_NOWRITE, "IN_CLOSE_NOWRITE"},
        {IN_CLOSE_WRITE, "IN_CLOSE_WRITE"}, {IN_CREATE, "IN_CREATE"},       {IN_DELETE, "IN_DELETE"},
        {IN_DELETE_SELF, "IN_DELETE_SELF"}, {IN_IGNORED, "IN_IGNORED"},     {IN_ISDIR, "IN_ISDIR"},
        {IN_MODIFY, "IN_MODIFY"},         {IN_MOVE_SELF, "IN_MOVE_SELF"},   {IN_MOVED_FROM, "IN_MOVED_FROM"},
        {IN_MOVED_TO, "IN_MOVED_TO"},     {IN_OPEN, "IN_OPEN"},             {IN_Q_OVERFLOW, "IN_Q_OVERFLOW"},
        {IN_UNMOUNT, "IN_UNMOUNT"},
    };
    std::string out;
    for (const auto& n : names)
        if (mask & n.bit)
            out += std::string(n.name) + " ";
    return out;
}

ActionsReply parseActions(const std::string& reply, std::vector<Action>* actions)
{
    actions->clear();
    Json::Value root;
    std::string errors;
    if (!ConfigClient::parseReply(reply, &root, &errors))
        return ActionsReply::Unparsable;
    // Every level is tested before it is indexed: jsoncpp aborts on a name
    // looked up in anything but an object.
    const Json::Value* list = &root;
    for (const char* name : {"success", "actions"})
        list = list != nullptr && list->isObject() && list->isMember(name) ? &(*list)[name] : nullptr;
    if (list == nullptr || !list->isObject())
        return ActionsReply::NotFound;
    for (const std::string& name : list->getMemberNames()) {
        const Json::Value& command = (*list)[name];
        if (command.isString())
            actions->emplace_back(name, command.asString());
    }
    return ActionsReply::Found;
}

std::string deleteRequest(const std::string& command)
{
    // The styled writer's form of a text: quoted, escaped, then a line end.
    return "{\"deletemem\":{\"actions\":" + Json::StyledWriter().write(Json::Value(command)) + "}}";
}

Launcher::Launcher(const Settings& settings)
    : settings_(settings), context_(1, 1023), requests_(context_, settings.requestEndpoint, untilAnswered()),
      notices_(context_, zmq::socket_type::sub)
{
    if (endedPipe[0] < 0 && pipe2(endedPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        perror("pipe");
    struct sigaction sa = {};
    sa.sa_handler = reapChild;
    sa.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGCHLD, &sa, nullptr);
    sa.sa_handler = endOnTerm;
    sa.sa_flags = 0;
    sigaction(SIGTERM, &sa, nullptr);
}

Launcher::~Launcher()
{
    if (inotify_ >= 0)
        close(inotify_);
}

std::string Launcher::exchange(const std::string& request)
{
    if (!settings_.quiet)
        line("Sending request " + request + "..");
    std::string reply;
    {
        ChildSignalsHeld held;
        reply = exchangeOrEnd(requests_, request);
    }
    if (!settings_.quiet)
        line("Received: " + reply);
    return reply;
}

int Launcher::processActions()
{
    std::vector<Action> actions;
    switch (parseActions(exchange(ACTIONS_REQUEST), &actions)) {
    case ActionsReply::Unparsable:
        return 3;
    case ActionsReply::NotFound:
        if (!settings_.quiet)
            line("No actions found");
        return 0;
    case ActionsReply::Found:
        break;
    }
    for (const Action& action : actions) {
        if (!settings_.quiet)
            line("actions: " + action.first + ":" + action.second);
        pid_t pid = forkFlushed();
        if (pid < 0) {
            line("fork() failed!");
            return 1;
        }
        if (pid == 0) {
            signal(SIGCHLD, SIG_DFL);
            // Memory actions are shell commands by design.
            const char* argv[] = {"/bin/sh", "-c", action.second.c_str(), nullptr};
            int status = childtree::runGroup(argv);
            _exit(status == -1 ? 127 : childtree::shellStatus(status));
        }
        exchange(deleteRequest(action.second));
    }
    return 0;
}

void Launcher::collectEnded()
{
    pid_t pid;
    while (read(endedPipe[0], &pid, sizeof pid) == ssize_t(sizeof pid))
        running_.erase(pid);
}

int Launcher::runScript(const std::string& path)
{
    collectEnded();
    for (const auto& child : running_)
        if (child.second == path)
            return 0; // already running: its child deletes it when done
    lastScript_ = path;
    pid_t pid = forkFlushed();
    if (pid < 0) {
        line("fork() failed!");
        return 1;
    }
    if (pid > 0) {
        running_[pid] = path;
        return 0;
    }
    // The child runs bash on the path as one argument (no shell reads the
    // name), waits for it and removes the script, also when the launcher's end
    // cut it short: a script that stops the launcher must not run at every start.
    signal(SIGCHLD, SIG_DFL);
    const char* argv[] = {settings_.bash.c_str(), path.c_str(), nullptr};
    const int waitStatus = childtree::runGroup(argv);
    const int status = waitStatus == -1 ? 127 : childtree::shellStatus(waitStatus);
    const bool removed = unlink(path.c_str()) == 0;
    if (!settings_.quiet)
        line(removed ? path + " has been removed." : std::string("Remove operation failed"));
    fflush(stdout);
    _exit(status);
}

void Launcher::watch(const std::string& directory)
{
    // O_NOFOLLOW: a link put in place of the directory (the public /tmp one
    // can be made by anyone) is never followed.
    int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        if (mkdir(directory.c_str(), 0777) != 0) {
            printf("Error creating directory!n");
            fflush(stdout);
            exit(1);
        }
        fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    if (fd < 0) {
        line("Not watching " + directory + ": " + (errno == ELOOP || errno == ENOTDIR
                                                         ? std::string("not a directory but a link or a file")
                                                         : std::string(strerror(errno))));
        return;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || st.st_uid != geteuid()) {
        line("Not watching " + directory + ": owned by user " + std::to_string(st.st_uid) + ", not by " +
             std::to_string(geteuid()));
        close(fd);
        return;
    }
    fchmod(fd, 0777); // every program of the unit may queue scripts here
    // The watch first: a script closed during the scan is then not missed.
    if (inotify_ >= 0) {
        int wd = inotify_add_watch(inotify_, directory.c_str(), WATCH_MASK | IN_DONT_FOLLOW | IN_ONLYDIR);
        if (wd >= 0)
            watches_[wd] = directory;
        else
            perror("inotify_add_watch");
    }
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        close(fd);
        return;
    }
    std::vector<std::string> names;
    while (dirent* entry = readdir(dir))
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
            names.push_back(entry->d_name);
    closedir(dir);
    for (const std::string& name : names) {
        const std::string path = directory + "/" + name;
        if (!settings_.quiet) {
            printf("Running script: %s\n", path.c_str());
            fflush(stdout);
        }
        runScript(path);
    }
}

void Launcher::start()
{
    notices_.connect(settings_.noticeEndpoint);
    notices_.set(zmq::sockopt::subscribe, "actions");
    if (!settings_.quiet)
        line("\nStarting Script launcher program");
    processActions();
    inotify_ = inotify_init1(IN_CLOEXEC);
    if (inotify_ < 0)
        perror("inotify_init");
    for (const std::string& directory : settings_.directories)
        watch(directory);
}

void Launcher::handleEvents()
{
    char buffer[1024] __attribute__((aligned(__alignof__(inotify_event))));
    ssize_t n = read(inotify_, buffer, sizeof buffer);
    if (n <= 0)
        return;
    for (const Event& e : parseEvents(buffer, size_t(n))) {
        if (!settings_.quiet) {
            printf("    wd =%2d; ", e.wd);
            if (e.cookie != 0)
                printf("cookie =%4d; ", int(e.cookie));
            printf("mask = %s\n", maskNames(e.mask).c_str());
            if (!e.name.empty())
                printf("        name = %s\n", e.name.c_str());
        }
        auto directory = watches_.find(e.wd);
        if (e.name.empty() || directory == watches_.end())
            continue;
        const std::string path = directory->second + "/" + e.name;
        printf("Running script: %s\n", path.c_str());
        runScript(path);
    }
    fflush(stdout);
}

void Launcher::loopOnce()
{
    char* notice;
    {
        ChildSignalsHeld held;
        notice = s_recv_nonblocking(notices_.handle());
    }
    if (notice != nullptr) {
        if (!settings_.quiet)
            line(std::string("Subscriber received:") + notice);
        free(notice);
        processActions();
    }
    if (inotify_ >= 0) {
        pollfd p{inotify_, POLLIN, 0};
        if (poll(&p, 1, settings_.eventWaitMs) > 0)
            handleEvents();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(settings_.pauseMs));
    collectEnded();
}

void Launcher::run()
{
    for (;;)
        loopOnce();
}

} // namespace launcher
