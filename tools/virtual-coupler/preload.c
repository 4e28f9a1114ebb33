/* Preload library for Wine processes: gives the virtual ports modem-control
 * lines. Pseudo-terminals have none (TIOCMGET and friends fail with ENOTTY),
 * so these requests are answered here from the coupler model in the state
 * file; every other request, and every descriptor that is not a virtual
 * port, goes to the C library untouched. The lines also step the I2C bus
 * behind the coupler (model.c, bus.c). A port's settings get the RTS/CTS
 * handshake added while its adapter model keeps that on. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "model.h"

typedef int (*IoctlFunction)(int, unsigned long, ...);
typedef int (*SetModesFunction)(int, int, const struct termios*);

/* The C library's entries, found once; live for the process. */
static IoctlFunction realIoctl;
static IoctlFunction realIoctlTime64;
static SetModesFunction realTcsetattr;
/* The state file mapped shared, or 0 when there is none (no coupler runs),
 * and this process's own descriptor of it, which carries its kernel locks
 * (ModelLock); both made on the first line request and kept for the life of
 * the process (the kernel frees the locks when it ends). */
static struct CouplerState* state;
static int stateFd = -1;
static pthread_once_t setupOnce = PTHREAD_ONCE_INIT;

static void Setup(void)
{
    realIoctl = (IoctlFunction)dlsym(RTLD_NEXT, "ioctl");
    realIoctlTime64 = (IoctlFunction)dlsym(RTLD_NEXT, "__ioctl_time64");
    if (!realIoctlTime64)
        realIoctlTime64 = realIoctl;
    realTcsetattr = (SetModesFunction)dlsym(RTLD_NEXT, "tcsetattr");
    const char* path = getenv("COUPLER_STATE");
    if (!path || !*path)
        return;
    int fd = open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return;
    void* map = mmap(0, sizeof(struct CouplerState), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) {
        close(fd);
        return;
    }
    state = (struct CouplerState*)map;
    stateFd = fd;
}

static int IsLineRequest(unsigned long request)
{
    return request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC;
}

/* The slot of the virtual port the descriptor is open on, or -1. */
static int FindPort(int fd)
{
    if (!state || state->magic != COUPLER_MAGIC || state->version != COUPLER_VERSION)
        return -1; /* a daemon of another layout: its file is not ours to read */
    char link[64], target[COUPLER_PTS_MAX + 1];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t length = readlink(link, target, sizeof target - 1);
    if (length <= 0)
        return -1;
    target[length] = 0;
    for (int i = 0; i < COUPLER_MAX_PORTS; i++) {
        struct CouplerPort* port = &state->ports[i];
        if (port->exists && strncmp(port->pts, target, COUPLER_PTS_MAX) == 0)
            return i;
    }
    return -1;
}

/* Wine switches a line by reading all lines (TIOCMGET) and writing them back
 * (TIOCMSET): the read is the switch's one request, the write that follows
 * it on the same thread is not another. The port of this thread's last
 * read, or 0; lives for the thread. */
static __thread struct CouplerPort* readBeforeWrite;
/* This thread sleeps without the kernel's timer slack (set on its first
 * costly request); lives for the thread. */
static __thread int slackSet;

/* One request of the program reaches the adapter: counted, the adapter
 * pulled when its count of remaining requests has run out, and the request's
 * cost (drawn from the port's range) waited. 0 when the adapter is gone. */
static int AdapterRequest(struct CouplerPort* port, struct CouplerJitter* jitter)
{
    __atomic_add_fetch(&port->lineRequests, 1, __ATOMIC_ACQ_REL);
    int32_t left = __atomic_load_n(&port->vanishAfter, __ATOMIC_ACQUIRE);
    while (left >= 0) {
        if (left == 0) {
            __atomic_store_n(&port->vanished, 1u, __ATOMIC_RELEASE);
            break;
        }
        if (__atomic_compare_exchange_n(&port->vanishAfter, &left, left - 1, 0, __ATOMIC_ACQ_REL,
                                        __ATOMIC_ACQUIRE))
            break;
    }
    if (__atomic_load_n(&port->vanished, __ATOMIC_ACQUIRE))
        return 0;
    uint32_t cost = ModelDraw(jitter, __atomic_load_n(&port->requestCostMs, __ATOMIC_ACQUIRE),
                              __atomic_load_n(&jitter->requestCostMaxMs, __ATOMIC_ACQUIRE));
    if (!cost)
        return 1;
    /* The request takes its cost from here, not its cost on top of the sleep's
     * own lateness: the kernel lets a sleeping thread wake up to 50 us late
     * unless told otherwise, which on a 1 ms request is a tenth more. */
    if (!slackSet)
        slackSet = prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) == 0;
    struct timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_nsec += (long)(cost % 1000) * 1000000;
    deadline.tv_sec += cost / 1000 + deadline.tv_nsec / 1000000000;
    deadline.tv_nsec %= 1000000000;
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, 0) == EINTR) {
    }
    return 1;
}

/* Answers a line request on a virtual port; the program's writes set only
 * DTR and RTS, the inputs are the model's as the adapter reports them (late
 * by the status delay, in order). A port whose lock a holder keeps beyond the wait
 * fails the request, as a hung adapter fails the program's call. */
static int LineRequest(int slot, unsigned long request, int* bits)
{
    struct CouplerPort* port = &state->ports[slot];
    struct CouplerBus* bus = &state->buses[slot];
    struct CouplerJitter* jitter = &state->jitter[slot];
    /* Only Wine's write-back (TIOCMSET right after its TIOCMGET) is the second
     * half of one switch; a native program's TIOCMBIS or TIOCMBIC after a
     * sample is a request of its own. */
    int counted = request != TIOCMSET || readBeforeWrite != port;
    readBeforeWrite = request == TIOCMGET ? port : 0;
    if (counted ? !AdapterRequest(port, jitter) : __atomic_load_n(&port->vanished, __ATOMIC_ACQUIRE) != 0) {
        errno = EIO;
        return -1;
    }
    if (!bits) {
        errno = EFAULT;
        return -1;
    }
    if (!ModelLock(stateFd, slot)) {
        errno = EIO;
        return -1;
    }
    int64_t now = ModelNow();
    uint32_t lines = __atomic_load_n(&port->lines, __ATOMIC_ACQUIRE);
    int current = ((lines & COUPLER_LINE_DTR) ? TIOCM_DTR : 0) | ((lines & COUPLER_LINE_RTS) ? TIOCM_RTS : 0);
    if (request == TIOCMGET) {
        int inputs = ModelInputs(port, bus, ModelShownAt(port, jitter, now));
        *bits = current | ((inputs & COUPLER_IN_DSR) ? TIOCM_DSR : 0) |
                ((inputs & COUPLER_IN_CTS) ? TIOCM_CTS : 0) | ((inputs & COUPLER_IN_DCD) ? TIOCM_CAR : 0);
    } else {
        int next = request == TIOCMSET ? *bits : request == TIOCMBIS ? current | *bits : current & ~*bits;
        ModelSetLines(port, bus, lines, (next & TIOCM_DTR) != 0, (next & TIOCM_RTS) != 0, now);
    }
    ModelUnlock(stateFd, slot);
    return 0;
}

static int Dispatch(int time64, int fd, unsigned long request, void* argument)
{
    pthread_once(&setupOnce, Setup);
    if (IsLineRequest(request)) {
        int slot = FindPort(fd);
        if (slot >= 0)
            return LineRequest(slot, request, (int*)argument);
    }
    IoctlFunction real = time64 ? realIoctlTime64 : realIoctl;
    if (!real) {
        errno = ENOSYS;
        return -1;
    }
    return real(fd, request, argument);
}

/* Wine's 32-bit ntdll calls glibc's 64-bit time entry, others the plain one. */
int __ioctl_time64(int fd, unsigned long request, ...)
{
    va_list list;
    va_start(list, request);
    void* argument = va_arg(list, void*);
    va_end(list);
    return Dispatch(1, fd, request, argument);
}

int ioctl(int fd, unsigned long request, ...)
{
    va_list list;
    va_start(list, request);
    void* argument = va_arg(list, void*);
    va_end(list);
    return Dispatch(0, fd, request, argument);
}

/* Wine sets a port's line (speed, frame, handshake) with tcsetattr, and the C
 * library makes its TCSETS request without its own ioctl entry, so an adapter
 * whose driver keeps the RTS/CTS handshake on is modelled here; Wine's
 * GetCommState reads it back with tcgetattr. */
int tcsetattr(int fd, int action, const struct termios* modes)
{
    pthread_once(&setupOnce, Setup);
    struct termios kept;
    int slot = modes ? FindPort(fd) : -1;
    if (slot >= 0 && __atomic_load_n(&state->ports[slot].handshakeKept, __ATOMIC_ACQUIRE)) {
        kept = *modes;
        kept.c_cflag |= CRTSCTS;
        modes = &kept;
    }
    if (!realTcsetattr) {
        errno = ENOSYS;
        return -1;
    }
    return realTcsetattr(fd, action, modes);
}
