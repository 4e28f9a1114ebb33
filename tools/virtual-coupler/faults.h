/* The virtual coupler's faults by name, written down once: the daemon's
 * --fault option, its usage and live key, the bus's part of the live view and
 * the list the daemon prints for scripts (--faults) all read this table. The
 * coupler's faults come first, by CouplerFault, then the bus's by BusFault
 * (without its "none"); the client sets the same faults by those kinds. */
#ifndef VIRTUAL_COUPLER_FAULTS_H
#define VIRTUAL_COUPLER_FAULTS_H

#include "coupler_state.h"

/* What may follow the name after a colon. */
enum FaultArgument {
    FAULT_ARGUMENT_NONE = 0,
    FAULT_ARGUMENT_MS = 1,   /* ":MS", milliseconds (the fault's delay) */
    FAULT_ARGUMENT_LATER = 2 /* ":N" line changes or ":Nms" milliseconds before it strikes */
};

struct NamedFault {
    const char* name;
    uint32_t coupler;  /* a CouplerFault, COUPLER_FAULT_NONE for a bus fault */
    uint32_t bus;      /* a BusFault, BUS_FAULT_NONE for a coupler fault */
    uint32_t argument; /* a FaultArgument */
};

#define FAULT_NAME_COUNT (COUPLER_FAULT_COUNT + BUS_FAULT_COUNT - 1)
static const struct NamedFault FAULT_NAMES[FAULT_NAME_COUNT] = {
    {"none", COUPLER_FAULT_NONE, BUS_FAULT_NONE, FAULT_ARGUMENT_NONE},
    {"sda-stuck-low", COUPLER_FAULT_SDA_LOW, BUS_FAULT_NONE, FAULT_ARGUMENT_NONE},
    {"sda-stuck-high", COUPLER_FAULT_SDA_HIGH, BUS_FAULT_NONE, FAULT_ARGUMENT_NONE},
    {"sda-not-wired", COUPLER_FAULT_NO_READBACK, BUS_FAULT_NONE, FAULT_ARGUMENT_NONE},
    {"scl-leak", COUPLER_FAULT_SCL_LEAK, BUS_FAULT_NONE, FAULT_ARGUMENT_MS},
    {"int-stuck-low", COUPLER_FAULT_INT_LOW, BUS_FAULT_NONE, FAULT_ARGUMENT_NONE},
    {"slow-sda", COUPLER_FAULT_SLOW_SDA, BUS_FAULT_NONE, FAULT_ARGUMENT_MS},
    {"stuck-slave", COUPLER_FAULT_NONE, BUS_FAULT_STUCK_SLAVE, FAULT_ARGUMENT_NONE},
    {"no-ack", COUPLER_FAULT_NONE, BUS_FAULT_NO_ACK, FAULT_ARGUMENT_NONE},
    {"no-pullup", COUPLER_FAULT_NONE, BUS_FAULT_NO_PULLUP, FAULT_ARGUMENT_NONE},
    {"scl-timeout", COUPLER_FAULT_NONE, BUS_FAULT_TIMEOUT, FAULT_ARGUMENT_NONE},
    {"stuck-slave-9", COUPLER_FAULT_NONE, BUS_FAULT_STUCK_SLAVE_9, FAULT_ARGUMENT_NONE},
    {"sda-low-later", COUPLER_FAULT_NONE, BUS_FAULT_SDA_LOW_LATER, FAULT_ARGUMENT_LATER},
};

/* The table's index of a coupler fault and of a bus fault; 0 ("none") for
 * their none and for a kind not in the table. */
static inline uint32_t FaultOfCoupler(uint32_t coupler)
{
    for (uint32_t name = 1; name < FAULT_NAME_COUNT; ++name)
        if (FAULT_NAMES[name].coupler == coupler && FAULT_NAMES[name].bus == BUS_FAULT_NONE)
            return name;
    return 0;
}
static inline uint32_t FaultOfBus(uint32_t bus)
{
    for (uint32_t name = 1; name < FAULT_NAME_COUNT; ++name)
        if (FAULT_NAMES[name].bus == bus && FAULT_NAMES[name].coupler == COUPLER_FAULT_NONE)
            return name;
    return 0;
}

#endif
