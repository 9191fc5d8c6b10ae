#include "handler.h"
#include "trim.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

TEST(Trim, StripsOnlyTheGivenCharactersAtTheEnds)
{
    struct { const char* in; const char* delims; const char* out; } cases[] = {
        {"  ab  ", " ", "ab"},
        {"   ", " ", ""},
        {"", " ", ""},
        {"ab", "", "ab"},
        {" a b ", " ", "a b"},
        {"\r\n\tx y\t\n", " \t\r\n", "x y"},
        {"xxabxx", "x", "ab"},
        {"  ab", "x", "  ab"},
    };
    for (auto& c : cases)
        EXPECT_EQ(trim(c.in, c.delims), c.out) << '"' << c.in << '"';
}

TEST(Handler, ReportsTheSignalWithABacktraceAndExitsOne)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(fds[1], STDERR_FILENO);
        close(fds[0]);
        signal(SIGSEGV, handler);
        raise(SIGSEGV);
        _exit(99);
    }
    close(fds[1]);
    std::string out;
    char buf[512];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0)
        out.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    ASSERT_EQ(out.rfind("mainError: signal 11:\n", 0), 0u) << out;
    size_t frames = 0;
    for (char ch : out.substr(22))
        frames += ch == '\n';
    EXPECT_GE(frames, 1u);
    EXPECT_LE(frames, 10u);
}
