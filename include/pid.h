// Discrete PID controller with a bounded output and an unbounded integral.
#pragma once

class PIDImpl;

class PID {
public:
    // Gains in the order proportional, derivative, integral.
    PID(double dt, double max, double min, double Kp, double Kd, double Ki);
    PID(const PID& other);
    PID& operator=(const PID& other);
    ~PID();

    // One control step: returns the correction for the error setpoint - pv.
    double calculate(double setpoint, double pv);

private:
    PIDImpl* pimpl;
};
