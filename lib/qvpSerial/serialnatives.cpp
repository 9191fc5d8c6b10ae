// Port natives of Quorvel.SerialPortLocal. A slot index out of range behaves
// like a free slot: system calls on it fail with -1.
#include <sys/ioctl.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <unistd.h>

#include "Quorvel_SerialPortLocal.h"
#include "cardpower.h"
#include "jnisupport.h"
#include "serialport.h"

using namespace qvpserial;

namespace {

PortTable ports;
std::once_flag banner;

jint modemLine(jint sPort, int line)
{
    int bits = 0;
    if (ioctl(ports.fd(sPort), TIOCMGET, &bits) != 0) return 0;
    return (bits & line) ? 1 : 0;
}

jint setModemLine(jint sPort, jboolean onOff, int line)
{
    return ioctl(ports.fd(sPort), onOff ? TIOCMBIS : TIOCMBIC, &line);
}

jint timeoutOf(JNIEnv* env, jint sPort, int (PortTable::*get)(int) const)
{
    if (ports.fd(sPort) < 0) throwIOException(env, "Port not open");
    return (ports.*get)(sPort);
}

} // namespace

JNIEXPORT jint JNICALL Java_Quorvel_SerialPortLocal_SerOpenPort(JNIEnv* env, jobject, jobject cfg)
{
    if (!haveIOException(env)) return kNoExceptionClass;
    std::call_once(banner, [] {
        std::printf("%s\n", kLibVersionText);
        std::fflush(stdout);
    });

    ConfigReader config(env, cfg);
    char name[kMaxPath + 1];
    char base[kMaxPath + 1];
    OpenRequest request;
    request.name = name;
    request.nameLength = config.getBytes("getPortName", name, sizeof name);
    if (request.nameLength < 2) {
        request.port = config.getInt("getPort");
        request.base = base;
        request.baseLength = config.getBytes("getBaseName", base, sizeof base);
    }
    if (!config.ok()) return kNoExceptionClass;

    const OpenResult opened = ports.open(request);
    if (opened.badName) {
        throwIOException(env, "Port device name not valid");
        return kBadName;
    }
    if (opened.code != kOk) return opened.code;
    installContinueHandler();
    if (request.nameLength >= 2) config.setPortNum(opened.slot + 1);
    return kOk;
}

JNIEXPORT jint JNICALL Java_Quorvel_SerialPortLocal_SerConfigure(JNIEnv* env, jobject, jobject cfg)
{
    ConfigReader config(env, cfg);
    const jint port = config.getInt("getPort");
    const jint bitRate = config.getInt("getBitRate");
    const jint parity = config.getInt("getParity");
    const jint dataBits = config.getInt("getDataBits");
    const jint stopBits = config.getInt("getStopBits");
    const jint handshake = config.getInt("getHandshake");
    if (!config.ok()) return kSetAttributes;

    termios settings;
    const int built = buildTermios(bitRate, parity, dataBits, stopBits, handshake, &settings);
    if (built != kOk) return built;
    return ports.configure(port >= 1 && port <= kSlots ? port - 1 : -1, settings);
}

JNIEXPORT jint JNICALL Java_Quorvel_SerialPortLocal_SerClosePort(JNIEnv*, jobject, jint sPort)
{
    return ports.close(sPort);
}

JNIEXPORT jint JNICALL Java_Quorvel_SerialPortLocal_SerPutByte(JNIEnv*, jobject, jint sPort, jbyte data)
{
    return write(ports.fd(sPort), &data, 1) == 1 ? 0 : -1;
}

JNIEXPORT jint JNICALL Java_Quorvel_SerialPortLocal_SerPutData(JNIEnv* env, jobject, jint sPort, jbyteArray data,
                                                               jint cnt)
{
    const int fd = ports.fd(sPort);
    if (fd < 0 || !data || cnt < 0) return -1;
    const jsize n = std::min(cnt, env->GetArrayLength(data));
    jbyte* bytes = env->GetByteArrayElements(data, nullptr);
    if (!bytes) return -1;
    const ssize_t written = write(fd, bytes, static_cast<size_t>(n));
    env->ReleaseByteArrayElements(data, bytes, JNI_ABORT);
    return written < 0 ? -1 : static_cast<jint>(written);
}

JNIEXPORT jint JNICALL Java_Quorvel_SerialPortLocal_SerGetByte(JNIEnv*, jobject, jint sPort)
{
    const int fd = ports.fd(sPort);
    if (!waitReadable(fd, ports.timeoutRx(sPort))) return -1;
    unsigned char byte = 0;
    return read(fd, &byte, 1) == 1 ? byte : -1;
}

JNIEXPORT jint JNICALL Java_Quorvel_SerialPortLocal_SerGetData(JNIEnv* env, jobject, jint sPort, jbyteArray data,
                                                               jint cnt)
{
    const jsize n = data ? std::min(cnt, env->GetArrayLength(data)) : 0;
    if (n < 1) return -1;
    const int fd = ports.fd(sPort);
    if (!waitReadable(fd, ports.timeoutRx(sPort))) return 0;
    jbyte* bytes = env->GetByteArrayElements(data, nullptr);
    if (!bytes) return -1;
    const ssize_t got = read(fd, bytes, static_cast<size_t>(n));
    env->ReleaseByteArrayElements(data, bytes, got > 0 ? 0 : JNI_ABORT);
    return got < 0 ? -1 : static_cast<jint>(got);
}

JNIEXPORT jint JNICALL Java_Quorvel_SerialPortLocal_SerRxFlush(JNIEnv*, jobject, jint sPort)
{
    return tcflush(ports.fd(sPort), TCIFLUSH);
}

JNIEXPORT jint JNICALL Java_Quorvel_SerialPortLocal_SerTxFlush(JNIEnv*, jobject, jint sPort)
{
    return tcflush(ports.fd(sPort), TCOFLUSH);
}

JNIEXPORT jint JNICALL Java_Quorvel_SerialPortLocal_SerRxReadyCount(JNIEnv*, jobject, jint sPort)
{
    int count = 0;
    return ioctl(ports.fd(sPort), FIONREAD, &count) == 0 ? count : -1;
}

JNIEXPORT jint JNICALL Java_Quorvel_SerialPortLocal_SerTxBufCount(JNIEnv*, jobject, jint sPort)
{
    int count = 0;
    return ioctl(ports.fd(sPort), TIOCOUTQ, &count) == 0 ? count : -1;
}

JNIEXPORT jint JNICALL Java_Quorvel_SerialPortLocal_SerTxDrain(JNIEnv*, jobject, jint sPort)
{
    tcdrain(ports.fd(sPort));
    return 0;
}

JNIEXPORT jint JNICALL Java_Quorvel_SerialPortLocal_SerSetDTR(JNIEnv*, jobject, jint sPort, jboolean onOff)
{
    return setModemLine(sPort, onOff, TIOCM_DTR);
}

JNIEXPORT jint JNICALL Java_Quorvel_SerialPortLocal_SerSetRTS(JNIEnv*, jobject, jint sPort, jboolean onOff)
{
    return setModemLine(sPort, onOff, TIOCM_RTS);
}

JNIEXPORT jint JNICALL Java_Quorvel_SerialPortLocal_SerSendBreak(JNIEnv*, jobject, jint sPort, jint tics)
{
    return tcsendbreak(ports.fd(sPort), breakDuration(tics));
}

JNIEXPORT jint JNICALL Java_Quorvel_SerialPortLocal_SerSigCTS(JNIEnv*, jobject, jint sPort)
{
    return modemLine(sPort, TIOCM_CTS);
}

JNIEXPORT jint JNICALL Java_Quorvel_SerialPortLocal_SerSigDSR(JNIEnv*, jobject, jint sPort)
{
    return modemLine(sPort, TIOCM_DSR);
}

JNIEXPORT jint JNICALL Java_Quorvel_SerialPortLocal_SerSigCD(JNIEnv*, jobject, jint sPort)
{
    return modemLine(sPort, TIOCM_CAR);
}

JNIEXPORT jint JNICALL Java_Quorvel_SerialPortLocal_SerSigRing(JNIEnv*, jobject, jint sPort)
{
    return modemLine(sPort, TIOCM_RNG);
}

JNIEXPORT jint JNICALL Java_Quorvel_SerialPortLocal_SerSetTimeoutRx(JNIEnv*, jobject, jint sPort, jint mSecs)
{
    return ports.setTimeoutRx(sPort, mSecs) ? 1 : 0;
}

JNIEXPORT jint JNICALL Java_Quorvel_SerialPortLocal_SerSetTimeoutTx(JNIEnv*, jobject, jint sPort, jint mSecs)
{
    return ports.setTimeoutTx(sPort, mSecs) ? 1 : 0;
}

JNIEXPORT jint JNICALL Java_Quorvel_SerialPortLocal_SerGetTimeoutRx(JNIEnv* env, jobject, jint sPort)
{
    return timeoutOf(env, sPort, &PortTable::timeoutRx);
}

JNIEXPORT jint JNICALL Java_Quorvel_SerialPortLocal_SerGetTimeoutTx(JNIEnv* env, jobject, jint sPort)
{
    return timeoutOf(env, sPort, &PortTable::timeoutTx);
}

JNIEXPORT jint JNICALL Java_Quorvel_SerialPortLocal_SerGetLibVer(JNIEnv*, jobject)
{
    return kLibVersion;
}
