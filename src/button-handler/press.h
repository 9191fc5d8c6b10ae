// The push button's press logic, one step per poll of the button.
#pragma once

namespace button {

// The LED values the service writes into "status" -> "led".
enum class Led { None, Zero, MinusOne, Restore };

// What one poll asks the service to do, in this order: fetch and keep the LED
// value, run the commands, send the LED request.
struct Step {
    bool fetchLed = false;
    bool runLongPressed = false;
    bool runShort = false;
    bool runLongReleased = false;
    bool released = false;
    int releasedAfter = 0; // pressed polls counted when released
    Led request = Led::None;
};

class PressMachine {
public:
    static constexpr int COUNT_LIMIT = 255;

    // One poll: pressed is the button's level. The LED request returned is
    // taken as sent.
    Step poll(bool pressed);
    int count() const { return count_; }

private:
    int count_ = 0;
    Led lastSent_ = Led::Zero;
};

} // namespace button
