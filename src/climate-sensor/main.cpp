// climate-sensor: publishes the temperature and humidity of the I2C sensor.
#include "climate.h"

int main(int argc, char** argv)
{
    I2cDevBus bus;
    return climate::run(argc, argv, bus);
}
