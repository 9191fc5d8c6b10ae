#include "publisherbind.h"

#include "numbers.h"

#include <cstdio>
#include <cstdlib>

std::string feedAddress(int port) { return "tcp://*:" + std::to_string(port); }

std::string feedAddress(const std::string& portText)
{
    int port = 0;
    return parsePortNumber(portText.c_str(), &port) ? feedAddress(port) : "tcp://*:" + portText;
}

const char* const NOT_A_PORT = "not a port number (1-65535)";

bool hasPortNumber(const std::string& address)
{
    static const std::string tcp = "tcp://";
    static const std::string everyAddress = "tcp://*:";
    if (address.compare(0, tcp.size(), tcp) != 0)
        return true;
    // "*" holds no ':', so all that follows it is the port text ("1:5097" too).
    const size_t colon =
        address.compare(0, everyAddress.size(), everyAddress) == 0 ? everyAddress.size() - 1 : address.rfind(':');
    if (colon < tcp.size())
        return true;
    int port = 0;
    return parsePortNumber(address.c_str() + colon + 1, &port);
}

namespace {

// Binds or connects; false with the reason when the port is none or the library refuses.
template <typename Call>
bool tryOpen(const std::string& address, std::string* reason, Call call)
{
    if (!hasPortNumber(address)) {
        *reason = NOT_A_PORT;
        return false;
    }
    try {
        call();
        return true;
    } catch (const zmq::error_t& e) {
        *reason = e.what();
        return false;
    }
}

bool report(bool opened, const std::string& address, const std::string& what, const std::string& reason)
{
    if (opened)
        return true;
    std::fprintf(stderr, "%s %s: %s\n", what.c_str(), address.c_str(), reason.c_str());
    std::fflush(stderr);
    return false;
}

} // namespace

bool tryBind(zmq::socket_t& socket, const std::string& address, std::string* reason)
{
    return tryOpen(address, reason, [&] { socket.bind(address); });
}

bool bindSocket(zmq::socket_t& socket, const std::string& address, const std::string& what)
{
    std::string reason;
    return report(tryBind(socket, address, &reason), address, what, reason);
}

bool tryConnect(zmq::socket_t& socket, const std::string& address, std::string* reason)
{
    return tryOpen(address, reason, [&] { socket.connect(address); });
}

bool connectSocket(zmq::socket_t& socket, const std::string& address, const std::string& what)
{
    std::string reason;
    return report(tryConnect(socket, address, &reason), address, what, reason);
}

bool bindFeed(zmq::socket_t& publisher, const std::string& address, const char* label, BindFailure onFailure)
{
    if (bindSocket(publisher, address, std::string(label) + " publisher"))
        return true;
    if (onFailure == BindFailure::EndStage) std::exit(1);
    return false;
}
