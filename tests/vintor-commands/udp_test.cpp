// The listener's reading of "set" and "get" against a configuration copy made
// in the test: keys with capitals are reached whatever the datagram's case.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "configfile.h"
#include "udp.h"

namespace {

std::string reply(ConfigFile& cf, const std::string& datagram) {
    return handleDatagram(datagram.data(), datagram.size(), &cf, "127.0.0.1", 4000).reply;
}

}  // namespace

TEST(UdpSettings, SetAndGetReachKeysWithCapitalsUnderTheirStoredSpelling) {
    ConfigFile cf(0, 0);
    cf.setValue("radar0", "radarType", std::string("F"));
    cf.setValue("radar0", "secondPeakMargin_dB", std::string("3"));
    cf.setValue("radar0", "threshold", std::string("-30"));
    cf.setValue("radar1", "pipeDiameter", std::string("20"));
    const struct {
        const char* datagram;
        const char* reply;
    } rows[] = {
        {"get radar0 radarType", "radartype=F"},
        {"get radar0 RADARTYPE", "radartype=F"},
        {"set radar0 radarType=G", "set"},  // the value lower-cased as well
        {"get radar0 radartype", "radartype=g"},
        {"id=T;SET radar0 SecondPeakMargin_dB=4.5", "set"},
        {"get radar0 secondpeakmargin_db", "secondpeakmargin_db=4.5"},
        {"get radar0 pipeDiameter", "pipediameter="},  // another section's key
        {"get radar1 pipediameter", "pipediameter=20"},
        {"get radar0 radarTyp", "radartyp="},
        {"set radar0 NewKey=7", "set"},  // in no case: a new key, as given
        {"get radar0 newkey", "newkey=7"},
        {"get radar9 radarType", "Error unknown parameter: radar9 radartype"},
    };
    for (const auto& r : rows) EXPECT_EQ(reply(cf, r.datagram), r.reply) << r.datagram;

    std::vector<std::string> keys;
    for (const auto& entry : cf.content_) keys.push_back(entry.first);
    EXPECT_EQ(keys, (std::vector<std::string>{"radar0/newkey", "radar0/radarType", "radar0/secondPeakMargin_dB",
                                              "radar0/threshold", "radar1/pipeDiameter"}));
    EXPECT_EQ(cf.content_["radar0/radarType"], "g");
    EXPECT_EQ(cf.content_["radar0/secondPeakMargin_dB"], "4.5");
}

TEST(UdpSettings, AnExactSpellingWinsOverOneThatDiffersInCase) {
    ConfigFile cf(0, 0);
    cf.setValue("radar0", "Mode", std::string("a"));
    cf.setValue("radar0", "mode", std::string("b"));
    EXPECT_EQ(reply(cf, "set radar0 MODE=c"), "set");
    EXPECT_EQ(cf.content_["radar0/mode"], "c");
    EXPECT_EQ(cf.content_["radar0/Mode"], "a");
}
