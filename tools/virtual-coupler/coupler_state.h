/* The virtual coupler's state file: one fixed binary layout shared by the
 * daemon (host C++, mmap), the preload library (32-bit Linux C, mmap) and the
 * Windows test client (plain file I/O through Wine's Z: drive). All three see
 * the same page cache, so a write by one is visible to the others at once.
 *
 * Every field sits at its natural offset with explicit padding: the 32-bit
 * Linux ABI aligns 64-bit integers to 4 bytes inside structures, the Windows
 * ABI to 8, and the layout must not depend on that. */
#ifndef VIRTUAL_COUPLER_STATE_H
#define VIRTUAL_COUPLER_STATE_H

#include <stddef.h>
#include <stdint.h>

#include "bus.h"

#define COUPLER_MAGIC 0x31504356u /* "VCP1" */
#define COUPLER_VERSION 6u /* 6: the master's DTR kept with the coupler's SDA path */
#define COUPLER_MAX_PORTS 32      /* COM1 .. COM32, slot = number - 1 */
#define COUPLER_DATA_MAX 4096     /* bytes carried by one request or answer */
#define COUPLER_PTS_MAX 32

/* Requests a client places in the request area (op, com, args, data). */
enum CouplerOp {
    COUPLER_OP_NONE = 0,
    COUPLER_OP_RESET = 1,        /* every port absent, every fault and model input off */
    COUPLER_OP_PRESENT = 2,      /* arg0: 1 maps COMn to its pty, 0 makes it absent */
    COUPLER_OP_BUSY = 3,         /* arg0: 1 locks the pty so that new opens fail */
    COUPLER_OP_VANISH = 4,       /* arg0: 1 pulls the adapter: line requests fail, opens fail */
    COUPLER_OP_HOLD_SDA = 5,     /* arg0: 1 a slave holds SDA at ground */
    COUPLER_OP_PULL_INT = 6,     /* arg0: 1 INT pulled to ground */
    COUPLER_OP_SET_INPUTS = 7,   /* arg0..2: DSR, CTS, DCD set directly (override) */
    COUPLER_OP_CLEAR_INPUTS = 8, /* inputs follow the coupler model again */
    COUPLER_OP_WRITE = 9,        /* data: bytes that arrive at the program */
    COUPLER_OP_READ = 10,        /* answer data: bytes the program wrote since the last read */
    COUPLER_OP_LINE_SETTINGS = 11, /* answer data: a CouplerTermios of the pty */
    COUPLER_OP_FAULT = 12,         /* arg0: a CouplerFault, arg1: its delay in ms (slow SDA, SCL leak) */
    COUPLER_OP_ADAPTER = 13,       /* arg0: status delay ms, arg1: cost per line request ms, arg2: RTS/CTS kept */
    COUPLER_OP_VANISH_AFTER = 15,  /* arg0: the adapter is pulled after that many more line requests */
    COUPLER_OP_CHIPS = 16,         /* arg0: BUS_CHIP_* bits switched on at their power-up state,
                                      arg1: the expander's inputs as the outside world drives them then */
    COUPLER_OP_BUS_FAULT = 17,     /* arg0: a BusFault */
    COUPLER_OP_EEPROM = 18,        /* answer data: the EEPROM's bytes from offset arg0 on, at most
                                      COUPLER_DATA_MAX (none past its end) */
    COUPLER_OP_SET_EEPROM = 19,    /* data: arg0 bytes of the EEPROM from offset arg1 on, part of a
                                      whole content of arg2 bytes, which must be the chip's size */
    COUPLER_OP_WRITE_PROTECT = 20, /* arg0: a BusWriteProtect */
    COUPLER_OP_EXPANDER = 21,      /* arg0: levels the outside world drives on the expander's port */
    COUPLER_OP_TEMPERATURE = 22,   /* arg0: the sensor's temperature in 0.5 degC steps */
    COUPLER_OP_SENSOR_INT = 23,    /* arg0: 1 the sensor's over-temperature output wired to INT */
    COUPLER_OP_BUS_LOG = 24,       /* answer data: decoded transfers since the last such request */
    COUPLER_OP_SDA_LOW_LATER = 25, /* SDA to ground after arg0 line changes (-1 none) or arg1 ms (0 none) */
    COUPLER_OP_LOCK_HOLDER = 26,   /* arg0: 1 a process takes the port's lock and keeps it, 0 it is killed */
    COUPLER_OP_EEPROM_TYPE = 27,   /* data: a 24C type's name: the bus powered up with such an EEPROM on */
    COUPLER_OP_TRACE = 28,         /* data: a file for the bus's trace from now on; none: the trace ends */
    COUPLER_OP_EEPROM_FILE = 29,   /* data: the EEPROM's file from now on, loaded at once; none: no file */
    COUPLER_OP_ADAPTER_JITTER = 30 /* after COUPLER_OP_ADAPTER (which ends any jitter): arg0 the status delay's
                                      and arg1 the cost's upper end in ms, each drawn per request */
};

/* Faults of the coupler, one at a time per port; see CouplerInputs. */
enum CouplerFault {
    COUPLER_FAULT_NONE = 0,
    COUPLER_FAULT_SDA_LOW = 1,     /* SDA stuck at ground: DSR always off */
    COUPLER_FAULT_SDA_HIGH = 2,    /* SDA stuck high: DSR always on */
    COUPLER_FAULT_NO_READBACK = 3, /* SDA read-back not wired: DSR always off */
    COUPLER_FAULT_SCL_LEAK = 4,    /* SCL leaks into SDA: DSR inverted 5 ms, faultDelayMs after RTS edges */
    COUPLER_FAULT_INT_LOW = 5,     /* INT stuck at ground: CTS always on */
    COUPLER_FAULT_SLOW_SDA = 6,    /* DSR takes a DTR level held for faultDelayMs */
    COUPLER_FAULT_COUNT = 7
};

/* The pty's line settings as the program left them (termios of the pty). */
struct CouplerTermios {
    uint32_t baud;       /* bits per second, 0 when the speed has no number */
    uint32_t dataBits;   /* 5 .. 8 */
    uint32_t parity;     /* 'n', 'e', 'o' (mark and space read as 'e'/'o' with CMSPAR set) */
    uint32_t stopBits;   /* 1 or 2 */
    uint32_t rtsCts;     /* CRTSCTS */
    uint32_t xonOutput;  /* IXON: output stops on XOFF */
    uint32_t xonInput;   /* IXOFF: input sends XOFF */
    uint32_t cflag, iflag, lflag, oflag;
    uint32_t reserved;
};

/* The coupler model's inputs from one moment on. A port keeps the latest
 * ones in a ring, so that a status delay can answer with the inputs as they
 * were some milliseconds ago (model.h). */
#define COUPLER_MODEL_DTR 1u        /* the program's DTR (SDA driven by the master) */
#define COUPLER_MODEL_RTS 2u
#define COUPLER_MODEL_SDA_HELD 4u   /* a slave holds SDA at ground (the s key) */
#define COUPLER_MODEL_INT_PULLED 8u /* INT at ground: CTS reads on */
#define COUPLER_MODEL_OVERRIDE 16u  /* inputs come from the three bits below */
#define COUPLER_MODEL_DSR 32u
#define COUPLER_MODEL_CTS 64u
#define COUPLER_MODEL_DCD 128u
#define COUPLER_MODEL_BUS_SDA_LOW 256u /* a chip or a bus fault holds SDA low */
#define COUPLER_MODEL_BUS_INT_LOW 512u /* a chip's interrupt output pulls INT low */
struct CouplerModel {
    int64_t since;         /* valid from this time on */
    int64_t dtrChanged;    /* time of the last DTR change up to then */
    int64_t rtsChanged;    /* time of the last RTS change up to then */
    uint32_t flags;        /* COUPLER_MODEL_* */
    uint32_t fault;        /* a CouplerFault */
    uint32_t faultDelayMs; /* slow SDA: DSR follows DTR after this; SCL leak: shows this long after edges */
    uint32_t pad;
};

#define COUPLER_HISTORY 256 /* models kept per port: enough for a 16 ms delay behind a fast master */

/* DTR, RTS and their change count in one word, so that a switch and the drop
 * at close cannot overwrite each other. */
#define COUPLER_LINE_DTR 1u
#define COUPLER_LINE_RTS 2u
#define COUPLER_LINE_COUNT_SHIFT 2

/* One virtual port. The preload library writes the lines, the history and
 * the request count; the daemon writes everything else, and the history and
 * lines when the model changes or the port closes. Both hold the port's
 * kernel lock (ModelLock, on the byte of `lock`) while they change the lines
 * or the history. */
struct CouplerPort {
    uint32_t exists;       /* the daemon made a pty for this COM number */
    uint32_t present;      /* COMn points at the pty */
    uint32_t busy;         /* pty locked: new opens fail */
    uint32_t vanished;     /* adapter pulled: line requests fail with EIO */
    uint32_t lines;        /* COUPLER_LINE_*: the output lines as the program last set them */
    uint32_t lock;         /* the byte range of the port's kernel lock (ModelLock); its value is unused */
    int64_t lastChange;    /* time of the last DTR/RTS change, in 100 ns units of
                              CLOCK_MONOTONIC_RAW: Wine's QueryPerformanceCounter */
    char pts[COUPLER_PTS_MAX]; /* "/dev/pts/K" of the slave side */
    uint32_t closes;       /* times the last handle to the port was closed */
    uint32_t linesAtClose; /* DTR (bit 0) and RTS (bit 1) just before the last close */
    uint32_t statusDelayMs; /* adapter: DSR, CTS and DCD read as they were this long ago */
    uint32_t requestCostMs; /* adapter: every line request takes this long */
    uint32_t lineRequests;  /* switches and samples the programs asked for */
    int32_t vanishAfter;    /* line requests still answered before the adapter is pulled, -1 never */
    uint32_t models;        /* models pushed so far: the newest is history[(models - 1) % COUPLER_HISTORY] */
    uint32_t handshakeKept; /* adapter: its driver keeps the RTS/CTS handshake on, whatever is set */
    struct CouplerModel history[COUPLER_HISTORY];
};

/* An adapter's jitter, per port: each sample's status delay is drawn from
 * statusDelayMs to statusDelayMaxMs, each request's cost from requestCostMs to
 * requestCostMaxMs (an upper end at or below the lower one: no jitter). As on
 * a real adapter, whose status reports arrive in order, no sample shows an
 * older moment than the sample before it (shownUpTo). Kept after the buses so
 * that every older field keeps its offset. */
struct CouplerJitter {
    int64_t shownUpTo;         /* the latest moment a sample has shown (state-file time), 0 none */
    uint32_t statusDelayMaxMs;
    uint32_t requestCostMaxMs;
    uint32_t draws;            /* numbers drawn so far: the next draw's input */
    uint32_t seed;             /* the port's sequence of draws (the daemon sets it) */
};

struct CouplerState {
    uint32_t magic;        /* COUPLER_MAGIC once the daemon is ready */
    uint32_t version;
    uint32_t daemonPid;
    uint32_t portCount;    /* COUPLER_MAX_PORTS */
    /* Request channel, one client at a time: the client fills op .. data,
     * then sets requestSeq to ackSeq + 1; the daemon answers in result and
     * data and then sets ackSeq to requestSeq. */
    uint32_t requestSeq;
    uint32_t ackSeq;
    uint32_t op;
    uint32_t com;
    int32_t arg[4];
    int32_t result;        /* 1 done, 0 refused (unknown port, bad request) */
    uint32_t dataLength;
    uint8_t data[COUPLER_DATA_MAX];
    struct CouplerPort ports[COUPLER_MAX_PORTS];
    struct CouplerBus buses[COUPLER_MAX_PORTS]; /* the I2C bus behind each port, same order */
    struct CouplerJitter jitter[COUPLER_MAX_PORTS]; /* each port's adapter jitter, same order */
};

#define COUPLER_PORT_SIZE (96 + 40 * COUPLER_HISTORY)
#define COUPLER_PORTS_OFFSET (56 + COUPLER_DATA_MAX)

/* Input lines as the coupler answers them (ModelInputs). */
#define COUPLER_IN_DSR 1
#define COUPLER_IN_CTS 2
#define COUPLER_IN_DCD 4

#ifdef __cplusplus
static_assert(sizeof(CouplerPort) == COUPLER_PORT_SIZE, "port record layout");
static_assert(sizeof(CouplerTermios) == 48, "line settings layout");
static_assert(offsetof(CouplerState, ports) == COUPLER_PORTS_OFFSET, "state layout");
static_assert(offsetof(CouplerPort, lastChange) == 24, "port record layout");
static_assert(offsetof(CouplerPort, history) == 96 && sizeof(CouplerModel) == 40, "port record layout");
static_assert(offsetof(CouplerState, buses) % 8 == 0, "state layout");
static_assert(sizeof(CouplerJitter) == 24 && offsetof(CouplerState, jitter) % 8 == 0, "state layout");
#else
_Static_assert(sizeof(struct CouplerPort) == COUPLER_PORT_SIZE, "port record layout");
_Static_assert(sizeof(struct CouplerTermios) == 48, "line settings layout");
_Static_assert(offsetof(struct CouplerState, ports) == COUPLER_PORTS_OFFSET, "state layout");
_Static_assert(offsetof(struct CouplerPort, lastChange) == 24, "port record layout");
_Static_assert(offsetof(struct CouplerPort, history) == 96 && sizeof(struct CouplerModel) == 40,
               "port record layout");
_Static_assert(offsetof(struct CouplerState, buses) % 8 == 0, "state layout");
_Static_assert(sizeof(struct CouplerJitter) == 24 && offsetof(struct CouplerState, jitter) % 8 == 0,
               "state layout");
#endif

#endif
