// feed-listen as a whole program: the configuration stand-in on free ports,
// the feeds published by the test on loopback.
#include "feedrecords.h"
#include "harness.h"
#include "tarnix.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>

using namespace testsupport;

namespace {

template <typename Record>
std::string bytes(const Record& r)
{
    return std::string(reinterpret_cast<const char*>(&r), sizeof r);
}

const std::string BIN = FEED_LISTEN_BIN;

class FeedListenProgram : public ::testing::Test {
protected:
    void SetUp() override { start(""); }
    void start(const std::string& reply)
    {
        service.reset();
        std::remove(dir.file("requests.log").c_str());
        auto p = freePorts(5);
        ports = {{"fft", p[0]}, {"h", p[1]}, {"peak", p[2]}, {"vintor", p[3]}, {"rawdata-pub", p[4]}};
        char json[512];
        snprintf(json, sizeof json,
                 R"({"tarnix-pic32":{"publishers":{"rawdata-pub":"%d"}},"radar":{"sweepsize":"256"},)"
                 R"("vintor":{"publishers":{"fft":"%d","h":"%d","peak":"%d","vintor":"%d"}}})",
                 p[4], p[0], p[1], p[2], p[3]);
        writeFile(dir.file("station.json"), json);
        options.config = dir.file("station.json");
        options.requestLog = dir.file("requests.log");
        options.reply = reply;
        service = startConfigServiceOnFreePorts(&options);
        ASSERT_TRUE(service);
    }
    // Runs feed-listen on publisher o and sends the messages once it has subscribed.
    Finished listen(const std::string& m, const std::string& o, std::vector<std::string> args,
                    const std::vector<std::string>& messages = {})
    {
        Publisher feed(ports[o]);
        args.insert(args.end(), {"-p", std::to_string(options.repPort), "-m", m, "-o", o});
        Process p(BIN, args);
        if (!messages.empty()) {
            EXPECT_TRUE(feed.subscribed(milliseconds(15000)));
            for (const auto& message : messages)
                feed.send(message);
        }
        p.drain(milliseconds(20000));
        p.wait(milliseconds(2000));
        return {p.exitCode(), p.output()};
    }
    std::string connected(const std::string& o, const std::string& host = "127.0.0.1")
    {
        return "ZMQ Connected: tcp://" + host + ":" + std::to_string(ports[o]) + "\n";
    }
    std::string head()
    {
        return "Connecting to the ip/portnr 127.0.0.1:" + std::to_string(options.repPort) +
               ".\nPossible options are:\n" + BIN + " -m tarnix-pic32 -o rawdata-pub\n" + BIN + " -m vintor -o fft\n" +
               BIN + " -m vintor -o h\n" + BIN + " -m vintor -o peak\n" + BIN + " -m vintor -o vintor\n";
    }

    TempDir dir;
    ConfigServiceOptions options;
    std::unique_ptr<Process> service;
    std::map<std::string, int> ports;
};

fft_st spectrum(const char* time)
{
    fft_st r{};
    strcpy(r.time, time);
    strcpy(r.section, "radar0");
    r.nrOfSweeps = 2;
    r.length = 8; // samples per sweep: 4 bins
    for (int s = 0; s < 2; s++)
        for (int i = 0; i < 2148; i++)
            r.data[s][i] = s + 0.25f * i;
    return r;
}

TEST_F(FeedListenProgram, ListsEveryPublisherThenDecodesTwoSpectraSweepBySweep)
{
    Finished f = listen("vintor", "fft", {"-n", "2"}, {bytes(spectrum("1700000000250")), bytes(spectrum("1700000000500"))});
    EXPECT_EQ(f.code, 0);
    std::string sweeps;
    for (std::string t : {"1700000000250", "1700000000500"})
        sweeps += "\ntime=" + t + ";sweepnr=0;sensor=radar0;fft=0.000000,0.250000,0.500000,0.750000,\ntime=" + t +
                  ";sweepnr=1;sensor=radar0;fft=1.000000,1.250000,1.500000,1.750000,";
    EXPECT_EQ(f.out, head() + connected("fft") + sweeps);
    EXPECT_EQ(readRequestLog(options.requestLog),
              (std::vector<std::string>{R"({ "get": "" })", R"({ "get": {"radar":{"publishers":"" }}})",
                                        R"({ "get": {"tarnix-pic32":{"publishers":"" }}})",
                                        R"({ "get": {"vintor":{"publishers":"" }}})"}));
}

TEST_F(FeedListenProgram, DecodesEveryRecordFeedAndPrintsTextUpToItsNul)
{
    heave_st h{"1700000000750", 1, "radar1", 1, 0, 0, {996.5f, 0}, 999.875f, -16.5f, 0, 0, {250000, 0}, {2e6f, 0}, 3};
    peak_st p{"1700000001000", 0, "radar0", 2, {}, {1, 1}, {2011878, 2014477.5}, 0, 0, 0, 0, 0, 0};
    p.data[0][0] = {41, 1234.5f, 0.25f};
    p.data[1][0] = {42, 1000, -0.5f};
    static tarnix_st t{};
    t.time = 1700000000123LL;
    t.sweepsize = 256;
    std::string board;
    for (int s = 0; s < 2; s++) {
        t.tarnix_data[s] = {0x000C, 300, 1, 2, 7, 123456u + s, static_cast<uint16_t>(0x0164 - 0x100 * s), 5, {}, 0};
        board += "\nVersion:000C Temp:300 id:7 time:" + std::to_string(123456 + s) + " sweepnr:" + std::to_string(s) +
                 " sweepsize:256 gain:100 timestamp:1700000000123\nData: ";
        for (int i = 0; i < 1025; i++)
            t.tarnix_data[s].data[i] = static_cast<uint16_t>(60000 - i - s);
        for (int i = 0; i < 1024; i++)
            board += std::to_string(60000 - i - s) + " ";
    }
    const std::string line = "time=1700000000750;sensor=radar0;heave=200.019226cm";
    const struct {
        const char *m, *o;
        std::string message, expected;
        const char* host;
    } rows[] = {
        {"vintor", "h", bytes(h),
         "\ntime=1700000000750;sweepnr=0;sensor=radar1;distance=996.500000;distanceAvg=999.875000;Vheave=-16.500000,"
         "Dup=0.000000,Ddown=0.000000,Ep=250000.000000,energy=2000000.000000,nan=3", "127.0.0.1"},
        {"vintor", "peak", bytes(p),
         "\ntime=1700000001000;sweepnr=0;sensor=radar0;energy=2011878.000000;peaks(bin:height:correction)="
         "41:1234.500000:0.250000,\ntime=1700000001000;sweepnr=1;sensor=radar0;energy=2014477.500000;"
         "peaks(bin:height:correction)=42:1000.000000:-0.500000,", "127.0.0.1"},
        {"tarnix-pic32", "rawdata-pub", bytes(t), board, "127.0.0.1"},
        {"vintor", "h", bytes(h).substr(0, 91), "\nWrong record size: 91 bytes, expected 92", "127.0.0.1"},
        {"vintor", "vintor", line + std::string(200 - line.size(), '\0'), line + "\n", "::1"},
    };
    for (const auto& r : rows) {
        Finished f = listen(r.m, r.o, {"-q", "-n", "1", "-a", r.host}, {r.message});
        EXPECT_EQ(f.code, 0);
        EXPECT_EQ(f.out, connected(r.o, r.host) + r.expected) << r.m << " " << r.o;
    }
}

TEST_F(FeedListenProgram, EndsAfterSilenceOrWithoutListeningAndSaysWhyNothingCame)
{
    Finished f = listen("vintor", "vintor", {"-t", "1"});
    EXPECT_EQ(f.code, 100);
    EXPECT_EQ(f.out, head() + connected("vintor") + "timeout\n");
    f = listen("vintor", "vintor", {"-n", "0", "-t", "1"});
    EXPECT_EQ(f.code, 0);
    EXPECT_EQ(f.out, head() + connected("vintor"));
    f = listen("vintor", "heave", {"-t", "1"});
    const std::string port = std::to_string(options.repPort);
    EXPECT_EQ(f.code, 100);
    EXPECT_EQ(f.out, head() + "No publisher heave in module vintor: listening on port " + port +
                         "\nZMQ Connected: tcp://127.0.0.1:" + port + "\ntimeout\n");

    start("nonjson");
    f = listen("vintor", "vintor", {"-q"});
    EXPECT_EQ(f.code, 3);
    EXPECT_EQ(f.out.substr(0, 22), "Failed to parse JSON\r\n");
    start("nosuccess");
    f = listen("vintor", "vintor", {"-q"});
    EXPECT_EQ(f.code, 3);
    EXPECT_EQ(f.out, "Configuration not found\n");
}

TEST(FeedListenCommandLine, RefusesBadOptionsWithTheUsage)
{
    Finished f = runToEnd(BIN, {"-x"}, true);
    EXPECT_EQ(f.code, 1);
    EXPECT_EQ(f.out, "Unknown option `-x'.\n"
                     "  -a <ip addres>   -> Ip address of a remote system (ipv6 is also possible)\n"
                     "  -p <portnumber>  -> configuration portnr\n"
                     "  -m <modulename>  -> like vintor, tarnix-pic32, brim\n"
                     "  -o <publishername>  -> like raw, vintor, fft, h\n"
                     "  -t <timeout>  -> (s) defaults to 10s\n"
                     "  -n <number of lines>  -> fetch a number of lines and then stop, (-1 infinite)\n"
                     "  -q               -> quiet\n\n"
                     "Use: " + BIN + " -m <module name> -o <publisher type>\n"
                     " bv: " + BIN + " -m tarnix-pic32 -o rawdata-pub\n"
                     " bv: " + BIN + " -m vintor -o vintor [-a <ip>]\n"
                     " bv: " + BIN + " -m vintor -o fft -n 2 \n\n");
    for (auto [args, first] : {std::pair<std::vector<std::string>, std::string>{{"-a"}, "Option -a requires an argument.\n"},
                               {{"-t"}, "Unknown option `-t'.\n"},
                               {{"-p", "50x"}, "Error: -p needs a port number, not \"50x\"\n"}}) {
        f = runToEnd(BIN, args, true);
        EXPECT_EQ(f.code, 1);
        EXPECT_EQ(f.out.substr(0, first.size()), first);
    }
}

} // namespace
