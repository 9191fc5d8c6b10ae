#include "press.h"

namespace button {

Step PressMachine::poll(bool pressed)
{
    Step s;
    if (pressed) {
        if (count_ == 0) {
            s.fetchLed = true;
            s.request = Led::Zero;
        }
        // Held past about 2 s: the LED shows that a long press is coming.
        if (count_ >= 21 && count_ <= 99 && lastSent_ != Led::MinusOne)
            s.request = Led::MinusOne;
        count_++;
        if (count_ > 100) {
            if (lastSent_ != Led::Zero)
                s.request = Led::Zero;
            s.runLongPressed = true;
        }
    } else if (count_ > 0) {
        s.released = true;
        s.releasedAfter = count_;
        if (count_ >= 6 && count_ <= 19)
            s.runShort = true;
        else if (count_ >= 101)
            s.runLongReleased = true;
        else
            s.request = Led::Restore; // no command ran: the LED gets its value back
        count_ = 0;
    }
    if (s.request != Led::None)
        lastSent_ = s.request;
    if (count_ > COUNT_LIMIT)
        count_ = COUNT_LIMIT;
    return s;
}

} // namespace button
