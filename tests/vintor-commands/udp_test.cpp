// The command reading of the UDP listener, datagram by datagram, and the radar
// start trigger on a real semaphore with a private key.
#include <sys/sem.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "configfile.h"
#include "sharedmem.h"
#include "timer.h"
#include "udp.h"

namespace {

struct Row {
    Row(std::string d, std::string i = "", std::string r = "", std::string t = "", std::string s = "",
        int radar = -1, std::string time = "", bool write = false)
        : datagram(d), id(i), reply(r), task(t), subscription(s), triggerRadar(radar), triggerTime(time),
          writeConfig(write) {}
    std::string datagram;
    std::string id, reply, task, subscription;
    int triggerRadar;
    std::string triggerTime;
    bool writeConfig;
};

}  // namespace

TEST(UdpCommands, AnswersQueuesSubscribesAndTriggersAsEachDatagramAsks) {
    ConfigFile cf(0, 0);
    cf.setValue("radar0", "radarType", std::string("fmcw"));
    cf.setValue("vintor", "portnumber", std::string("3001"));
    const std::string sub = "start ip=127.0.0.1;port=40000;kindof=";
    const std::string x300(300, 'x');
    // In order: a "set" is seen by the "get"s after it.
    const Row rows[] = {
        {"WriteConfig", "", "Config written", "", "", -1, "", true},
        {"writeconfig now", "", "Config written", "", "", -1, "", true},
        {"id=Abc;get version", "id=abc;", "Version_buildnummer=1.1"},
        {"GET VERSION", "", "Version_buildnummer=1.1"},
        {"start;1234;radar0;", "", "", "", "", 0, "1234"},
        {"start;99;RADAR2;tail", "", "", "", "", 2, "99"},
        {"start;1234;radar3;"},
        {"start;1234;radar0"},
        {"start;"},
        {"start;1234"},
        {"start;5;radar1;get version", "", "", "", "", 1, "5"},
        {"start;get version", "", "Version_buildnummer=1.1"},
        {"start;set radar1 x=1", "", "set"},
        {"set radar0 threshold=12", "", "set"},
        {"get radar0 threshold", "", "threshold=12"},
        {"set radar0 threshold 12", "", "Invalid set"},
        {"set a=b c", "", "Invalid set"},
        {"set  a=b", "", "Invalid set"},
        {"set radar0 =5", "", "Invalid set"},
        {"set radar0 empty=", "", "set"},
        {"get radar0 empty", "", "empty="},
        {"get radar0 radarType", "", "radartype="},
        {"get radar0 nosuchkey", "", "nosuchkey="},
        {"get heave", "", "", "", sub + "0;param=;"},
        {"get publishers heave", "", "", "", sub + "0;param=heave;"},
        {"get vintor portnumber", "", "", "", sub + "1010;param=portnumber;"},
        {"get fft", "", "", "", sub + "1;param=;"},
        {"get radar0 rawdata", "", "", "", sub + "2;param=rawdata;"},
        {"get diag", "", "", "", sub + "2010;param=;"},
        {"id=Q;get fft", "id=q;", "", "", sub + "1;param=;id=q;"},
        {"get heave " + x300, "", "", "", (sub + "0;param=" + x300 + ";").substr(0, 250)},
        {"get foo", "", "Error unknown section: foo"},
        {"get ", "", "Error unknown section: "},
        {"get nosuch key", "", "Error unknown parameter: nosuch key"},
        {"killall", "", "", "killall"},
        {"Reset", "", "", "reset"},
        {"start fft", "", "", "start fft"},
        {"stop peak", "", "", "stop peak"},
        {"id=x;reset", "id=x;", "", "reset"},
        {"getversion", "", "", "getversion"},
        {"id=abc"},
        {"id=abc;", "id=abc;"},
        {""},
        {std::string("\0killall", 8)},
        {std::string(17347, 'A'), "", "", std::string(250, 'a')},
        {"k\xff\x01ill", "", "", "k\xff\x01ill"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.datagram.substr(0, 60));
        UdpCommand c = handleDatagram(r.datagram.data(), r.datagram.size(), &cf, "127.0.0.1", 40000);
        EXPECT_EQ(c.id, r.id);
        EXPECT_EQ(c.reply, r.reply);
        EXPECT_EQ(c.task, r.task);
        EXPECT_EQ(c.subscription, r.subscription);
        EXPECT_EQ(c.triggerRadar, r.triggerRadar);
        EXPECT_EQ(c.triggerTime, r.triggerTime);
        EXPECT_EQ(c.writeConfig, r.writeConfig);
    }
    // "set" wrote only this copy of the configuration, lower-cased.
    EXPECT_EQ(cf.ValueInt("radar0", "threshold"), 12);
    std::string type;
    cf.Value("radar0", "radarType", &type);
    EXPECT_EQ(type, "fmcw");
}

TEST(UdpCommands, StartTriggerRaisesCancelsAndRaisesAgainKeepingTheTextOfTheLastRaise) {
    std::unique_ptr<sharedmemRadar_st> block(new sharedmemRadar_st());
    const int key = 0x55000000 + (getpid() & 0xffff);
    const int semid = getSemaphore(key);
    ASSERT_GE(semid, 0);
    setSemaphore(semid, 0);

    // A radar that is not running: no block, or no semaphore stored in it.
    toggleTrigger(nullptr, 0, "1", 0);
    toggleTrigger(block.get(), 0, "1", 0);
    EXPECT_EQ(getSemaphoreValue(semid), 0);
    EXPECT_EQ(block->timestring[0], '\0');

    block->semafore = semid;
    const double before = getTime();
    toggleTrigger(block.get(), 0, "1234", 0);
    const double after = getTime();
    EXPECT_EQ(getSemaphoreValue(semid), 1);
    EXPECT_STREQ(block->timestring, "1234");
    EXPECT_GE(block->localtime, before);
    EXPECT_LE(block->localtime, after);

    const double raisedAt = block->localtime;
    toggleTrigger(block.get(), 0, "5678", 0);
    EXPECT_EQ(getSemaphoreValue(semid), 0);
    EXPECT_STREQ(block->timestring, "1234");
    EXPECT_EQ(block->localtime, raisedAt);

    toggleTrigger(block.get(), 0, "12345678901234567890123", 0);
    EXPECT_EQ(getSemaphoreValue(semid), 1);
    EXPECT_STREQ(block->timestring, "1234567890123456789") << "at most 19 characters";

    semctl(semid, 0, IPC_RMID);
}
