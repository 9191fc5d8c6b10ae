// gpio-expander: sets, toggles and reads the pins of the I2C GPIO expander.
#include "expander.h"

int main(int argc, char** argv)
{
    I2cDevBus bus;
    return expander::run(argc, argv, bus);
}
