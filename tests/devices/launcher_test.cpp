// script-launcher's parsers: directory events, the actions reply and the
// deletion request.
#include <gtest/gtest.h>

#include <sys/inotify.h>

#include <cstring>

#include "launcher.h"

namespace {

// One event as the kernel lays it out: header, then the name NUL-padded to len.
std::string event(int wd, uint32_t mask, uint32_t cookie, const std::string& name, uint32_t len)
{
    inotify_event e{};
    e.wd = wd;
    e.mask = mask;
    e.cookie = cookie;
    e.len = len;
    std::string bytes(reinterpret_cast<const char*>(&e), sizeof e);
    std::string padded = name;
    padded.resize(len, '\0');
    return bytes + padded;
}

TEST(ScriptLauncher, SplitsDirectoryEvents)
{
    const std::string two = event(1, IN_CLOSE_WRITE, 0, "a b;c", 16) + event(2, IN_MOVED_TO, 77, "x.sh", 32);
    auto events = launcher::parseEvents(two.data(), two.size());
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].wd, 1);
    EXPECT_EQ(events[0].mask, uint32_t(IN_CLOSE_WRITE));
    EXPECT_EQ(events[0].name, "a b;c");
    EXPECT_EQ(events[1].cookie, 77u);
    EXPECT_EQ(events[1].name, "x.sh");

    const struct {
        std::string bytes;
        size_t events;
    } rows[] = {
        {event(1, IN_IGNORED, 0, "", 0), 1},
        {two.substr(0, two.size() - 1), 1},           // the second event's name is cut short
        {two.substr(0, sizeof(inotify_event) - 1), 0}, // not even a header
        {event(1, IN_CLOSE_WRITE, 0, "abcdefghijklmnop", 16), 1}, // a name filling its space
        {"", 0},
    };
    for (const auto& row : rows) {
        auto got = launcher::parseEvents(row.bytes.data(), row.bytes.size());
        EXPECT_EQ(got.size(), row.events) << row.bytes.size() << " bytes";
        if (!got.empty()) {
            EXPECT_LE(got[0].name.size(), 16u);
        }
    }
    EXPECT_EQ(launcher::maskNames(IN_CLOSE_WRITE | IN_ISDIR | IN_MOVED_TO), "IN_CLOSE_WRITE IN_ISDIR IN_MOVED_TO ");
    EXPECT_EQ(launcher::maskNames(0), "");
}

TEST(ScriptLauncher, TakesTheQueuedActionsInNameOrder)
{
    using launcher::ActionsReply;
    const struct {
        std::string reply;
        ActionsReply result;
        std::vector<launcher::Action> actions;
    } rows[] = {
        {R"({"success":{"actions":{"b":"echo b","a":"echo a"}}})", ActionsReply::Found, {{"a", "echo a"}, {"b", "echo b"}}},
        {R"({"success":{"actions":{"a":{"x":"y"},"n":5,"c":"true"}}})", ActionsReply::Found, {{"c", "true"}}},
        {R"({"success":{"actions":{}}})", ActionsReply::Found, {}},
        {R"({"success":{}})", ActionsReply::NotFound, {}},
        {R"({"success":{"actions":"echo a"}})", ActionsReply::NotFound, {}},
        {R"({"success":"ok"})", ActionsReply::NotFound, {}},
        {R"({"error":"busy"})", ActionsReply::NotFound, {}},
        {R"(["success"])", ActionsReply::NotFound, {}},
        {"not json", ActionsReply::Unparsable, {}},
    };
    for (const auto& row : rows) {
        std::vector<launcher::Action> actions{{"stale", "x"}};
        EXPECT_EQ(launcher::parseActions(row.reply, &actions), row.result) << row.reply;
        EXPECT_EQ(actions, row.actions) << row.reply;
    }
}

TEST(ScriptLauncher, NamesTheCommandToDelete)
{
    const struct {
        std::string command, request;
    } rows[] = {
        {"echo a", "{\"deletemem\":{\"actions\":\"echo a\"\n}}"},
        {"say \"hi\"\\", "{\"deletemem\":{\"actions\":\"say \\\"hi\\\"\\\\\"\n}}"},
        {"", "{\"deletemem\":{\"actions\":\"\"\n}}"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(launcher::deleteRequest(row.command), row.request);
}

} // namespace
