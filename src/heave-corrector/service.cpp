#include "service.h"

#include "configclient.h"
#include "corrector.h"
#include "publisherbind.h"
#include "zhelpers.h"

#include <zmq.hpp>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Longest message taken; a frame is cut there and read up to its first NUL.
constexpr size_t MESSAGE_MAX = 8192;

std::string receiveText(zmq::socket_t& socket, char* buffer)
{
    int n = zmq_recv(socket.handle(), buffer, MESSAGE_MAX, 0);
    if (n < 0)
        exit(3);
    size_t size = static_cast<size_t>(n) < MESSAGE_MAX ? static_cast<size_t>(n) : MESSAGE_MAX;
    return std::string(buffer, strnlen(buffer, size));
}

struct Settings {
    std::string heaveEndpoint, imuEndpoint, outputPort, timelag, height, angle;
};

Settings readSettings(const CorrectorOptions& o)
{
    ConfigClient config(o.confport, o.subport, 0, true);
    const std::string sections[] = {"imu", "radar", "vintor", o.name};
    config.requestSections(sections, 4);
    Settings s;
    s.heaveEndpoint = config.lookup(o.name, "subscribers", "heave");
    s.angle = config.lookup("radar", "mountingangle");
    s.height = config.lookup("radar", "mountingheight");
    s.imuEndpoint = config.lookup(o.name, "subscribers", "imu");
    s.outputPort = config.lookup(o.name, "publishers", "corrected-heave");
    s.timelag = config.lookup(o.name, "timelag", "value");
    s.angle = config.lookup("radar", "mountingangle");
    s.height = config.lookup("radar", "mountingheight");
    if (!o.quiet)
        printf("mounting height: %s\n", s.height.c_str());
    return s;
}

} // namespace

int runCorrector(const CorrectorOptions& o)
{
    const Settings s = readSettings(o);
    Mounting mounting;
    mounting.height = strtod(s.height.c_str(), nullptr);
    mounting.angle = strtod(s.angle.c_str(), nullptr);
    try {
        zmq::context_t context(1, 1023);
        zmq::socket_t radar(context, zmq::socket_type::sub);
        if (!connectSocket(radar, "tcp://" + s.heaveEndpoint, "heave subscriber"))
            return 1;
        radar.set(zmq::sockopt::subscribe, "");
        zmq::socket_t imu(context, zmq::socket_type::sub);
        if (!connectSocket(imu, "tcp://" + s.imuEndpoint, "imu subscriber"))
            return 1;
        imu.set(zmq::sockopt::subscribe, "");
        zmq::socket_t output(context, zmq::socket_type::pub);
        output.set(zmq::sockopt::ipv6, 1);
        if (!bindFeed(output, "tcp://*:" + s.outputPort, "corrected-heave", BindFailure::KeepGoing))
            return 1;
        zmq::socket_t notices(context, zmq::socket_type::sub);
        notices.connect(o.noticeEndpoint);
        notices.set(zmq::sockopt::subscribe, "vintor");
        notices.set(zmq::sockopt::subscribe, "radar");

        HeaveAligner aligner(s.timelag, o.quiet);
        static char buffer[MESSAGE_MAX];
        while (true) {
            char* notice = s_recv_nonblocking(notices.handle());
            if (notice != nullptr) {
                if (!o.quiet)
                    printf("Subscriber received:%s\n", notice);
                free(notice);
                notices.close();
                output.close();
                imu.close();
                radar.close();
                context.close();
                return 0;
            }
            // The notice socket is polled too, so a notice ends the program even
            // while both feeds are silent.
            zmq::pollitem_t items[] = {{imu.handle(), 0, ZMQ_POLLIN, 0},
                                       {radar.handle(), 0, ZMQ_POLLIN, 0},
                                       {notices.handle(), 0, ZMQ_POLLIN, 0}};
            if (zmq_poll(items, 3, -1) < 0) {
                if (errno == EINTR)
                    continue;
                return 3;
            }
            if (items[0].revents & ZMQ_POLLIN)
                aligner.addImu(receiveText(imu, buffer));
            if (items[1].revents & ZMQ_POLLIN) {
                std::string text = receiveText(radar, buffer);
                if (aligner.addRadar(text)) {
                    if (!o.quiet)
                        printf("%s\n", text.c_str());
                    s_send(output.handle(), text.c_str());
                }
            }
            interpolated_st sample;
            if (aligner.step(&sample)) {
                float corrected = correctHeave(sample, mounting, o.quiet);
                std::string line = formatCorrected(sample, corrected);
                if (!o.quiet)
                    printf("%s\n", line.c_str());
                s_send(output.handle(), line.c_str());
            }
        }
    } catch (const zmq::error_t& e) {
        printf("ZMQ error: %s\n", e.what());
        return 1;
    }
}
