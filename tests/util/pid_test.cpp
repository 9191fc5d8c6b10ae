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
    // Hand-computed with dt 1: integral grows without limit while clamped.
    PID pid(1.0, 10.0, -10.0, 0.5, 0.01, 0.01);
    double integral = 0.0, pre = 0.0;
    struct { double sp, pv; } steps[] = {{5, 0}, {30, 0}, {30, 0}, {0, 0}, {-100, 0}, {0, 50}, {0, 0}};
    for (auto& s : steps) {
        double e = s.sp - s.pv;
        integral += e;
        double out = (0.01 * integral + 0.5 * e) + 0.01 * (e - pre);
        out = out > 10.0 ? 10.0 : (out < -10.0 ? -10.0 : out);
        pre = e;
        EXPECT_EQ(pid.calculate(s.sp, s.pv), out) << s.sp << " " << s.pv;
    }
    // The integral kept what it gathered while the output sat at the bound.
    PID fresh(1.0, 10.0, -10.0, 0.5, 0.01, 0.01);
    EXPECT_EQ(fresh.calculate(0, 0), 0.0);
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
