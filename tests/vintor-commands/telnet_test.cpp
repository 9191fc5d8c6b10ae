// The replies of the telnet status service, from records and configurations
// made in the test, parsed back as JSON; and its accept loop as a process.
#include <sys/sem.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "clients.h"
#include "configfile.h"
#include "harness.h"
#include "jsonreply.h"
#include "sharedmem.h"
#include "telnet.h"

using std::chrono::milliseconds;
using testsupport::TempDir;

namespace {

Json::Value parse(const std::string& text) {
    Json::Value root;
    std::string errors;
    EXPECT_TRUE(commandtest::parseReply(text, &root, &errors)) << errors << "\n" << text;
    return root;
}

std::string memberNames(const Json::Value& v) {
    std::string names;
    for (const std::string& n : v.getMemberNames()) names += n + " ";
    return names;
}

std::unique_ptr<radar_st> serialRecord(int sweeps, int length, const std::string& bytes) {
    std::unique_ptr<radar_st> r(new radar_st());
    r->brand = 0;
    r->nrOfSweeps = sweeps;
    r->length = length;
    memcpy(r->data.com, bytes.data(), bytes.size());
    strcpy(r->section, "radar0");
    strcpy(r->time, "1700000000123");
    return r;
}

}  // namespace

TEST(TelnetReplies, CommandLinesKeepTheirTextAsJsonWithBlanksForTabs) {
    const struct {
        const char* line;
        const char* text;
    } rows[] = {
        {"a\tb\r\n", "a b<br>"},
        {"cut\rhere\n", "cut<br>"},
        {"no end", "no end<br>"},
        {"say \"hi\" \\ there\n", "say \\\"hi\\\" \\\\ there<br>"},
        {"bell\x07\n", "bell\\u0007<br>"},
        {"caf\xc3\xa9\n", "caf\xc3\xa9<br>"},
        {"latin \xe9 \xc3(\n", "latin \xc3\xa9 \xc3\x83(<br>"},
        {"surrogate \xed\xa0\x80\n", "surrogate \xc3\xad\xc2\xa0\xc2\x80<br>"},
    };
    for (const auto& r : rows) {
        std::string out;
        appendOutputLine(out, r.line);
        EXPECT_EQ(out, r.text) << r.line;
        parse("[\"" + out + "\"]");
    }
}

TEST(TelnetReplies, StatusNamesTheLinkStateInItsMembersOrder) {
    const struct {
        int connection, communication;
        const char *connectionText, *communicationText;
    } rows[] = {
        {0, 0, "No connection", "No communication"},
        {1, 2, "Comport succesfull opened", "radar requestdata"},
        {2, 1, "Got Radar reactions", "radar initialisation"},
        {3, -1, "unknown status", "unknown status"},
    };
    for (const auto& r : rows) {
        status_st st;
        memset(&st, 0, sizeof st);
        st.radarConnection = r.connection;
        st.radarCom = r.communication;
        st.peak = -7;
        memset(st.radarVersion, 'v', sizeof st.radarVersion);  // no terminator
        std::string text = statusJson(st, "2024-05-01 12:34", 7384, {{"ntp", "a b<br>"}});
        EXPECT_EQ(text.rfind(std::string("{\"time\":\"2024-05-01 12:34\",\"uptime\":\"Hours 2 min 3\",\"connection\":\"") +
                                 r.connectionText + "\",\"communication\":\"" + r.communicationText +
                                 "\",\"nr_fft\":\"0\",\"nr_peak\":\"-7\",\"nr_peakmiss\":\"0\",\"ntp\":\"a b<br>\",",
                             0),
                  0u)
            << text;
        EXPECT_EQ(parse(text)["radarVersion"].asString(), std::string(100, 'v'));
    }
    EXPECT_EQ(uptimeText(59), "Hours 0 min 0");
    EXPECT_EQ(uptimeText(3600 * 100 + 59 * 60 + 59), "Hours 100 min 59");
}

TEST(TelnetReplies, SpectrumListsTheValuesOfBothSweepsWithinTheRecord) {
    std::unique_ptr<fft_st> f(new fft_st());
    strcpy(f->time, "1700000000000");
    strcpy(f->section, "radar1");
    f->length = 2;
    f->data[0][0] = 1;
    f->data[0][1] = 2;
    f->data[1][0] = 3;
    f->data[1][1] = 4;
    EXPECT_EQ(fftJson(*f),
              "{\"time\":\"1700000000000\",\"section\":\"radar1\",\"length\":\"2\",\"fft-up\":\"1 2 \","
              "\"fft-down\":\"3 4 \"}");

    // Lengths from a damaged slot stay inside the record.
    for (int length : {-5, 100000}) {
        f->length = length;
        Json::Value w = parse(fftJson(*f));
        std::string s = w["fft-up"].asString();
        EXPECT_EQ(std::count(s.begin(), s.end(), ' '), length < 0 ? 0 : MAX_FFT_BUFFER_SIZE) << length;
    }
}

TEST(TelnetReplies, MeasurementShowsSerialSamplesPerSweepWithinThePayload) {
    const std::string bytes("\x01\x00\xff\xff\x02\x00\x00\x80", 8);
    const struct {
        int sweeps, length, brand;
        const char* up;
        const char* down;  // null: no member
    } rows[] = {
        {2, 8, 0, "1 -1 ", "2 -32768 "},
        {1, 8, 0, "1 -1 2 -32768 ", ""},
        {0, 8, 0, "", nullptr},
        {-3, 8, 0, "", nullptr},
        {2, -8, 0, "", ""},
        {2, 8, 3, "raw data for brand not yep implemented ", nullptr},
    };
    for (const auto& r : rows) {
        auto rec = serialRecord(r.sweeps, r.length, bytes);
        rec->brand = r.brand;
        Json::Value v = parse(rawJson(7, *rec));
        SCOPED_TRACE(std::to_string(r.sweeps) + " sweeps, length " + std::to_string(r.length));
        EXPECT_EQ(v["index"].asString(), "7");
        EXPECT_EQ(v["section"].asString(), "radar0");
        EXPECT_EQ(v["rawdata-up"].asString(), r.up);
        EXPECT_EQ(v.isMember("rawdata-down"), r.down != nullptr);
        if (r.down) {
            EXPECT_EQ(v["rawdata-down"].asString(), r.down);
        }
    }
    // An announced length far beyond the payload: samples stop at its end.
    auto big = serialRecord(1, 65535, std::string(8292, '\x01'));
    std::string up = parse(rawJson(0, *big))["rawdata-up"].asString();
    EXPECT_EQ(std::count(up.begin(), up.end(), ' '), 8292 / 2);
    EXPECT_EQ(up.substr(0, 4), "257 ");
}

TEST(TelnetReplies, ConfigurationListsTheProgramAndActiveRadarsAndSubscriptionsInNumberOrder) {
    ConfigFile cf(0, 0);
    EXPECT_EQ(subscriptionsJson(&cf) + configJson(&cf), "{\n}{\n}");
    for (const char* section : {"radar0", "radar1", "radar2"})
        cf.setValue(section, "active", std::string(section[5] == '1' ? "0" : "2"));
    cf.setValue("radar0", "radarname", std::string("Pier \"north\""));
    for (const char* section : {"subscription10", "subscription9", "subscription200", "vintor"})
        cf.setValue(section, "ipnr", std::string(section));

    std::string config = configJson(&cf);
    Json::Value c = parse(config);
    EXPECT_EQ(memberNames(c), "radar0 radar2 vintor ");
    EXPECT_LT(config.find("\"vintor\""), config.find("\"radar0\""));
    EXPECT_EQ(memberNames(c["vintor"]), "timeport timeserver ");
    EXPECT_EQ(c["radar0"]["radarname"].asString(), "Pier \"north\"");
    EXPECT_EQ(memberNames(c["radar2"]),
              "maximumheight minimumheight mountingangle mountingheight radarname radaroffset scanspeed threshold ");

    std::string subs = subscriptionsJson(&cf);
    Json::Value s = parse(subs);
    EXPECT_EQ(memberNames(s), "subscription10 subscription9 ");
    EXPECT_LT(subs.find("subscription9"), subs.find("subscription10"));
    EXPECT_EQ(s["subscription10"]["ipnr"].asString(), "subscription10");
    EXPECT_EQ(memberNames(s["subscription10"]), "active differencetrigger ipnr kindof onceinthe portnr ");
}

// The accept loop in a process of its own against the configuration service stand-in.
TEST(TelnetService, RereadsTheConfigurationOnlyWhenAskedAndServesPastIdleClients) {
    TempDir dir;
    const int port = testsupport::freePort();
    testsupport::ConfigServiceOptions options;
    options.config = dir.file("config.json");
    testsupport::writeFile(options.config, "{\"vintor\":{\"vintor\":{\"telnetport\":\"" + std::to_string(port) +
                                               "\",\"timeserver\":\"first\"}}}");
    auto service = testsupport::startConfigServiceOnFreePorts(&options);
    ASSERT_TRUE(service);

    TelnetSettings settings;
    settings.reloadKey = 0x57000000 + (getpid() & 0xffff);
    settings.watchdogFile = dir.file("watchdogtimesync");
    settings.ioTimeoutSeconds = 1;
    settings.maxConnections = 2;
    const int reload = getSemaphore(settings.reloadKey);
    setSemaphore(reload, 0);
    fflush(stdout);
    pid_t child = fork();
    if (child == 0) {
        // A group of its own, so that ending it ends the commands it runs as well.
        setpgid(0, 0);
        ConfigFile cf(options.repPort, options.pubPort);
        cf.readConfig();
        TelnetClass(&cf, settings).process();
    }
    setpgid(child, child);
    auto timeserver = [&] {
        std::string reply;
        EXPECT_TRUE(commandtest::askTelnet(port, "c", &reply));
        return parse(reply)["vintor"]["timeserver"].asString();
    };
    EXPECT_EQ(timeserver(), "first");

    std::string ok;
    ASSERT_TRUE(testsupport::request("tcp://127.0.0.1:" + std::to_string(options.repPort),
                                     "{\"set\":{\"vintor\":{\"vintor\":{\"timeserver\":\"second\"}}}}", &ok));
    EXPECT_EQ(timeserver(), "first");
    setSemaphore(reload, 1);
    EXPECT_EQ(timeserver(), "second");
    EXPECT_EQ(getSemaphoreValue(reload), 0);

    // Two clients that say nothing fill the service; a third is served once
    // their time is up, and they are closed without a reply.
    commandtest::TcpClient idle1(port), idle2(port);
    ASSERT_TRUE(idle1.connected() && idle2.connected());
    EXPECT_EQ(timeserver(), "second");
    std::string nothing;
    EXPECT_TRUE(idle1.readAll(&nothing, milliseconds(10000)));
    EXPECT_TRUE(idle2.readAll(&nothing, milliseconds(10000)));
    EXPECT_EQ(nothing, "");
    // Touched after every connection.
    for (int i = 0; i < 100 && access(settings.watchdogFile.c_str(), F_OK) != 0; ++i) usleep(50000);
    EXPECT_EQ(access(settings.watchdogFile.c_str(), F_OK), 0);

    kill(-child, SIGKILL);
    waitpid(child, nullptr, 0);
    semctl(reload, 0, IPC_RMID);
}
