/* The I2C bus behind the virtual coupler: a line-level decoder
 * (bus_decoder.h) and the chips on the bus behind it (bus_chips.c), as plain
 * C over one fixed-layout record per port that lives in the state file. The
 * preload library steps it on every DTR/RTS change of the program (the
 * master); the daemon reads it for the live view and changes it
 * on the client's requests. Both hold the port's and the bus's lock
 * (model.h) while they do; an in-process host may use BusLock instead.
 *
 * The SDA wire is the wired AND of the master's DTR as the coupler passes it
 * (slow or stuck), the coupler's own holds, the chips and the bus faults: a
 * held SDA makes no START, no STOP and commits no page write.
 *
 * Levels: 1 high (released), 0 low. Times: 100 ns ticks of
 * CLOCK_MONOTONIC_RAW, the state file's clock (any monotonic clock in
 * 100 ns ticks for a host that simulates it).
 *
 * The record has the same layout for the 32-bit preload library and the
 * 64-bit daemon: every part is a multiple of 8 bytes with explicit padding,
 * 64-bit fields at offsets divisible by 8 (the asserts at the end). */
#ifndef VIRTUAL_COUPLER_BUS_H
#define VIRTUAL_COUPLER_BUS_H

#include <stddef.h>
#include <stdint.h>

#include "bus_decoder.h"

/* Chips that can be switched on, by bit; addresses as wired on the bus. */
#define BUS_CHIP_EEPROM 1u   /* a 24C EEPROM (BusEepromType, 24C02 by default) at 0x50 */
#define BUS_CHIP_EXPANDER 2u /* PCF8574 8-bit quasi-bidirectional port at 0x20 */
#define BUS_CHIP_SENSOR 4u   /* LM75 temperature sensor at 0x48 */
#define BUS_CHIPS_ALL 7u

/* Faults of the bus, one at a time. */
enum BusFault {
    BUS_FAULT_NONE = 0,
    BUS_FAULT_STUCK_SLAVE = 1,   /* a read interrupted: the EEPROM drives the first 0 bit of 0x00 (8 clocks) */
    BUS_FAULT_NO_ACK = 2,        /* no chip acknowledges anything */
    BUS_FAULT_NO_PULLUP = 3,     /* SDA never rises */
    BUS_FAULT_TIMEOUT = 4,       /* chips drop their transfer when SCL stays low > 30 ms */
    BUS_FAULT_STUCK_SLAVE_9 = 5, /* the EEPROM acknowledges its read address, then sends 0x00: 9 clocks */
    BUS_FAULT_SDA_LOW_LATER = 6, /* SDA shorted to ground mid-job (BusSetSdaLowLater) */
    BUS_FAULT_COUNT = 7
};

/* How the coupler passes the master's DTR onto SDA (its faults). */
enum BusSdaPath {
    BUS_SDA_PASSES = 0,     /* SDA follows DTR */
    BUS_SDA_STUCK_LOW = 1,  /* SDA at ground whatever anyone does */
    BUS_SDA_STUCK_HIGH = 2, /* SDA high: no one, not even a chip, can pull it */
    BUS_SDA_SLOW = 3        /* SDA takes a DTR level once DTR has held it the path's delay */
};

/* The EEPROM's type: a member of the 24C family. The 24C02 is 0, so a
 * record that never chose one holds a 24C02. */
enum BusEepromType {
    BUS_EEPROM_24C02 = 0, /* 256 bytes, 8-byte pages */
    BUS_EEPROM_24C01,     /* 128 bytes, 8-byte pages */
    BUS_EEPROM_24C04,     /* 512 bytes, 16-byte pages, block bit P0 */
    BUS_EEPROM_24C08,     /* 1 KiB, 16-byte pages, block bits P1 P0 */
    BUS_EEPROM_24C16,     /* 2 KiB, 16-byte pages, block bits P2 P1 P0 */
    BUS_EEPROM_24C32,     /* 4 KiB, 32-byte pages, two word-address bytes */
    BUS_EEPROM_24C64,     /* 8 KiB, 32-byte pages, two word-address bytes */
    BUS_EEPROM_24C128,    /* 16 KiB, 64-byte pages, two word-address bytes */
    BUS_EEPROM_24C256,    /* 32 KiB, 64-byte pages, two word-address bytes */
    BUS_EEPROM_24C512,    /* 64 KiB, 128-byte pages, two word-address bytes */
    BUS_EEPROM_TYPE_COUNT
};
#define BUS_EEPROM_MAX 65536 /* bytes of the largest type, the 24C512 */
#define BUS_EEPROM_PAGE_MAX 128

/* The EEPROM's write-protect input, as the makers differ. */
enum BusWriteProtect {
    BUS_WP_OFF = 0,
    BUS_WP_ACK = 1,   /* WP high: everything acknowledged, nothing written, no write cycle */
    BUS_WP_REFUSE = 2 /* WP high: the data bytes after the word address are not acknowledged */
};

/* One entry of the bus log. */
enum BusEventKind {
    BUS_EVENT_START = 1,   /* S */
    BUS_EVENT_RESTART = 2, /* Sr */
    BUS_EVENT_STOP = 3,    /* P, ends the line */
    BUS_EVENT_ADDRESS = 4, /* byte: the address byte, shown as the 7-bit address and W or R */
    BUS_EVENT_BYTE = 5,    /* byte: a data byte as it was on the bus */
    BUS_EVENT_ACK = 6,     /* A */
    BUS_EVENT_NACK = 7,    /* N */
    BUS_EVENT_CUT = 8,     /* ?: a START or STOP inside a byte or before its acknowledge */
    BUS_EVENT_TIMEOUT = 9, /* T: the chips dropped the transfer (SCL low too long) */
    BUS_EVENT_BOTH = 10,   /* ~: one request changed SCL and SDA together, no order promised */
    BUS_EVENT_END = 11     /* the line ends without a token (a fault set, a lone ~) */
};
struct BusEvent {
    int64_t time;  /* when it happened */
    uint32_t kind; /* a BusEventKind */
    uint32_t byte; /* the byte of ADDRESS and BYTE */
};
#define BUS_LOG_EVENTS 512 /* events kept (a ring) */

/* The chip taking part in the transfer and its SDA driver. */
struct BusSlave {
    uint32_t chip;     /* BUS_CHIP_* of the addressed chip, 0 none */
    uint32_t drive;    /* its SDA output: 1 released, 0 pulling low */
    uint32_t sending;  /* it transmits (read) and the master has not NACKed */
    uint32_t txByte;   /* byte being transmitted */
    uint32_t forceZero; /* the next byte sent is 0x00 whatever the chip holds (stuck slave) */
    uint32_t pad;
};

/* The coupler's part of SDA: its path for DTR and its holds. */
struct BusCouplerSda {
    uint32_t path;   /* a BusSdaPath */
    uint32_t held;   /* the coupler's "SDA held" input (a slave outside the bus model) */
    uint32_t passed; /* DTR as the path has passed it so far */
    uint32_t dtr;    /* the master's DTR as last seen */
    int64_t delayTicks; /* BUS_SDA_SLOW: how long DTR must hold a level */
    int64_t dtrChanged; /* time of the master's last DTR change */
};

/* BUS_FAULT_SDA_LOW_LATER: armed, then SDA held low for good. */
struct BusLaterFault {
    int32_t changesLeft; /* line changes still to come before it fires, -1 not counted */
    uint32_t fired;      /* SDA is held low */
    int64_t at;          /* it fires at this time, 0 not timed */
};

/* A 24C EEPROM; its array is CouplerBus.memory. */
struct BusEeprom {
    uint32_t type;         /* a BusEepromType, kept across power-ups */
    uint32_t pointer;      /* word-address counter, 0 .. size - 1 */
    uint32_t wordSeen;     /* word-address bytes this write has carried */
    uint32_t writeProtect; /* a BusWriteProtect */
    uint32_t mask[4];      /* page-buffer bytes written in this transfer, bit per offset */
    uint8_t page[BUS_EEPROM_PAGE_MAX]; /* the page buffer */
    int64_t busyUntil;     /* the write cycle ends at this time */
    int64_t cycleTicks;    /* length of a write cycle (5 ms) */
};

/* PCF8574 */
struct BusExpander {
    uint32_t latch;    /* output latch, 0xFF at power-up */
    uint32_t inputs;   /* levels the outside world drives */
    uint32_t lastPort; /* pin levels at the last read or write (0xFF at power-up): INT while they differ */
    uint32_t pad;
};

/* LM75, temperatures in half degrees */
struct BusSensor {
    uint32_t pointer;    /* 0 temperature, 1 configuration, 2 hysteresis, 3 over-temperature */
    uint32_t byteNext;   /* byte of a two-byte register next in this transfer */
    uint32_t config;     /* bits 0-4; 5-7 read as 0 */
    uint32_t regLatch;   /* a two-byte register's MSB held until its LSB comes */
    int32_t ambient;     /* the temperature around the chip */
    int32_t temperature; /* the temperature register: the last conversion */
    int32_t hysteresis;
    int32_t overTemp;
    uint32_t osActive;    /* the O.S. output is active */
    uint32_t expectBelow; /* the next O.S. event is a fall below the hysteresis (else a rise above Tos) */
    uint32_t faults;      /* consecutive conversions that met the next event's condition */
    uint32_t osToInt;     /* O.S. wired to INT */
};

/* The trace: every change of the lines as the chips saw them, with its time,
 * for a value change dump. A change is one 64-bit word, time << 8 | signals,
 * in a ring that a reader drains (BusTakeTrace); a reader that falls more than
 * BUS_TRACE_CHANGES behind loses the oldest and is told how many. */
#define BUS_TRACE_SCL 1u      /* SCL (the master's RTS) */
#define BUS_TRACE_SDA 2u      /* the SDA wire */
#define BUS_TRACE_DTR 4u      /* the master's SDA output (DTR) */
#define BUS_TRACE_CHIP_SHIFT 3 /* BUS_CHIP_* << 3: that chip pulls SDA low */
#define BUS_TRACE_CHANGES 8192
struct BusTraceChange {
    int64_t time;     /* when the lines took these levels */
    uint32_t signals; /* BUS_TRACE_* */
    uint32_t pad;
};

/* One port's bus. Its size is fixed: the state file places one per port. */
#define BUS_RECORD_SIZE 147456
struct CouplerBus {
    uint32_t lock;  /* 0 free, 1 held (BusLock, for in-process hosts) */
    uint32_t chips; /* BUS_CHIP_* switched on */
    uint32_t fault; /* a BusFault */
    uint32_t pad0;
    int64_t seen; /* the latest time any call brought (BusDescribe's now) */
    struct BusDecoder decoder;
    struct BusSlave slave;
    struct BusCouplerSda coupler;
    struct BusLaterFault later;
    struct BusEeprom eeprom;
    struct BusExpander expander;
    struct BusSensor sensor;
    uint32_t logWrite; /* events ever written to the log ring */
    uint32_t logStart; /* logWrite at power-up: older events are gone */
    struct BusEvent log[BUS_LOG_EVENTS];
    uint32_t traceWrite;   /* changes ever written to the trace ring (kept across power-ups) */
    uint32_t traceSignals; /* the signals of the latest change */
    uint8_t reserved[16384 - 8592];
    uint8_t memory[BUS_EEPROM_MAX];       /* the EEPROM's array: its type's size from 0 on */
    uint64_t trace[BUS_TRACE_CHANGES];    /* the trace ring: time << 8 | signals */
};

#ifdef __cplusplus
extern "C" {
#endif

/* Power-up: every chip switched on in chips at its power-up state (EEPROM
 * content kept), decoder idle with the master's lines as they are (scl, sda:
 * a power-up makes no START or STOP), no fault, the coupler's SDA path passing
 * and not held, log emptied, the inputs at their defaults (port inputs 0xFF,
 * WP off, O.S. not on INT, 21.5 degC). */
void BusPowerUp(struct CouplerBus* bus, uint32_t chips, int scl, int sda);
/* BusPowerUp with the expander's pins driven to `inputs` by the outside world
 * before power-up: the interrupt compares the pins with the power-up latch
 * 0xFF, so a pin held low pulls INT low from power-up until the first read
 * or write of the port. */
void BusPowerUpWithInputs(struct CouplerBus* bus, uint32_t chips, int scl, int sda, uint8_t inputs);
/* The master's lines after a change (scl = RTS, sda = DTR), at now. When
 * both changed, the bus logs BUS_EVENT_BOTH (a line of its own outside a
 * transfer) and takes the SDA change while SCL is low (before a rising SCL,
 * after a falling one): opening or closing the port makes no START or STOP. */
void BusLines(struct CouplerBus* bus, int scl, int sda, int64_t now);
/* 1 while something besides the master's DTR holds SDA low at now: a chip,
 * a bus fault, the coupler's hold or its stuck-low path. */
int BusHoldsSdaLow(const struct CouplerBus* bus, int64_t now);
/* 1 while a chip's open-drain interrupt output pulls INT low at now. */
int BusPullsIntLow(const struct CouplerBus* bus, int64_t now);

/* Settings from the live view and the client. Any fault first ends the
 * transfer on the bus; BUS_FAULT_SDA_LOW_LATER set here fires at once. */
void BusSetFault(struct CouplerBus* bus, uint32_t fault, int64_t now);
/* Arms BUS_FAULT_SDA_LOW_LATER: SDA goes to ground for good after `changes`
 * more line changes of the master (changes >= 0), or at time `at` (at > 0),
 * whichever comes first; going low while SCL is high is a START, as on a
 * real bus. */
void BusSetSdaLowLater(struct CouplerBus* bus, int32_t changes, int64_t at, int64_t now);
/* The coupler's SDA path (a BusSdaPath; delayMs for BUS_SDA_SLOW) and its
 * hold, at now: the wire changes at once (a fall or a rise while SCL is high
 * is a START or a STOP). */
void BusSetSdaPath(struct CouplerBus* bus, uint32_t path, uint32_t delayMs, int64_t now);
void BusSetSdaHeld(struct CouplerBus* bus, int held, int64_t now);
void BusSetExpanderInputs(struct CouplerBus* bus, uint8_t inputs, int64_t now);
/* One conversion of the sensor at halfDegrees (43 = 21.5 degC): the register
 * and O.S. follow unless the sensor is shut down (configuration bit 0). */
void BusSetTemperature(struct CouplerBus* bus, int32_t halfDegrees);
/* A temperature as people write it ("60.5", "-5", "21.0") in half degrees;
 * 0 for anything else, or outside the sensor's -128 to +127.5 degC. */
int BusTemperatureFromText(const char* text, int32_t* halfDegrees);
/* A BusWriteProtect: 0 off, BUS_WP_REFUSE, any other value BUS_WP_ACK. */
void BusSetWriteProtect(struct CouplerBus* bus, int on);
void BusSetSensorInterrupt(struct CouplerBus* bus, int wiredToInt);
/* The EEPROM's array (BusEepromSize bytes), to load from and save to its file. */
uint8_t* BusEepromMemory(struct CouplerBus* bus);
/* The 24C family: a type by its name ("24c256", "24C02"; case ignored), -1
 * when there is none such; a type's name ("24C256"), "" when out of range. */
int BusEepromTypeNamed(const char* name);
const char* BusEepromTypeName(uint32_t type);
/* A new chip of that type in the EEPROM's place: erased (0xFF), pointer 0,
 * ready, WP as it was. The chips switched on stay so. 0 for no such type. */
int BusSetEepromType(struct CouplerBus* bus, uint32_t type);
uint32_t BusEepromSize(const struct CouplerBus* bus);

/* The log, as events: copies at most max events that came after position
 * *read, moves *read on and returns their count. A position from before the
 * last power-up or overwritten since reads on from the oldest event kept. */
uint32_t BusTakeEvents(const struct CouplerBus* bus, uint32_t* read, struct BusEvent* events, uint32_t max);
/* One event as text ("S", " 50 W", " A", " P\n", ...) after `previous` (0
 * when there is none): a blank before a token inside a line, a line break
 * after P and before an S that follows an open line. Returns the length
 * written into text (at most size - 1, zero-terminated). */
uint32_t BusEventText(const struct BusEvent* event, const struct BusEvent* previous, char* text, uint32_t size);
/* The log as text, one line per transfer ("S 50 W A 00 A Sr 50 R A FF N P\n"):
 * whole events after *read that fit into size bytes (no terminating zero);
 * moves *read on and returns the byte count. */
uint32_t BusTakeLog(const struct CouplerBus* bus, uint32_t* read, char* text, uint32_t size);
/* The trace, as changes: copies at most max changes that came after position
 * *read, moves *read on and returns their count; *lost (when not null) gets
 * the number of changes overwritten before they were read. A reader starts
 * at traceWrite, with traceSignals as the lines' levels then. */
uint32_t BusTakeTrace(const struct CouplerBus* bus, uint32_t* read, struct BusTraceChange* changes, uint32_t max,
                      uint32_t* lost);

/* One line describing the chips' state for the live view, at now; BusDescribe
 * takes the latest time any call brought. */
void BusDescribeAt(const struct CouplerBus* bus, int64_t now, char* text, uint32_t size);
void BusDescribe(const struct CouplerBus* bus, char* text, uint32_t size);

/* A lock word in the record for hosts that share one record between
 * threads of one process. The daemon and the library use the state file's
 * kernel locks instead (model.h), which a dead holder cannot keep. */
void BusLock(struct CouplerBus* bus);
void BusUnlock(struct CouplerBus* bus);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
#define BUS_STATIC_ASSERT static_assert
#else
#define BUS_STATIC_ASSERT _Static_assert
#endif
BUS_STATIC_ASSERT(sizeof(struct BusEvent) == 16, "bus event layout");
BUS_STATIC_ASSERT(sizeof(struct BusDecoder) == 48 && sizeof(struct BusSlave) == 24, "bus record layout");
BUS_STATIC_ASSERT(sizeof(struct BusCouplerSda) == 32 && sizeof(struct BusLaterFault) == 16, "bus record layout");
BUS_STATIC_ASSERT(sizeof(struct BusEeprom) == 176 && sizeof(struct BusExpander) == 16, "bus record layout");
BUS_STATIC_ASSERT(sizeof(struct BusSensor) == 48 && sizeof(struct BusTraceChange) == 16, "bus record layout");
BUS_STATIC_ASSERT(offsetof(struct CouplerBus, decoder) == 24, "bus record layout");
BUS_STATIC_ASSERT(offsetof(struct CouplerBus, coupler) == 96, "bus record layout");
BUS_STATIC_ASSERT(offsetof(struct CouplerBus, eeprom) == 144, "bus record layout");
BUS_STATIC_ASSERT(offsetof(struct CouplerBus, sensor) == 336, "bus record layout");
BUS_STATIC_ASSERT(offsetof(struct CouplerBus, log) == 392, "bus record layout");
BUS_STATIC_ASSERT(offsetof(struct CouplerBus, traceWrite) == 8584, "bus record layout");
BUS_STATIC_ASSERT(offsetof(struct CouplerBus, memory) == 16384, "bus record layout");
BUS_STATIC_ASSERT(offsetof(struct CouplerBus, trace) == 16384 + BUS_EEPROM_MAX, "bus record layout");
BUS_STATIC_ASSERT(sizeof(struct CouplerBus) == BUS_RECORD_SIZE, "bus record layout");
#undef BUS_STATIC_ASSERT

#endif
