// feed-print [-n count] name=endpoint ...: subscribes to text feeds and prints
// every line as "name: text" (up to the frame's first NUL) until count lines
// have been printed, or until SIGINT or SIGTERM.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <zmq.hpp>

namespace {

volatile sig_atomic_t stopRequested = 0;

void onSignal(int) { stopRequested = 1; }

[[noreturn]] void usage() {
    std::fprintf(stderr, "usage: feed-print [-n count] name=tcp://host:port ...\n");
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    long count = 0;  // 0: until stopped
    std::vector<std::string> names, endpoints;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-n") == 0 && i + 1 < argc) {
            char* end = nullptr;
            count = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || count < 0) usage();
            continue;
        }
        const char* eq = std::strchr(argv[i], '=');
        if (eq == nullptr || eq == argv[i]) usage();
        names.emplace_back(argv[i], eq - argv[i]);
        endpoints.emplace_back(eq + 1);
    }
    if (names.empty()) usage();
    signal(SIGINT, onSignal);
    signal(SIGTERM, onSignal);

    zmq::context_t context(1);
    std::vector<zmq::socket_t> sockets;
    std::vector<zmq::pollitem_t> items;
    try {
        for (const std::string& e : endpoints) {
            sockets.emplace_back(context, zmq::socket_type::sub);
            sockets.back().set(zmq::sockopt::subscribe, "");
            sockets.back().set(zmq::sockopt::linger, 0);
            sockets.back().connect(e);
        }
    } catch (const zmq::error_t& e) {
        std::fprintf(stderr, "feed-print: %s\n", e.what());
        return 1;
    }
    for (zmq::socket_t& s : sockets) items.push_back({s.handle(), 0, ZMQ_POLLIN, 0});

    long printed = 0;
    while (!stopRequested && (count == 0 || printed < count)) {
        if (zmq_poll(items.data(), static_cast<int>(items.size()), 200) < 0) continue;  // EINTR: look at the flag
        for (std::size_t k = 0; k < items.size() && (count == 0 || printed < count); ++k) {
            if (!(items[k].revents & ZMQ_POLLIN)) continue;
            zmq::message_t m;
            if (!sockets[k].recv(m, zmq::recv_flags::dontwait)) continue;
            const char* text = static_cast<const char*>(m.data());
            std::printf("%s: %.*s\n", names[k].c_str(), static_cast<int>(strnlen(text, m.size())), text);
            std::fflush(stdout);
            ++printed;
        }
    }
    return 0;
}
