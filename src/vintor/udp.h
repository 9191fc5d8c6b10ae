// UDP command listener: one text command per datagram. It answers "set",
// "get" and "writeconfig" itself, raises a radar's start trigger on "start;",
// files data subscription requests in ring "subscriptiontasks" and hands every
// other command to the supervisor through ring "tasks".
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <memory>
#include <string>

#include "defaults.h"
#include "records.h"

class ConfigFile;
class SharedMem;

// The receive buffer: a spectrum record plus 100; its last byte stays a terminator.
constexpr size_t UDP_BUFFER_SIZE = 17348;

// What one datagram asks for. Set and get are already applied to the
// configuration copy; the rest is for the listener to carry out.
struct UdpCommand {
    std::string id;            // "id=" tag ";" when the datagram had the prefix, else empty
    std::string reply;         // text behind the prefix; empty: no reply
    std::string task;          // for ring "tasks"; empty: none
    std::string subscription;  // for ring "subscriptiontasks"; empty: none
    bool writeConfig = false;  // save the configuration at the service; reply as saved
    int triggerRadar = -1;     // 0..2: toggle that radar's start trigger
    std::string triggerTime;   // the time text handed over with the trigger
};

// Lower-cases the text (up to its first NUL, at most `length` bytes) and reads
// the command in it; "set" changes `cf`, "get" reads it, each under the key's
// stored spelling whatever its case. Any input is safe.
UdpCommand handleDatagram(const char* text, size_t length, ConfigFile* cf, const std::string& senderAddr,
                          int senderPort, int debug = 0);

// Toggles the start trigger of the radar whose shared block is `block`: when the
// semaphore is 0 or below, stores the time text and the local clock and adds 1;
// when a trigger is still pending, cancels it. Nothing happens for a radar that
// is not running (block not mapped, or no semaphore stored). A failed post ends
// the process (perror "semop radar+1", status 1).
void toggleTrigger(sharedmemRadar_st* block, int radar, const std::string& time, int debug);

class UDP {
public:
    int sock = -1;              // socket of send(); -1 when none is open
    ConfigFile* cf = nullptr;
    sockaddr_in sock_receive;   // stored only; listen() binds its own address
    sockaddr_in sock_send;      // destination of send()
    int listen_pid = 0;         // child of startListen()
    int debug = 0;
    // Key of the configuration reload semaphore; tests give a private one.
    int reloadKey = KEYRELOADCONFIGSUBSCRIPTIONS;

    UDP();
    explicit UDP(ConfigFile* pcf);
    ~UDP();
    UDP(const UDP&) = delete;
    UDP& operator=(const UDP&) = delete;

    int setSendParameters(std::string ipnumber, int portnumber);
    int setReceiveParameters(std::string ipnumber, int portnumber);
    // 0 all sent, 1 empty text, 2 not all sent, 3 no socket.
    int send(std::string S);
    int open();
    int closeSocket();
    int received(std::string S);
    [[noreturn]] void die(const char* mess);
    int startListen();
    // Binds "vintor"/"portnumber" and serves datagrams; never returns.
    [[noreturn]] void listen();

    // Carries out one received datagram: the writes, the trigger, the rings
    // and the reply to the sender.
    void serve(const char* text, size_t length, const sockaddr_in& sender);

private:
    std::unique_ptr<SharedMem> storage_;
    int reloadSem_ = -1;
};
