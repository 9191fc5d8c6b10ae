#include "publisherbind.h"

#include <cstdio>
#include <cstdlib>

std::string feedAddress(int port) { return "tcp://*:" + std::to_string(port); }

bool tryBind(zmq::socket_t& socket, const std::string& address, std::string* reason)
{
    try {
        socket.bind(address);
        return true;
    } catch (const zmq::error_t& e) {
        *reason = e.what();
        return false;
    }
}

bool bindSocket(zmq::socket_t& socket, const std::string& address, const std::string& what)
{
    std::string reason;
    if (tryBind(socket, address, &reason))
        return true;
    std::fprintf(stderr, "%s %s: %s\n", what.c_str(), address.c_str(), reason.c_str());
    std::fflush(stderr);
    return false;
}

bool bindFeed(zmq::socket_t& publisher, const std::string& address, const char* label, BindFailure onFailure)
{
    if (bindSocket(publisher, address, std::string(label) + " publisher"))
        return true;
    if (onFailure == BindFailure::EndStage) std::exit(1);
    return false;
}
