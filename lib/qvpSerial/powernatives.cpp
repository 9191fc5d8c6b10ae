// Card-power, resume and battery natives of Quorvel.SerialPortLocal.
#include <sys/ioctl.h>

#include <unistd.h>

#include "Quorvel_SerialPortLocal.h"
#include "cardpower.h"
#include "jnisupport.h"

using namespace qvpserial;

namespace {

// The control device of a card socket, or a negative value with an IOException
// thrown (-1: the exception class itself is missing).
int getSlotHandle(JNIEnv* env, int socket)
{
    if (!haveIOException(env)) return -1;
    // A negative socket would address another device's node.
    if (socket < 0 || socket > kMaxSocket) {
        throwIOException(env, "Invalid slot number");
        return -2;
    }
    const int major = lookupDev(kProcDevices, "pcmcia");
    if (major < 0) {
        throwIOException(env, "PCMCIA device lookup failed");
        return -3;
    }
    const int fd = openSock(major, socket);
    if (fd < 0) {
        throwIOException(env, "Failed to open card socket");
        return -4;
    }
    return fd;
}

} // namespace

JNIEXPORT jint JNICALL Java_Quorvel_SerialPortLocal_SerSetPowerMode(JNIEnv* env, jobject, jint slot, jint pwrMode)
{
    if (pwrMode != 0 && pwrMode != 1) return kBadPowerMode;
    const int fd = getSlotHandle(env, slot);
    if (fd < 0) return kNoCardSocket;
    const int done = ioctl(fd, pwrMode == 0 ? kSuspendCard : kResumeCard, 0);
    close(fd);
    if (done != 0) {
        throwIOException(env, pwrMode == 0 ? "Failed to suspend card" : "Failed to resume card");
        return kCardRequestFailed;
    }
    return 0;
}

JNIEXPORT jint JNICALL Java_Quorvel_SerialPortLocal_SerGetPowerMode(JNIEnv* env, jobject, jint slot)
{
    const int fd = getSlotHandle(env, slot);
    if (fd < 0) return kNoCardSocket;
    CardStatus status{};
    status.Function = static_cast<uint8_t>(slot);
    const int done = ioctl(fd, kGetCardStatus, &status);
    close(fd);
    if (done != 0) {
        throwIOException(env, "Failed to get card status");
        return kCardRequestFailed;
    }
    return (status.CardState & kCardSuspended) ? 0 : 1;
}

JNIEXPORT jint JNICALL Java_Quorvel_SerialPortLocal_SerGetResumeState(JNIEnv*, jobject, jboolean clear)
{
    return resumeState(clear != JNI_FALSE);
}

JNIEXPORT jint JNICALL Java_Quorvel_SerialPortLocal_SerGetStatusAPM(JNIEnv* env, jobject)
{
    int32_t packed = 0;
    if (!readApm(kProcApm, &packed)) {
        throwIOException(env, "Failed to get APM status");
        return -1;
    }
    return packed;
}
