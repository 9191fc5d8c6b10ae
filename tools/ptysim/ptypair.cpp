#include "ptypair.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

bool PtyPair::open()
{
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) return false;
    char name[128];
    if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
        close();
        return false;
    }
    slavePath = name;
    slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        close();
        return false;
    }
    return true;
}

void PtyPair::close()
{
    if (slave >= 0) ::close(slave);
    if (master >= 0) ::close(master);
    slave = master = -1;
}
