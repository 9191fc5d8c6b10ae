#include "pid.h"

class PIDImpl {
public:
    PIDImpl(double dt, double max, double min, double Kp, double Kd, double Ki)
        : _dt(dt), _max(max), _min(min), _Kp(Kp), _Kd(Kd), _Ki(Ki), _pre_error(0.0), _integral(0.0)
    {
    }
    ~PIDImpl() {}

    double calculate(double setpoint, double pv)
    {
        double error = setpoint - pv;
        _integral += error * _dt;
        double derivative = (error - _pre_error) / _dt;
        // The summation order is fixed so every build rounds alike.
        double output = (_Ki * _integral + _Kp * error) + _Kd * derivative;
        if (output > _max)
            output = _max;
        else if (output < _min)
            output = _min;
        _pre_error = error;
        return output;
    }

private:
    double _dt;
    double _max;
    double _min;
    double _Kp;
    double _Kd;
    double _Ki;
    double _pre_error;
    double _integral;
};

PID::PID(double dt, double max, double min, double Kp, double Kd, double Ki)
    : pimpl(new PIDImpl(dt, max, min, Kp, Kd, Ki))
{
}

PID::PID(const PID& other) : pimpl(new PIDImpl(*other.pimpl)) {}

PID& PID::operator=(const PID& other)
{
    if (this == &other)
        return *this;
    PIDImpl* copy = new PIDImpl(*other.pimpl);
    delete pimpl;
    pimpl = copy;
    return *this;
}

PID::~PID()
{
    delete pimpl;
}

double PID::calculate(double setpoint, double pv)
{
    return pimpl->calculate(setpoint, pv);
}
