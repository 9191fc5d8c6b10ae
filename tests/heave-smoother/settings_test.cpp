// The smoother worker's settings out of a configuration reply.
#include "configclient.h"
#include "service.h"

#include <gtest/gtest.h>

namespace {

TEST(SmootherSettings, KeysWithTheirDefaults)
{
    struct { const char* reply; int status; int port; const char* file; const char* input; } cases[] = {
        {R"({"success":{"heave-smoother":{"publishers":{"fastport":"6000"},"filterFilename":"/f","subscribe":"h:1"}}})",
         0, 6000, "/f", "h:1"},
        {R"({"success":{"heave-smoother":{"publishers":{"fastport":6001}}}})", 0, 6001, "", "127.0.0.1:5080"},
        {R"({"success":{"heave-smoother":{"publishers":{"fastport":true},"filterFilename":5,"subscribe":["x"]}}})", 0, 5051,
         "", "127.0.0.1:5080"},
        {R"({"success":{"heave-smoother":{"publishers":{"fastport":null}}}})", 0, 5051, "", "127.0.0.1:5080"},
        // Digits only: atoi would read 5097, 1 and -2147483648.
        {R"({"success":{"heave-smoother":{"publishers":{"fastport":"5097abc"}}}})", 0, 0, "", "127.0.0.1:5080"},
        {R"({"success":{"heave-smoother":{"publishers":{"fastport":"1e12"}}}})", 0, 0, "", "127.0.0.1:5080"},
        {R"({"success":{"heave-smoother":{"publishers":{"fastport":"2147483648"}}}})", 0, 0, "", "127.0.0.1:5080"},
        {R"({"success":{"heave-smoother":{"publishers":"6000"}}})", 0, 5051, "", "127.0.0.1:5080"},
        {R"({"success":{"heave-smoother":"x","IMU":{}}})", 0, 5051, "", "127.0.0.1:5080"},
        {R"({"success":{}})", 0, 5051, "", "127.0.0.1:5080"},
        {R"({"success":"x"})", 1, 5051, "", "127.0.0.1:5080"},
        {R"({"error":"no"})", 1, 5051, "", "127.0.0.1:5080"},
        {R"([1])", 1, 5051, "", "127.0.0.1:5080"},
    };
    for (auto& c : cases) {
        Json::Value reply;
        std::string errors;
        ASSERT_TRUE(ConfigClient::parseReply(c.reply, &reply, &errors)) << c.reply;
        SmootherSettings s;
        EXPECT_EQ(readSmootherSettings(reply, "heave-smoother", &s), c.status) << c.reply;
        EXPECT_EQ(s.fastport, c.port) << c.reply;
        EXPECT_EQ(s.filterFilename, c.file) << c.reply;
        EXPECT_EQ(s.subscribe, c.input) << c.reply;
    }
}

} // namespace
