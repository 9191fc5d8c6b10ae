#include "udp.h"

#include <arpa/inet.h>
#include <strings.h>
#include <sys/sem.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "children.h"
#include "configfile.h"
#include "feedbind.h"
#include "misc.h"
#include "sharedmem.h"
#include "timer.h"

namespace {

bool startsWith(const std::string& s, const char* word) { return s.compare(0, strlen(word), word) == 0; }

std::string cut(std::string s) {
    if (s.size() > static_cast<size_t>(LOG_LINE_WIDTH)) s.resize(LOG_LINE_WIDTH);
    return s;
}

// Subscription kind of a "get" argument: the first of these words found anywhere in it.
int getKind(const std::string& argument) {
    static const struct {
        const char* word;
        int kind;
    } kinds[] = {{"heave", 0}, {"fft", 1}, {"raw", 2}, {"vintor", 1010}, {"diag", 2010}, {"version", 9999}};
    for (const auto& k : kinds)
        if (argument.find(k.word) != std::string::npos) return k.kind;
    return -1;
}

int radarNumber(const std::string& name) {
    if (name == "radar0") return 0;
    if (name == "radar1") return 1;
    if (name == "radar2") return 2;
    return -1;
}

sharedmemRadar_st* radarBlock(int radar) {
    sharedmemRadar_st* blocks[3] = {sharedmemRadar0, sharedmemRadar1, sharedmemRadar2};
    return radar >= 0 && radar < 3 ? blocks[radar] : nullptr;
}

// The spelling under which `section` holds `key`, the datagram's key being
// lower-cased: the key as it is, else the first stored one that differs from
// it only in case, else the key as it is (a new key).
std::string storedKey(const ConfigFile& cf, const std::string& section, const std::string& key) {
    const std::string prefix = section + "/";
    if (cf.content_.count(prefix + key) != 0) return key;
    for (auto it = cf.content_.lower_bound(prefix);
         it != cf.content_.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it)
        if (strcasecmp(it->first.c_str() + prefix.size(), key.c_str()) == 0) return it->first.substr(prefix.size());
    return key;
}

sockaddr_in ipv4(const std::string& ipnumber, int portnumber) {
    sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = inet_addr(ipnumber.c_str());
    a.sin_port = htons(static_cast<uint16_t>(portnumber));
    return a;
}

}  // namespace

// Each check looks at S as the checks before it left it, so "start;" may be
// followed by another command in the same datagram.
UdpCommand handleDatagram(const char* text, size_t length, ConfigFile* cf, const std::string& senderAddr,
                          int senderPort, int debug) {
    UdpCommand c;
    std::string S(text, strnlen(text, length));
    for (char& ch : S) ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
    if (startsWith(S, "id=")) {
        size_t semi = S.find(';');
        if (semi == std::string::npos) return c;  // a prefix without a command
        c.id = S.substr(0, semi + 1);
        S.erase(0, semi + 1);
    }
    const std::string command = S;
    bool handled = false;

    if (startsWith(S, "writeconfig")) {
        c.writeConfig = true;
        c.reply = "Config written";
        handled = true;
    }
    if (startsWith(S, "start;")) {
        S.erase(0, 6);
        size_t p1 = S.find(';');
        size_t p2 = p1 == std::string::npos ? std::string::npos : S.find(';', p1 + 1);
        // Without both separators no radar is named.
        if (p2 != std::string::npos) {
            std::string T = S.substr(0, p1);
            std::string U = S.substr(p1 + 1, p2 - p1 - 1);
            if (debug > 6)
                printf("\nS=%s i=%d pos=%d T=%s U=%s ", S.c_str(), static_cast<int>(p2), static_cast<int>(p1),
                       T.c_str(), U.c_str());
            c.triggerRadar = radarNumber(U);
            if (c.triggerRadar >= 0) c.triggerTime = T;
        }
        handled = true;
    }
    if (startsWith(S, "set ")) {
        S.erase(0, 4);
        size_t b = S.find(' ');
        size_t e = S.find('=');
        // Section and key must both be there, the blank before the "=".
        if (e == std::string::npos || b == std::string::npos || b == 0 || b + 1 >= e) {
            c.reply = "Invalid set";
        } else {
            std::string section = S.substr(0, b), key = S.substr(b + 1, e - b - 1), value = S.substr(e + 1);
            if (debug != 0) printf("\ncf->setValue(%s,%s,%s)", section.c_str(), key.c_str(), value.c_str());
            cf->setValue(section, storedKey(*cf, section, key), value);
            c.reply = "set";
        }
        handled = true;
    }
    if (startsWith(S, "get ")) {
        std::string argument = S.substr(4);
        int kind = getKind(argument);
        size_t b = argument.find(' ');
        if (kind == 9999) {
            c.reply = "Version_buildnummer=1.1";
        } else if (kind == -1 && b == std::string::npos) {
            c.reply = "Error unknown section: " + argument;
        } else if (kind == -1) {
            std::string section = argument.substr(0, b), key = argument.substr(b + 1);
            if (cf->SectionExists(section)) {
                std::string value;
                cf->Value(section, storedKey(*cf, section, key), &value);
                c.reply = key + "=" + value;
            } else {
                c.reply = "Error unknown parameter: " + section + " " + key;
            }
        }
        if (c.reply.empty()) {
            std::string rest = b == std::string::npos ? std::string() : argument.substr(b + 1);
            c.subscription = cut("start ip=" + senderAddr + ";port=" + std::to_string(senderPort) +
                                 ";kindof=" + std::to_string(kind) + ";param=" + rest + ";" + c.id);
            return c;
        }
        handled = true;
    }
    if (!handled && !command.empty()) c.task = cut(command);
    return c;
}

void toggleTrigger(sharedmemRadar_st* block, int radar, const std::string& time, int debug) {
    if (block == nullptr || block->semafore == 0) return;
    const int semid = block->semafore;
    int value = getSemaphoreValue(semid);
    if (value <= 0) {
        if (debug != 0) printf("Posting for radar%d sem_radar=%d\n", radar, value);
        size_t n = time.size() < sizeof block->timestring - 1 ? time.size() : sizeof block->timestring - 1;
        memcpy(block->timestring, time.data(), n);
        block->timestring[n] = '\0';
        block->localtime = getTime();
        struct sembuf op;
        op.sem_num = 0;
        op.sem_op = 1;
        op.sem_flg = 0;
        while (semop(semid, &op, 1) != 0) {
            if (errno == EINTR) continue;
            perror("semop radar+1");
            exit(1);
        }
        if (debug != 0) printf("Posting for radar%d sem_radar=%d\n", radar, getSemaphoreValue(semid));
    } else {
        setSemaphore(semid, 0);
        if (debug != 0) printf("SETVAL for radar%d sem_radar=%d\n", radar, getSemaphoreValue(semid));
    }
}

UDP::UDP() {
    memset(&sock_receive, 0, sizeof sock_receive);
    memset(&sock_send, 0, sizeof sock_send);
    sock_receive.sin_family = AF_INET;
    sock_send.sin_family = AF_INET;
}

UDP::UDP(ConfigFile* pcf) : UDP() {
    cf = pcf;
    debug = cf->ValueInt("vintor", "debugudp");
}

UDP::~UDP() {
    closeSocket();
    if (listen_pid != 0) {
        waitpid(-1, nullptr, WNOHANG);
        listen_pid = 0;
    }
}

int UDP::setSendParameters(std::string ipnumber, int portnumber) {
    sock_send = ipv4(ipnumber, portnumber);
    return 0;
}

int UDP::setReceiveParameters(std::string ipnumber, int portnumber) {
    sock_receive = ipv4(ipnumber, portnumber);
    return 0;
}

int UDP::send(std::string S) {
    if (sock < 0 && open() != 0) return 3;
    if (S.empty()) return 1;
    ssize_t n = sendto(sock, S.data(), S.size(), 0, reinterpret_cast<sockaddr*>(&sock_send), sizeof sock_send);
    return n == static_cast<ssize_t>(S.size()) ? 0 : 2;
}

int UDP::open() {
    sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    return sock < 0 ? 1 : 0;
}

int UDP::closeSocket() {
    if (sock >= 0) close(sock);
    sock = -1;
    return 0;
}

int UDP::received(std::string) { return 0; }

void UDP::die(const char* mess) {
    perror(mess);
    exit(1);
}

int UDP::startListen() {
    fflush(stdout);
    pid_t pid = childtree::forkTied(kEndWithParent);
    if (pid < 0) util::error("ERROR on fork");
    if (pid == 0) {
        printf("\nStarting udp listner");
        listen();
    }
    listen_pid = pid;
    printf("\nUDP listner pid=%d", static_cast<int>(pid));
    return 0;
}

void UDP::listen() {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) util::error("socket");
    sockaddr_in address = ipv4("0.0.0.0", listenerPort("UDP command listener", cf->ValueInt("vintor", "portnumber")));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0)
        listenerBindFailed("UDP command listener", address, "bind");
    storage_.reset(new SharedMem(cf));
    reloadSem_ = getSemaphore(reloadKey);

    static char buffer[UDP_BUFFER_SIZE];
    for (;;) {
        memset(buffer, 0, sizeof buffer);
        sockaddr_in sender;
        socklen_t senderLength = sizeof sender;
        memset(&sender, 0, sizeof sender);
        ssize_t n = recvfrom(fd, buffer, sizeof buffer - 1, 0, reinterpret_cast<sockaddr*>(&sender), &senderLength);
        if (n < 0) {
            if (errno == EINTR) continue;
            die("recvfrom()");
        }
        if (n == 0) continue;
        serve(buffer, static_cast<size_t>(n), sender);
    }
}

void UDP::serve(const char* text, size_t length, const sockaddr_in& sender) {
    const std::string address = inet_ntoa(sender.sin_addr);
    const int port = ntohs(sender.sin_port);
    UdpCommand c = handleDatagram(text, length, cf, address, port, debug);

    if (c.writeConfig) {
        if (cf->writeConfig() == 0) {
            // The telnet service re-reads the configuration at its next connection.
            setSemaphore(reloadSem_, 1);
        } else {
            c.reply = "Config not written";
        }
    }
    if (c.triggerRadar >= 0) toggleTrigger(radarBlock(c.triggerRadar), c.triggerRadar, c.triggerTime, debug);
    if (!c.subscription.empty())
        storage_->add("subscriptiontasks", const_cast<char*>(c.subscription.data()),
                      static_cast<unsigned>(c.subscription.size()));
    if (!c.reply.empty()) {
        UDP out;
        out.setSendParameters(address, port);
        out.send(c.id + c.reply);
        if (debug != 0) printf("\nudpOut: %s%s", c.id.c_str(), c.reply.c_str());
    }
    if (!c.task.empty())
        storage_->add("tasks", const_cast<char*>(c.task.data()), static_cast<unsigned>(c.task.size()));
    if (debug > 1)
        printf("\nUDP in: %s:%d:%s %d %d\n", address.c_str(), port, std::string(text, strnlen(text, length)).c_str(),
               static_cast<int>(length), static_cast<int>(strnlen(text, length)));
    if (debug != 0) fflush(stdout);
}
