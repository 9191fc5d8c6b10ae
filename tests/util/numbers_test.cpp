#include "numbers.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

TEST(Numbers, WholeNumbersPortsAndIntsAreTakenOnlyWhenTheWholeTextIsOneInRange)
{
    struct { const char* text; bool asLong; bool asInt; bool asPort; long value; } cases[] = {
        {"5010", true, true, true, 5010},
        {"0", true, true, false, 0},
        {"65536", true, true, false, 65536},
        {"-3", false, true, false, -3}, // below the long range's 0 here, an int all the same
        {"", false, false, false, 0},
        {"12ab", false, false, false, 0},
        {"abc", false, false, false, 0},
        {" 7", true, true, false, 7}, // leading blanks, as strtol reads them; a port is digits only
        {"99999999999999999999", false, false, false, 0},
    };
    for (const auto& c : cases) {
        long l = -1;
        EXPECT_EQ(parseWholeNumber(c.text, 0L, LONG_MAX, &l), c.asLong) << c.text;
        int i = -1;
        EXPECT_EQ(parseWholeNumber(c.text, &i), c.asInt) << c.text;
        if (c.asInt)
            EXPECT_EQ(i, c.value) << c.text;
        int port = -1;
        EXPECT_EQ(parsePortNumber(c.text, &port), c.asPort) << c.text;
    }
    int bounded = -1;
    EXPECT_FALSE(parseWholeNumber("-1", &bounded, 0)) << "the int form keeps its lower bound";
    EXPECT_EQ(bounded, -1) << "a refused text leaves the value";
}
