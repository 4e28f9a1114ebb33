/* Preload library for Wine processes: gives the virtual ports modem-control
 * lines. Pseudo-terminals have none (TIOCMGET and friends fail with ENOTTY),
 * so these requests are answered here from the coupler model in the state
 * file; every other request, and every descriptor that is not a virtual
 * port, goes to the C library untouched. */
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
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "coupler_state.h"

typedef int (*IoctlFunction)(int, unsigned long, ...);

/* The C library's entries, found once; live for the process. */
static IoctlFunction realIoctl;
static IoctlFunction realIoctlTime64;
/* The state file mapped shared, or 0 when there is none (no coupler runs);
 * mapped on the first line request, kept for the life of the process. */
static struct CouplerState* state;
static pthread_once_t setupOnce = PTHREAD_ONCE_INIT;

static void Setup(void)
{
    realIoctl = (IoctlFunction)dlsym(RTLD_NEXT, "ioctl");
    realIoctlTime64 = (IoctlFunction)dlsym(RTLD_NEXT, "__ioctl_time64");
    if (!realIoctlTime64)
        realIoctlTime64 = realIoctl;
    const char* path = getenv("COUPLER_STATE");
    if (!path || !*path)
        return;
    int fd = open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return;
    void* map = mmap(0, sizeof(struct CouplerState), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (map == MAP_FAILED)
        return;
    state = (struct CouplerState*)map;
}

static int IsLineRequest(unsigned long request)
{
    return request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC;
}

/* The virtual port the descriptor is open on, or 0. */
static struct CouplerPort* FindPort(int fd)
{
    if (!state || state->magic != COUPLER_MAGIC)
        return 0;
    char link[64], target[COUPLER_PTS_MAX + 1];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t length = readlink(link, target, sizeof target - 1);
    if (length <= 0)
        return 0;
    target[length] = 0;
    for (int i = 0; i < COUPLER_MAX_PORTS; i++) {
        struct CouplerPort* port = &state->ports[i];
        if (port->exists && strncmp(port->pts, target, COUPLER_PTS_MAX) == 0)
            return port;
    }
    return 0;
}

static int Flag(uint32_t* field) { return __atomic_load_n(field, __ATOMIC_ACQUIRE) != 0; }

static int64_t NowTicks(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC_RAW, &now);
    return (int64_t)now.tv_sec * 10000000 + now.tv_nsec / 100;
}

/* The output lines as the program set them and the inputs from the coupler
 * model (coupler_state.h). */
static int ModemBits(struct CouplerPort* port)
{
    __atomic_thread_fence(__ATOMIC_ACQUIRE);
    int inputs = CouplerInputs(port, NowTicks());
    return (Flag(&port->dtr) ? TIOCM_DTR : 0) | (Flag(&port->rts) ? TIOCM_RTS : 0) |
           ((inputs & COUPLER_IN_DSR) ? TIOCM_DSR : 0) | ((inputs & COUPLER_IN_CTS) ? TIOCM_CTS : 0) |
           ((inputs & COUPLER_IN_DCD) ? TIOCM_CAR : 0);
}

static void SetOutputs(struct CouplerPort* port, int bits)
{
    int dtr = (bits & TIOCM_DTR) != 0, rts = (bits & TIOCM_RTS) != 0;
    int dtrChanged = dtr != Flag(&port->dtr), rtsChanged = rts != Flag(&port->rts);
    if (!dtrChanged && !rtsChanged)
        return;
    int64_t now = NowTicks();
    if (dtrChanged)
        __atomic_store_n(&port->dtrChanged, now, __ATOMIC_RELEASE);
    if (rtsChanged)
        __atomic_store_n(&port->rtsChanged, now, __ATOMIC_RELEASE);
    __atomic_store_n(&port->dtr, (uint32_t)dtr, __ATOMIC_RELEASE);
    __atomic_store_n(&port->rts, (uint32_t)rts, __ATOMIC_RELEASE);
    __atomic_store_n(&port->lastChange, now, __ATOMIC_RELEASE);
    __atomic_add_fetch(&port->lineChanges, 1, __ATOMIC_RELEASE);
}

/* Answers a line request on a virtual port; the program's writes set only
 * DTR and RTS, the inputs stay the model's. */
static int LineRequest(struct CouplerPort* port, unsigned long request, int* bits)
{
    if (Flag(&port->vanished)) {
        errno = EIO;
        return -1;
    }
    if (!bits) {
        errno = EFAULT;
        return -1;
    }
    int current = ModemBits(port);
    switch (request) {
    case TIOCMGET:
        *bits = current;
        return 0;
    case TIOCMSET:
        SetOutputs(port, *bits);
        return 0;
    case TIOCMBIS:
        SetOutputs(port, current | *bits);
        return 0;
    default:
        SetOutputs(port, current & ~*bits);
        return 0;
    }
}

static int Dispatch(int time64, int fd, unsigned long request, void* argument)
{
    pthread_once(&setupOnce, Setup);
    if (IsLineRequest(request)) {
        struct CouplerPort* port = FindPort(fd);
        if (port)
            return LineRequest(port, request, (int*)argument);
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
