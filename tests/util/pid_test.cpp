#include "pid.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(PID, AcquisitionGainsWorkedExample)
{
    PID pid(1.0, 100.0, -100.0, 0.45, 0.02, 0.01);
    EXPECT_DOUBLE_EQ(pid.calculate(10.0, 0.0), 4.8);
    EXPECT_DOUBLE_EQ(pid.calculate(10.0, 0.0), 4.7);
}

TEST(PID, BoardGainsSequenceWithClampingAndWindUp)
{
    // Worked by hand, dt 1: the integral keeps growing while the output is clamped,
    // so after the clamped steps the output is carried by the wound-up integral.
    PID pid(1.0, 10.0, -10.0, 0.5, 0.01, 0.01);
    struct { double sp, pv, out; } steps[] = {
        {5, 0, 2.6},      // e 5,    I 5,   d 5
        {30, 0, 10.0},    // e 30,   I 35,  d 25:   15.6 clamped
        {30, 0, 10.0},    // e 30,   I 65,  d 0:    15.65 clamped
        {0, 0, 0.35},     // e 0,    I 65,  d -30
        {-100, 0, -10.0}, // e -100, I -35, d -100: -51.35 clamped
        {0, 50, -10.0},   // e -50,  I -85, d 50:   -25.35 clamped
        {0, 0, -0.35},    // e 0,    I -85, d 50
    };
    for (auto& s : steps)
        EXPECT_DOUBLE_EQ(pid.calculate(s.sp, s.pv), s.out) << s.sp << " " << s.pv;
}

TEST(PID, BoundsAreStrictAndNaNPropagates)
{
    // Kp only: output equals the error.
    struct { double sp; double out; } cases[] = {{2.0, 2.0}, {2.5, 2.0}, {-3.0, -3.0}, {-3.5, -3.0}};
    for (auto& c : cases) {
        PID pid(1.0, 2.0, -3.0, 1.0, 0.0, 0.0);
        EXPECT_EQ(pid.calculate(c.sp, 0.0), c.out) << c.sp;
    }
    PID pid(1.0, 2.0, -3.0, 1.0, 0.0, 0.5);
    EXPECT_TRUE(std::isnan(pid.calculate(NAN, 0.0)));
    EXPECT_TRUE(std::isnan(pid.calculate(0.0, 0.0))) << "the integral stays NaN";
}

TEST(PID, CopiesCarryStateAndRunIndependently)
{
    PID a(0.5, 100.0, -100.0, 0.45, 0.02, 0.01);
    a.calculate(3.0, 1.0);
    a.calculate(4.0, 1.0);
    PID b(a);
    PID c(1.0, 1.0, -1.0, 0, 0, 0);
    c = a;
    double ra = a.calculate(1.0, 2.0);
    EXPECT_EQ(b.calculate(1.0, 2.0), ra);
    EXPECT_EQ(c.calculate(1.0, 2.0), ra);
    // Advancing one leaves the others where they were.
    double rb = b.calculate(7.0, 0.0);
    EXPECT_EQ(a.calculate(7.0, 0.0), rb);

    PID s(1.0, 100.0, -100.0, 0.45, 0.02, 0.01);
    s.calculate(10.0, 0.0);
    PID& alias = s;
    s = alias;
    EXPECT_DOUBLE_EQ(s.calculate(10.0, 0.0), 4.7);
}

TEST(PID, SumsIntegralAndProportionalTermsFirst)
{
    // The derivative term is added last. Find inputs where grouping it first
    // rounds differently, and check the controller's result to the last bit.
    const double Kp = 0.45, Kd = 0.02, Ki = 0.01;
    int found = 0;
    for (int i = 1; i < 2000 && found < 5; i++) {
        double e = 0.1 * i + 0.013;
        double ordered = (Ki * e + Kp * e) + Kd * e;
        double other = Kp * e + (Ki * e + Kd * e);
        if (ordered == other)
            continue;
        found++;
        PID pid(1.0, 1e9, -1e9, Kp, Kd, Ki);
        EXPECT_EQ(pid.calculate(e, 0.0), ordered) << "error " << e;
    }
    EXPECT_GT(found, 0);
}
