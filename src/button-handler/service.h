// button-handler: runs the configured commands for short and long presses of
// the push button and drives the status LED value while it is held.
#pragma once

#include <string>

#include "press.h"

namespace button {

struct Settings {
    bool quiet = false;
    std::string requestEndpoint = "tcp://localhost:5010";
    std::string noticeEndpoint = "tcp://localhost:5011";
    std::string gpioBase = "/sys/class/gpio";
    int pollMs = 100;
    int directionWaitMs = 1000;
};

const char* const BUTTON_REQUEST =
    "{\"get\":{\"button\":{\"gpio\":\"\",\"short\":\"\",\"long-pressed\":\"\",\"long-released\":\"\"}}}";
const char* const LED_REQUEST = "{\"getmem\":{\"status\":{\"led\":\"\"}}}";

// The section "button".
struct ButtonConfig {
    int gpio = -1;
    std::string shortCommand, longPressed, longReleased;
};
// 0, or the exit status with *message set: 3 when the reply does not parse,
// 1 when "gpio" is missing or not a GPIO number.
int parseButtonReply(const std::string& reply, ButtonConfig* config, std::string* message);
// The saved LED text of a "status" reply; false when the reply does not parse.
bool parseLedReply(const std::string& reply, std::string* led);
// The setmem request for an LED value; the restore carries the saved text.
std::string ledRequest(Led value, const std::string& saved);

// The whole service; returns its exit status.
int runButtonHandler(const Settings& settings);

} // namespace button
