// The radar manager in a forked process, with radars that make up their
// sweeps (no front-end), over real rings in mapped files.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "acquisition_support.h"
#include "radars.h"

using namespace testsupport;
using acq::Child;
using acq::childrenOf;
using acq::eventually;
using acq::PrivateKeys;
using acq::SharedFiles;
using std::chrono::milliseconds;

namespace {

ConfigFile* managerConfig(std::initializer_list<std::pair<const char*, const char*>> radars) {
    auto* cf = new ConfigFile();
    cf->setValue("vintor", "debugradars", std::string("1"));
    for (const auto& r : radars) {
        cf->sectionList_[r.first] = "1";
        cf->setValue(r.first, "active", std::string(r.second));
        cf->setValue(r.first, "debugradarfake", std::string("1"));
        cf->setValue(r.first, "scanspeed", std::string("50"));
    }
    return cf;
}

std::string titleOf(pid_t pid) {
    std::string cmd = readFile("/proc/" + std::to_string(pid) + "/cmdline");
    return cmd.substr(0, cmd.find('\0'));
}

std::set<std::string> titlesOf(pid_t manager) {
    std::set<std::string> titles;
    for (pid_t c : childrenOf(manager)) titles.insert(titleOf(c));
    return titles;
}

// Gone, or a zombie nobody has reaped yet: either way no longer running.
bool ended(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (!std::getline(in, stat)) return true;
    size_t p = stat.rfind(')');
    return p != std::string::npos && p + 2 < stat.size() && (stat[p + 2] == 'Z' || stat[p + 2] == 'X');
}

// Waits until the manager's children carry exactly these titles (a child is
// titled a moment after it is forked).
bool titlesBecome(pid_t manager, std::set<std::string> want) {
    return eventually([&] { return titlesOf(manager) == want; }, milliseconds(5000));
}

// Waits until the manager runs exactly n radars (one that ended counts until
// it is reaped).
bool radarsBecome(pid_t manager, size_t n) {
    return eventually([&] { return childrenOf(manager).size() == n; }, milliseconds(5000));
}

std::string radarsField() {
    return std::string(sharedmem->key.radars, strnlen(sharedmem->key.radars, sizeof sharedmem->key.radars));
}

void task(const std::string& text) {
    SharedMem storage(nullptr);
    storage.add("radartasks", const_cast<char*>(text.c_str()), unsigned(text.size()));
}

RadarsSettings fast(const PrivateKeys& keys) {
    RadarsSettings s;
    s.passMicros = 100000;
    s.radar = keys.settings;
    return s;
}

}  // namespace

TEST(RadarManager, StartsActiveRadarsListsThemAndEndsWhenOneEnds) {
    SharedFiles files;
    PrivateKeys keys;
    std::memset(sharedmem->key.radars, 'x', sizeof sharedmem->key.radars);
    std::unique_ptr<ConfigFile> cf(managerConfig({{"radar0", "1"}, {"radar2", "1"}}));
    Child manager([&] { return RadarsClass(cf.get(), fast(keys)).process(); });
    ASSERT_TRUE(radarsBecome(manager.pid(), 2)) << manager.output();
    ASSERT_TRUE(eventually([] { return radarsField() == "radar0,radar2"; }, milliseconds(2000)))
        << radarsField();
    ASSERT_TRUE(eventually([] { return sharedmem->key.radar0 > 0 && sharedmem->key.radar2 > 0; },
                           milliseconds(5000)));
    EXPECT_EQ(sharedmem->key.radar1, 0);

    std::vector<pid_t> radars = childrenOf(manager.pid());
    ASSERT_EQ(radars.size(), 2u);
    ASSERT_EQ(kill(radars[0], SIGKILL), 0);
    EXPECT_EQ(manager.wait(milliseconds(3000)), 0);
    EXPECT_TRUE(eventually([&] { return ended(radars[1]); }, milliseconds(2000)));
    std::string out = manager.output();
    EXPECT_NE(out.find("\nRadars PID exit"), std::string::npos) << out;
}

TEST(RadarManager, TakesStartStopAndKillallTasks) {
    SharedFiles files(true, true, false);
    PrivateKeys keys;
    std::unique_ptr<ConfigFile> cf(managerConfig({{"radar0", "1"}, {"radar1", "0"}, {"radar2", "1"}}));
    // The manager sets the task ring back to 0 once its radars run; a task added
    // before that would be lost, so the test waits to see the ring set back.
    sharedmem->key.radartasks = 5;
    Child manager([&] { return RadarsClass(cf.get(), fast(keys)).process(); });
    // radar2 is active but has no shared file: refused, not started.
    ASSERT_TRUE(radarsBecome(manager.pid(), 1)) << manager.output();
    ASSERT_TRUE(eventually([] { return radarsField() == "radar0"; }, milliseconds(2000))) << radarsField();
    ASSERT_TRUE(eventually([] { return __atomic_load_n(&sharedmem->key.radartasks, __ATOMIC_ACQUIRE) == 0; },
                           milliseconds(2000)));

    task("radar1start");
    ASSERT_TRUE(radarsBecome(manager.pid(), 2)) << manager.output();
    EXPECT_TRUE(eventually([] { return radarsField() == "radar0,radar1"; }, milliseconds(2000))) << radarsField();
    for (const char* refused : {"radar1start", "radar2start", "radar7start"}) {
        task(refused);
        usleep(300000);
    }
    EXPECT_EQ(childrenOf(manager.pid()).size(), 2u);

    task("radar1stop");
    ASSERT_TRUE(radarsBecome(manager.pid(), 1)) << manager.output();
    EXPECT_TRUE(eventually([] { return radarsField() == "radar0"; }, milliseconds(2000))) << radarsField();

    task("killall");
    ASSERT_TRUE(eventually([&] { return childrenOf(manager.pid()).empty(); }, milliseconds(3000)));
    usleep(500000);
    EXPECT_EQ(manager.wait(milliseconds(10)), -1) << "the manager stays after killall";
    EXPECT_EQ(radarsField(), "");

    std::string out = manager.output();
    for (const char* want : {"radar2 has no shared file, not started", "radar1 runs already",
                             "radar7 is not a radar section", "\nStopping Radar radar1 pid:",
                             "\nStopping Radar radar0 pid:"})
        EXPECT_NE(out.find(want), std::string::npos) << want << " in " << out;
}

// The emulator shows its own command line in /proc/<pid>/cmdline, not the
// title a process gives itself.
TEST(RadarManager, TitlesEachRadarByItsSection) {
    SharedFiles files;
    PrivateKeys keys;
    std::unique_ptr<ConfigFile> cf(managerConfig({{"radar0", "1"}, {"radar1", "0"}, {"radar2", "1"}}));
    sharedmem->key.radartasks = 5;
    Child manager([&] { return RadarsClass(cf.get(), fast(keys)).process(); });
    ASSERT_TRUE(eventually([] { return __atomic_load_n(&sharedmem->key.radartasks, __ATOMIC_ACQUIRE) == 0; },
                           milliseconds(2000)));
    const struct {
        const char* task;
        std::set<std::string> titles;
    } steps[] = {{"", {"vintorradar0", "vintorradar2"}},
                 {"radar1start", {"vintorradar0", "vintorradar1", "vintorradar2"}},
                 {"radar1stop", {"vintorradar0", "vintorradar2"}}};
    for (const auto& step : steps) {
        if (*step.task) task(step.task);
        EXPECT_TRUE(titlesBecome(manager.pid(), step.titles))
            << step.task << ": " << ::testing::PrintToString(titlesOf(manager.pid())) << manager.output();
    }
}

TEST(RadarManager, RadarsEndWithTheirManager) {
    SharedFiles files;
    PrivateKeys keys;
    std::unique_ptr<ConfigFile> cf(managerConfig({{"radar0", "1"}, {"radar1", "1"}}));
    Child manager([&] { return RadarsClass(cf.get(), fast(keys)).process(); });
    ASSERT_TRUE(eventually([&] { return childrenOf(manager.pid()).size() == 2; }, milliseconds(5000)));
    std::vector<pid_t> radars = childrenOf(manager.pid());
    kill(manager.pid(), SIGKILL);
    EXPECT_EQ(manager.wait(milliseconds(2000)), -1);
    for (pid_t r : radars) EXPECT_TRUE(eventually([&] { return ended(r); }, milliseconds(2000))) << r;
}
