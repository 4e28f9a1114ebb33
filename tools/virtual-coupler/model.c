/* The coupler model of one port (see model.h). */
#define _GNU_SOURCE
#define _FILE_OFFSET_BITS 64 /* one struct flock for the 32-bit and the 64-bit build */
#include "model.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stddef.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#define TICKS_PER_MS 10000
#define SCL_LEAK_TICKS (5 * TICKS_PER_MS) /* how long SCL disturbs SDA (SCL leak) */

int64_t ModelNow(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC_RAW, &now);
    return (int64_t)now.tv_sec * 10000000 + now.tv_nsec / 100;
}

/* Threads of this process share its descriptor of the state file, and with
 * it its kernel locks: they take turns here first. Live for the process. */
static pthread_mutex_t threadTurn[COUPLER_MAX_PORTS] = {[0 ... COUPLER_MAX_PORTS - 1] = PTHREAD_MUTEX_INITIALIZER};

/* One byte of the state file locked for writing (take) or unlocked. */
static int RangeLock(int fd, size_t offset, short type)
{
    struct flock range;
    memset(&range, 0, sizeof range);
    range.l_type = type;
    range.l_whence = SEEK_SET;
    range.l_start = (off_t)offset;
    range.l_len = 1;
    return fcntl(fd, F_OFD_SETLK, &range) == 0;
}

/* Tries until the deadline, sleeping a little longer each time (from 20 us
 * to 1 ms): holders keep the lock for microseconds. */
static int RangeLockBy(int fd, size_t offset, int64_t deadline)
{
    long pauseNs = 20000;
    while (!RangeLock(fd, offset, F_WRLCK)) {
        if ((errno != EAGAIN && errno != EACCES && errno != EINTR) || ModelNow() >= deadline)
            return 0;
        struct timespec pause = {0, pauseNs};
        nanosleep(&pause, 0);
        pauseNs = pauseNs < 1000000 ? pauseNs * 2 : 1000000;
    }
    return 1;
}

static size_t PortRange(int slot) { return offsetof(struct CouplerState, ports[slot].lock); }
static size_t BusRange(int slot) { return offsetof(struct CouplerState, buses[slot].lock); }

int ModelLock(int stateFd, int slot)
{
    if (slot < 0 || slot >= COUPLER_MAX_PORTS || pthread_mutex_lock(&threadTurn[slot]) != 0)
        return 0;
    int64_t deadline = ModelNow() + (int64_t)MODEL_LOCK_WAIT_MS * TICKS_PER_MS;
    if (RangeLockBy(stateFd, PortRange(slot), deadline)) {
        if (RangeLockBy(stateFd, BusRange(slot), deadline))
            return 1;
        RangeLock(stateFd, PortRange(slot), F_UNLCK);
    }
    pthread_mutex_unlock(&threadTurn[slot]);
    return 0;
}

void ModelUnlock(int stateFd, int slot)
{
    RangeLock(stateFd, BusRange(slot), F_UNLCK);
    RangeLock(stateFd, PortRange(slot), F_UNLCK);
    pthread_mutex_unlock(&threadTurn[slot]);
}

struct CouplerModel ModelCurrent(const struct CouplerPort* port)
{
    struct CouplerModel none = {0, 0, 0, 0, 0, 0, 0};
    return port->models ? port->history[(port->models - 1) % COUPLER_HISTORY] : none;
}

/* The bus's outputs at `at` as model flags. */
static uint32_t BusFlags(const struct CouplerBus* bus, int64_t at)
{
    return (BusHoldsSdaLow(bus, at) ? COUPLER_MODEL_BUS_SDA_LOW : 0) |
           (BusPullsIntLow(bus, at) ? COUPLER_MODEL_BUS_INT_LOW : 0);
}

void ModelPush(struct CouplerPort* port, struct CouplerBus* bus, struct CouplerModel model, int64_t now)
{
    model.since = now;
    model.flags =
        (model.flags & ~(COUPLER_MODEL_BUS_SDA_LOW | COUPLER_MODEL_BUS_INT_LOW)) | BusFlags(bus, now);
    port->history[port->models % COUPLER_HISTORY] = model;
    __atomic_store_n(&port->models, port->models + 1, __ATOMIC_RELEASE);
}

int ModelSetLines(struct CouplerPort* port, struct CouplerBus* bus, uint32_t expected, int dtr, int rts,
                  int64_t now)
{
    uint32_t word = __atomic_load_n(&port->lines, __ATOMIC_ACQUIRE);
    if (word != expected)
        return 0;
    uint32_t bits = (dtr ? COUPLER_LINE_DTR : 0) | (rts ? COUPLER_LINE_RTS : 0);
    uint32_t changed = (word ^ bits) & (COUPLER_LINE_DTR | COUPLER_LINE_RTS);
    if (!changed)
        return 1;
    struct CouplerModel model = ModelCurrent(port);
    if (changed & COUPLER_LINE_DTR)
        model.dtrChanged = now;
    if (changed & COUPLER_LINE_RTS)
        model.rtsChanged = now;
    model.flags = (model.flags & ~(COUPLER_MODEL_DTR | COUPLER_MODEL_RTS)) | (dtr ? COUPLER_MODEL_DTR : 0) |
                  (rts ? COUPLER_MODEL_RTS : 0);
    __atomic_store_n(&port->lastChange, now, __ATOMIC_RELEASE); /* read without the lock */
    __atomic_store_n(&port->lines,
                     (((word >> COUPLER_LINE_COUNT_SHIFT) + 1) << COUPLER_LINE_COUNT_SHIFT) | bits,
                     __ATOMIC_RELEASE);
    BusLines(bus, rts != 0, dtr != 0, now);
    ModelPush(port, bus, model, now);
    return 1;
}

uint32_t ModelDraw(struct CouplerJitter* jitter, uint32_t low, uint32_t high)
{
    if (high <= low)
        return low;
    /* A counter through a mixing function: every draw is independent of the
     * thread and process that makes it, and one seed replays the sequence. */
    uint32_t x = __atomic_fetch_add(&jitter->draws, 1u, __ATOMIC_RELAXED) * 0x9E3779B9u + jitter->seed;
    x = (x ^ (x >> 16)) * 0x85EBCA6Bu;
    x = (x ^ (x >> 13)) * 0xC2B2AE35u;
    x ^= x >> 16;
    return low + x % (high - low + 1u);
}

int64_t ModelShownAt(const struct CouplerPort* port, struct CouplerJitter* jitter, int64_t now)
{
    int64_t delay = (int64_t)port->statusDelayMs * TICKS_PER_MS;
    if (jitter->statusDelayMaxMs <= port->statusDelayMs)
        return now - delay;
    /* A delay that varies is an adapter that reports every range's width
     * (its latency timer), each report the inputs as they were the least
     * delay before it: a sample shows the latest report, so it shows the
     * inputs between the least and the most delay ago, and never older ones
     * than the sample before it. shownUpTo keeps the latest report's moment;
     * after a pause longer than the period the phase is drawn anew. */
    int64_t width = (int64_t)(jitter->statusDelayMaxMs - port->statusDelayMs) * TICKS_PER_MS;
    if (now - jitter->shownUpTo > width)
        jitter->shownUpTo = now - (int64_t)ModelDraw(jitter, 0, 1000) * width / 1000;
    while (jitter->shownUpTo + width <= now)
        jitter->shownUpTo += width;
    return jitter->shownUpTo - delay;
}

/* The model in force at `at` (the oldest kept when `at` is older); *newest
 * tells whether it is still in force now. */
static const struct CouplerModel* ModelAt(const struct CouplerPort* port, int64_t at, int* newest)
{
    uint32_t count = port->models, kept = count < COUPLER_HISTORY ? count : COUPLER_HISTORY;
    for (uint32_t back = 0; back < kept; back++) {
        const struct CouplerModel* model = &port->history[(count - 1 - back) % COUPLER_HISTORY];
        if (model->since <= at || back + 1 == kept) {
            *newest = back == 0;
            return model;
        }
    }
    return 0;
}

/* SCL leak: SDA reads the opposite of its level for 5 ms, the fault's delay
 * after any RTS edge that the kept models remember. */
static int Leaking(const struct CouplerPort* port, const struct CouplerModel* model, int64_t at)
{
    int64_t delay = (int64_t)model->faultDelayMs * TICKS_PER_MS;
    uint32_t count = port->models, kept = count < COUPLER_HISTORY ? count : COUPLER_HISTORY;
    for (uint32_t back = 0; back < kept; back++) {
        const struct CouplerModel* earlier = &port->history[(count - 1 - back) % COUPLER_HISTORY];
        int64_t sinceEdge = at - earlier->rtsChanged - delay;
        if (earlier->since <= at && earlier->rtsChanged && sinceEdge >= 0 && sinceEdge < SCL_LEAK_TICKS)
            return 1;
    }
    return 0;
}

/* Slow SDA: the line takes a DTR level only once DTR has held it for the
 * fault's delay; a shorter pulse never reaches it, so every change counts,
 * not only the last (a close and a reopen within the delay leave the line
 * where it was). While the fault was off the line followed at once. */
static int SlowSda(const struct CouplerPort* port, const struct CouplerModel* model, int64_t at)
{
    int64_t delay = (int64_t)model->faultDelayMs * TICKS_PER_MS;
    for (int change = 0;; change++) {
        int newest, dtr = (model->flags & COUPLER_MODEL_DTR) != 0;
        if (model->fault != COUPLER_FAULT_SLOW_SDA || at - model->dtrChanged >= delay ||
            change == COUPLER_HISTORY)
            return dtr;
        at = model->dtrChanged - 1; /* the level the line had when DTR last changed */
        model = ModelAt(port, at, &newest);
    }
}

int ModelInputs(const struct CouplerPort* port, struct CouplerBus* bus, int64_t at)
{
    int newest = 0;
    const struct CouplerModel* model = ModelAt(port, at, &newest);
    if (!model)
        return 0;
    uint32_t flags = model->flags;
    if (newest) /* the bus can change by itself (a time-out) while the lines stay */
        flags = (flags & ~(COUPLER_MODEL_BUS_SDA_LOW | COUPLER_MODEL_BUS_INT_LOW)) | BusFlags(bus, at);
    if (flags & COUPLER_MODEL_OVERRIDE)
        return ((flags & COUPLER_MODEL_DSR) ? COUPLER_IN_DSR : 0) |
               ((flags & COUPLER_MODEL_CTS) ? COUPLER_IN_CTS : 0) |
               ((flags & COUPLER_MODEL_DCD) ? COUPLER_IN_DCD : 0);
    int dtr = model->fault == COUPLER_FAULT_SLOW_SDA ? SlowSda(port, model, at)
                                                     : (flags & COUPLER_MODEL_DTR) != 0;
    int sda = dtr && !(flags & (COUPLER_MODEL_SDA_HELD | COUPLER_MODEL_BUS_SDA_LOW));
    if (model->fault == COUPLER_FAULT_SDA_LOW || model->fault == COUPLER_FAULT_NO_READBACK)
        sda = 0;
    else if (model->fault == COUPLER_FAULT_SDA_HIGH)
        sda = 1;
    else if (model->fault == COUPLER_FAULT_SCL_LEAK && Leaking(port, model, at))
        sda = !sda; /* crosstalk: a glitch against whatever level SDA has */
    int intLow = (flags & (COUPLER_MODEL_INT_PULLED | COUPLER_MODEL_BUS_INT_LOW)) ||
                 model->fault == COUPLER_FAULT_INT_LOW;
    return (sda ? COUPLER_IN_DSR : 0) | (intLow ? COUPLER_IN_CTS : 0);
}
