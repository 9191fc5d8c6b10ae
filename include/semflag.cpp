#include "semflag.h"

#include <sys/sem.h>

#include <cerrno>

namespace {

// The caller defines it (see semctl(2)).
union semun {
    int val;
    struct semid_ds* buf;
    unsigned short* array;
};

}  // namespace

int getSemaphore(int key) { return semget(key, 1, IPC_CREAT | 0600); }

int setSemaphore(int semid, int value) {
    semun arg;
    arg.val = value;
    return semctl(semid, 0, SETVAL, arg);
}

int getSemaphoreValue(int semid) { return semctl(semid, 0, GETVAL); }

int waitSemaphore(int semid) {
    struct sembuf op;
    op.sem_num = 0;
    op.sem_op = -1;
    op.sem_flg = 0;
    for (;;) {
        if (semop(semid, &op, 1) == 0) return 0;
        if (errno != EINTR) return -1;
    }
}
