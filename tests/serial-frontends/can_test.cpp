// The CAN-tunnelled set-up of the serial radar: identifiers, pieces on the
// wire, answers, the initialisation strings and the whole conversation
// against the radar simulator.
#include <cstring>
#include <string>
#include <vector>

#include "misc.h"
#include "serialtest.h"

using namespace serialtest;

namespace {

std::string hexOf(const std::string& s) { return hexText(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }

TEST(Can, Identifiers) {
    const int cases[][2] = {{84, 0x414}, {92, 0x41C}, {24, 0x018}, {4, 0x004}, {12, 0x00C}, {6, 0x006}, {127, 0x43F}};
    for (const auto& c : cases) EXPECT_EQ(canIdentifier(c[0]), c[1]) << c[0];
}

TEST(Can, SweepInitialisationStrings) {
    struct Case {
        int size, art1a, result;
        const char* text;
    } first[] = {
        {256, 1, 0, "09926010182085500100550" "32"}, {512, 0, 0, "09798010310085500100550" "16"},
        {1024, 1, 0, "09542010566085500100550" "32"}, {2048, 0, 0, "09030011078085500100550" "16"},
        {128, 1, 1, "32"}, {4096, 0, 1, "16"},
    };
    for (const Case& c : first) {
        char buffer[32];
        int length = 0;
        EXPECT_EQ(CommClass::getSweepInitString24(c.size, c.art1a, buffer, &length), c.result) << c.size;
        EXPECT_EQ(std::string(buffer, size_t(length)), c.text) << c.size;
        // The first five and next six digits are 10054 -/+ half the sweep size.
        if (c.result == 0) {
            EXPECT_EQ(std::atoi(std::string(buffer, 5).c_str()), 10054 - c.size / 2);
            EXPECT_EQ(std::atoi(std::string(buffer + 5, 6).c_str()), 10054 + c.size / 2);
        }
    }
    const std::pair<int, char> codes[] = {{128, '4'}, {256, '3'}, {512, '2'}, {1024, '1'}, {2048, '0'}};
    for (const auto& c : codes) {
        char buffer[48];
        int length = 0;
        EXPECT_EQ(CommClass::getSweepInitString06(c.first, buffer, &length), 0);
        std::string want = "-4+000+000-1999201D11D----WG22FN--------";
        want[29] = c.second;
        EXPECT_EQ(std::string(buffer, size_t(length)), want) << c.first;
    }
    char buffer[48];
    int length = 9;
    EXPECT_EQ(CommClass::getSweepInitString06(300, buffer, &length), 1);
    EXPECT_EQ(length, 0);
}

TEST(CanLink, MessagesGoOutInPieces) {
    RadarLink link;
    ASSERT_TRUE(link.opened);
    CommClass& comm = *link.comm;
    const char twelve[2] = {2, 0};
    EXPECT_EQ(comm.sendCAN(1, 12, twelve, 2, 0), 2);
    EXPECT_EQ(comm.sendCAN(1, 4, nullptr, 0, 0), 1);
    EXPECT_EQ(logged(link.sim, "frame "),
              (std::vector<std::string>{"frame 01 02 FD 01 00 0A 00 0C 00 00 01 00 00 00 00 00 18",
                                        "frame 01 02 FD 01 00 06 00 0C 01 00 02 00 16",
                                        "frame 01 02 FD 01 00 02 00 04 07"}));
    EXPECT_EQ(logged(link.sim, "can "), (std::vector<std::string>{"can 12 02 00", "can 4"}));

    const size_t mark = link.sim.logSize();
    const std::string init = "0992601018208550010055032";
    EXPECT_EQ(comm.sendCAN(1, 24, init.data(), int(init.size()), 0), 6);
    const std::vector<std::string> pieces = logged(link.sim, "frame ", mark);
    ASSERT_EQ(pieces.size(), 6u);
    EXPECT_EQ(pieces[0].substr(0, 42), "frame 01 02 FD 01 00 0A 00 18 00 00 05 00 ");
    EXPECT_EQ(pieces[4].substr(0, 39), "frame 01 02 FD 01 00 0A 00 18 04 00 30 ");
    EXPECT_EQ(pieces[5].substr(0, 33), "frame 01 02 FD 01 00 05 00 18 05 ");
    EXPECT_EQ(logged(link.sim, "can 24")[0], "can 24 " + hexOf(init));
}

TEST(CanLink, AnswersComeBackPieceByPiece) {
    RadarLink link;
    ASSERT_TRUE(link.opened);
    CommClass& comm = *link.comm;
    char answer[CAN_ANSWER_CAPACITY];
    int length = -1;
    comm.sendCAN(1, 92, nullptr, 0, 0);
    EXPECT_EQ(comm.receiveCAN(answer, sizeof answer, &length, 0), 0);
    ASSERT_EQ(length, 14);
    EXPECT_EQ(util::bytes2float(uint8_t(answer[7]), uint8_t(answer[6]), uint8_t(answer[9]), uint8_t(answer[8])), 0.5f);
    EXPECT_EQ(util::bytes2float(uint8_t(answer[11]), uint8_t(answer[10]), uint8_t(answer[13]), uint8_t(answer[12])),
              0.25f);

    // A piece with the wrong counter is reported and kept.
    ASSERT_TRUE(link.control("badcounter"));
    comm.sendCAN(1, 92, nullptr, 0, 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(comm.receiveCAN(answer, sizeof answer, &length, 0), 0);
    fflush(stdout);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("CAN message sequence error: Expected number: 2, found: 9"),
              std::string::npos);
    EXPECT_EQ(length, 14);

    // Nothing pending, then no reply at all.
    EXPECT_EQ(comm.receiveCAN(answer, sizeof answer, &length, 0), 0);
    EXPECT_EQ(length, 0);
    ASSERT_TRUE(link.control("silence"));
    EXPECT_EQ(comm.receiveCAN(answer, sizeof answer, &length, 0), 1);
    EXPECT_EQ(length, 0);
    ASSERT_TRUE(link.control("resume"));

    // An answer longer than the buffer is cut, and the polling stops there.
    comm.sendCAN(1, 84, nullptr, 0, 0);
    const size_t mark = link.sim.logSize();
    std::vector<char> small(8);
    EXPECT_EQ(comm.receiveCAN(small.data(), int(small.size()), &length, 0), 0);
    EXPECT_EQ(length, 7);
    EXPECT_EQ(small[7], 0);
    EXPECT_EQ(logged(link.sim, "frame 01 03", mark).size(), 3u);
}

TEST(CanLink, RequestAndAcknowledge) {
    RadarLink link;
    ASSERT_TRUE(link.opened);
    CommClass& comm = *link.comm;
    char answer[CAN_ANSWER_CAPACITY];
    int length = 0;
    EXPECT_EQ(comm.requestAnswer(84, nullptr, 0, answer, sizeof answer, &length, 0), 0);
    EXPECT_EQ(length, 432);
    const char twelve[2] = {2, 0};
    EXPECT_EQ(comm.commandAcknowledge(12, twelve, 2, 0), 0);
    ASSERT_TRUE(link.control("noack 12"));
    EXPECT_EQ(comm.commandAcknowledge(12, twelve, 2, 0), -1);
    ASSERT_TRUE(link.control("silence"));
    EXPECT_EQ(comm.requestAnswer(4, nullptr, 0, answer, sizeof answer, &length, 0), -2);
    ASSERT_TRUE(link.control("resume"));
    ASSERT_TRUE(link.control("nothing"));
    EXPECT_EQ(comm.requestAnswer(4, nullptr, 0, answer, sizeof answer, &length, 0), -1);
    EXPECT_EQ(length, 0);
}

TEST(CanLink, TheSetUpConversation) {
    std::string template06 = "-4+000+000-1999201D11D----WG22FN--------";
    auto second = [&](char code) {
        std::string s = template06;
        s[29] = code;
        return "can 6 " + hexOf(s);
    };
    struct Case {
        const char* name;
        bool art16;
        const char *sweepsize, *control, *init24, *init06;
        int result;
        std::vector<std::string> messages;
        std::string setConfig;  // the last frame, or "" when none went out
    } cases[] = {
        {"256 x 2", false, "256", "", "", "", 0,
         {"can 4", "can 84", "can 92", "can 12 02 00", "can 24 " + hexOf("09926010182085500100550" "32"), second('3')},
         frameText({0x01, 0x01, 0xFE, 0x01, 0x00, 0x04, 0x00, 0x00, 0x04, 0x00})},
        {"1024 x 2, version with '6'", true, "1024", "", "", "", 0,
         {"can 4", "can 84", "can 92", "can 12 02 00", "can 24 " + hexOf("09542010566085500100550" "16"), second('1')},
         frameText({0x01, 0x01, 0xFE, 0x01, 0x00, 0x04, 0x00, 0x00, 0x10, 0x00})},
        {"strings from the section", false, "512", "", "ABC", "XYZ", 0,
         {"can 4", "can 84", "can 92", "can 12 02 00", "can 24 41 42 43", "can 6 58 59 5A"},
         frameText({0x01, 0x01, 0xFE, 0x01, 0x00, 0x04, 0x00, 0x00, 0x08, 0x00})},
        {"command 12 not acknowledged", false, "256", "noack 12", "", "", 1,
         {"can 4", "can 84", "can 92", "can 12 02 00"}, ""},
        {"no first string for 128", false, "128", "", "", "", 1, {"can 4", "can 84", "can 92", "can 12 02 00"}, ""},
    };
    for (const Case& c : cases) {
        RadarSimOptions o;
        o.art16 = c.art16;
        o.pieceBytes = 64;
        RadarLink link(o, 0, c.sweepsize);
        ASSERT_TRUE(link.opened);
        if (*c.control != 0) {
            ASSERT_TRUE(link.control(c.control));
        }
        link.cf.setValue("radar0", "init24", std::string(c.init24));
        link.cf.setValue("radar0", "init06", std::string(c.init06));
        EXPECT_EQ(link.comm->configRadar(0), c.result) << c.name;
        EXPECT_EQ(logged(link.sim, "can "), c.messages) << c.name;
        const std::vector<std::string> frames = logged(link.sim, "frame ");
        const std::vector<std::string> setConfig = logged(link.sim, "frame 01 01 ");
        if (c.setConfig.empty()) {
            EXPECT_TRUE(setConfig.empty()) << c.name;
        } else {
            ASSERT_FALSE(frames.empty());
            EXPECT_EQ(frames.back(), c.setConfig) << c.name;
        }
    }
}

TEST(CanLink, AnswersInSmallPiecesAsACanBusCarriesThem) {
    RadarLink link;  // six data bytes a piece: the parameter block alone takes 73 polls
    ASSERT_TRUE(link.opened);
    EXPECT_EQ(link.comm->configRadar(0), 0);
    EXPECT_EQ(logged(link.sim, "can ").size(), 6u);
}

}  // namespace
