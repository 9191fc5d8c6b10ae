#include "service.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <zmq.hpp>

#include "childtree.h"
#include "configclient.h"
#include "configrequest.h"
#include "gpio.h"
#include "zhelpers.h"

namespace button {

int parseButtonReply(const std::string& reply, ButtonConfig* config, std::string* message)
{
    Json::Value root;
    std::string errors;
    if (!ConfigClient::parseReply(reply, &root, &errors)) {
        *message = "Failed to parse JSON\r\n" + errors;
        return 3;
    }
    std::string gpio;
    char* end = nullptr;
    long number = -1;
    if (ConfigClient::find(root, {"button", "gpio"}, &gpio) && !gpio.empty()) {
        errno = 0;
        number = strtol(gpio.c_str(), &end, 10);
        if (errno != 0 || *end != '\0' || number > 100000)
            number = -1;
    }
    // Without a number the program would take GPIO 0, which may be an output of another device.
    if (number < 0) {
        *message = "No valid GPIO number in \"button\", \"gpio\": \"" + gpio + "\"";
        return 1;
    }
    config->gpio = int(number);
    ConfigClient::find(root, {"button", "short"}, &config->shortCommand);
    ConfigClient::find(root, {"button", "long-pressed"}, &config->longPressed);
    ConfigClient::find(root, {"button", "long-released"}, &config->longReleased);
    return 0;
}

bool parseLedReply(const std::string& reply, std::string* led)
{
    Json::Value root;
    std::string errors;
    if (!ConfigClient::parseReply(reply, &root, &errors))
        return false;
    if (!ConfigClient::find(root, {"status", "led"}, led))
        led->clear();
    return true;
}

std::string ledRequest(Led value, const std::string& saved)
{
    switch (value) {
    case Led::Zero:
        return "{\"setmem\":{\"status\": {\"led\":\"0\"}}}";
    case Led::MinusOne:
        return "{\"setmem\":{\"status\": {\"led\":\"-1\"}}}";
    default:
        // Written as JSON, so a saved text with quotes or backslashes stays one value.
        return "{\"setmem\":{\"status\": {\"led\":" + Json::valueToQuotedString(saved.c_str()) + "}}}";
    }
}

namespace {

class Service {
public:
    explicit Service(const Settings& s)
        : settings_(s), gpio_(s.gpioBase, s.directionWaitMs), context_(1, 1023),
          requests_(context_, s.requestEndpoint, untilAnswered()), notices_(context_, zmq::socket_type::sub)
    {
    }

    int run()
    {
        notices_.connect(settings_.noticeEndpoint);
        notices_.set(zmq::sockopt::subscribe, "button");

        startReply_ = exchange(BUTTON_REQUEST);
        if (!settings_.quiet)
            line("Received: " + startReply_);
        std::string message;
        int status = parseButtonReply(startReply_, &config_, &message);
        if (status != 0) {
            // An unparsable reply ends the program silently, as every device service does.
            if (status != 3)
                line(message);
            return status;
        }
        if (!settings_.quiet)
            line("\nStarting GPIO input program");
        if (!gpio_.exportPin(config_.gpio)) {
            line("Unable to export GPIO pin");
            return 1;
        }
        if (!gpio_.configureInput(config_.gpio)) {
            line("Unable to open direction handle");
            return 1;
        }
        for (;;) {
            status = poll();
            if (status >= 0)
                return status;
        }
    }

private:
    static void line(const std::string& text)
    {
        printf("%s\n", text.c_str());
        fflush(stdout);
    }

    std::string exchange(const std::string& request)
    {
        if (!settings_.quiet)
            line("Sending request " + request + "..");
        return exchangeOrEnd(requests_, request);
    }

    void runCommand(const char* title, const std::string& command)
    {
        if (!settings_.quiet) {
            printf("%s:\n%s\n", title, command.c_str());
            fflush(stdout);
        }
        // The configured commands are shell commands by design; they end with
        // the handler.
        if (!command.empty() && childtree::system(command.c_str()) == -1)
            perror("system");
    }

    // One poll; -1 to go on, else the exit status.
    int poll()
    {
        const int level = gpio_.readValue(config_.gpio);
        if (level < 0) {
            line("Unable to open value handle");
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(settings_.pollMs));
        const Step step = machine_.poll(level == '1');
        if (step.fetchLed) {
            if (!parseLedReply(exchange(LED_REQUEST), &savedLed_))
                return 3;
            line("Pressed");
            line("Original LED status: " + savedLed_);
        }
        if (step.runLongPressed)
            runCommand("LongPress Pressed", config_.longPressed);
        if (step.runShort)
            runCommand("ShortPress", config_.shortCommand);
        if (step.runLongReleased)
            runCommand("LongPress Released", config_.longReleased);
        if (step.released && !settings_.quiet) {
            line("pressCounter: " + std::to_string(step.releasedAfter));
            line("Original Led status" + savedLed_);
        }
        if (step.request != Led::None) {
            if (!settings_.quiet)
                line("pressCounter: " + std::to_string(machine_.count()));
            exchange(ledRequest(step.request, savedLed_));
        }
        return notice();
    }

    int notice()
    {
        char* raw = s_recv_nonblocking(notices_.handle());
        if (raw == nullptr)
            return -1;
        const std::string text(raw);
        free(raw);
        if (!settings_.quiet)
            line("Subscriber received:" + text);
        if (text.compare(0, 6, "button") != 0)
            return -1;
        const std::string reply = exchange(BUTTON_REQUEST);
        if (!settings_.quiet) {
            line("Compare: " + reply);
            line("versus  : " + startReply_);
        }
        if (reply == startReply_) {
            if (!settings_.quiet)
                line("Same do nothing ");
            return -1;
        }
        if (!settings_.quiet)
            line("Different stop program ");
        if (!gpio_.unexportPin(config_.gpio)) {
            line("Unable to unexport GPIO pin");
            return 1;
        }
        return 0;
    }

    Settings settings_;
    SysfsGpio gpio_;
    zmq::context_t context_;
    ConfigRequest requests_;
    zmq::socket_t notices_;
    ButtonConfig config_;
    std::string startReply_;
    std::string savedLed_;
    PressMachine machine_;
};

} // namespace

namespace {

// A stop by the service manager is a normal end; a running command ends with
// the handler through its tie to it.
void endOnTerm(int)
{
    _exit(0);
}

} // namespace

int runButtonHandler(const Settings& settings)
{
    signal(SIGTERM, endOnTerm);
    Service service(settings);
    return service.run();
}

} // namespace button
