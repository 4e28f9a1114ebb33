/* The I2C bus behind the virtual coupler: a line-level decoder and the chips
 * on the bus, as plain C over one fixed-layout record per port that lives in
 * the state file. The preload library steps it on every DTR/RTS change of the
 * program (the master); the daemon reads it for the live view and changes it
 * on the client's requests. Both hold the record's lock while they do.
 *
 * Levels: 1 high (released), 0 low. Times: 100 ns ticks of
 * CLOCK_MONOTONIC_RAW, the state file's clock.
 *
 * The record has the same layout for the 32-bit preload library and the
 * 64-bit daemon: explicit padding, 64-bit fields at offsets divisible by 8. */
#ifndef VIRTUAL_COUPLER_BUS_H
#define VIRTUAL_COUPLER_BUS_H

#include <stddef.h>
#include <stdint.h>

/* Chips that can be switched on, by bit; addresses as wired on the bus. */
#define BUS_CHIP_EEPROM 1u   /* 24C02 at 0x50 */
#define BUS_CHIP_EXPANDER 2u /* 8-bit quasi-bidirectional port at 0x20 */
#define BUS_CHIP_SENSOR 4u   /* temperature sensor at 0x48 */
#define BUS_CHIPS_ALL 7u

/* Faults of the bus, one at a time. */
enum BusFault {
    BUS_FAULT_NONE = 0,
    BUS_FAULT_STUCK_SLAVE = 1, /* a read interrupted: the EEPROM is left driving a 0 bit */
    BUS_FAULT_NO_ACK = 2,      /* no chip acknowledges anything */
    BUS_FAULT_NO_PULLUP = 3,   /* SDA never rises */
    BUS_FAULT_TIMEOUT = 4,     /* chips drop their transfer when SCL stays low > 30 ms */
    BUS_FAULT_COUNT = 5
};

#define BUS_LOG_SIZE 2048 /* bytes of decoded transfers kept (a ring) */

/* One port's bus. Its size is fixed: the state file places one per port. */
#define BUS_RECORD_SIZE 4096
struct CouplerBus {
    uint32_t lock;  /* 0 free, 1 held (BusLock) */
    uint32_t chips; /* BUS_CHIP_* switched on */
    uint32_t fault; /* a BusFault */
    uint32_t scl;   /* the master's lines as last seen by BusLines */
    uint32_t sda;
    uint32_t level; /* the bus's SDA (wired AND) after the last call */

    /* The decoder: what any device on the bus sees. */
    uint32_t inTransfer; /* a START seen and no STOP since */
    uint32_t bit;        /* SCL rises in the current byte: 1..8 data, 9 the acknowledge */
    uint32_t risenHigh;  /* the last SCL rise counted a bit and SCL is still high */
    uint32_t byteIndex;  /* bytes since the START: 0 is the address byte */
    uint32_t shift;      /* bits sampled so far in the current byte */
    uint32_t address;    /* the address byte of this transfer */

    /* The slave taking part in the transfer and its line driver. */
    uint32_t active;   /* BUS_CHIP_* of the addressed chip, 0 none */
    uint32_t drive;    /* its SDA output: 1 released, 0 pulling low */
    uint32_t sending;  /* it transmits (read) and the master has not NACKed */
    uint32_t txByte;   /* byte being transmitted */
    uint32_t logOpen;  /* a log line has tokens and no end yet */
    uint32_t logWrite; /* bytes ever written to the log ring */
    uint32_t logStart; /* logWrite at power-up: older text is gone */
    uint32_t pad1;

    int64_t sclFell;    /* time SCL last fell (the time-out's measure) */
    int64_t busyUntil;  /* the EEPROM's write cycle ends at this time */
    int64_t cycleTicks; /* length of a write cycle (5 ms) */
    int64_t seen;       /* the latest time any call brought (BusDescribe's now) */

    /* 24C02 */
    uint32_t eepromPointer;   /* word-address counter */
    uint32_t eepromWordSeen;  /* this write carried its word address */
    uint32_t eepromMask;      /* page-buffer bytes written in this transfer, bit per offset */
    uint32_t writeProtect;    /* WP at Vcc */
    uint8_t eepromPage[8];    /* the page buffer */
    uint8_t eeprom[256];      /* the array */

    /* PCF8574-class port */
    uint32_t latch;     /* output latch, 0xFF at power-up */
    uint32_t inputs;    /* levels the outside world drives */
    uint32_t lastPort;  /* pin levels at the last read or write: INT while they differ */

    /* LM75-class sensor, temperatures in half degrees */
    uint32_t sensorPointer; /* 0 temperature, 1 configuration, 2 hysteresis, 3 over-temperature */
    uint32_t sensorByte;    /* byte of a two-byte register next in this transfer */
    uint32_t config;
    int32_t temperature;
    int32_t hysteresis;
    int32_t overTemp;
    uint32_t osActive;      /* the comparator's over-temperature state */
    uint32_t osToInt;       /* O.S. wired to INT */
    uint32_t regLatch;      /* a two-byte register's MSB held until its LSB comes */

    char log[BUS_LOG_SIZE];
    uint8_t reserved[BUS_RECORD_SIZE - 2488];
};

#ifdef __cplusplus
extern "C" {
#endif

/* Power-up: every chip switched on in chips at its power-up state (EEPROM
 * content kept), decoder idle with the master's lines as they are (scl, sda:
 * a power-up makes no START or STOP), no fault, log emptied, the inputs at
 * their defaults (port inputs 0xFF, WP off, O.S. not on INT). */
void BusPowerUp(struct CouplerBus* bus, uint32_t chips, int scl, int sda);
/* The master's lines after a change (scl = RTS, sda = DTR), at now. When
 * both changed, the SDA change is taken while SCL is low (before a rising
 * SCL, after a falling one): switching both at once makes no START or STOP. */
void BusLines(struct CouplerBus* bus, int scl, int sda, int64_t now);
/* 1 while something on the bus (a slave, a fault) holds SDA low at now. */
int BusHoldsSdaLow(const struct CouplerBus* bus, int64_t now);
/* 1 while a chip's open-drain interrupt output pulls INT low at now. */
int BusPullsIntLow(const struct CouplerBus* bus, int64_t now);

/* Settings from the live view and the client. */
void BusSetFault(struct CouplerBus* bus, uint32_t fault, int64_t now);
void BusSetExpanderInputs(struct CouplerBus* bus, uint8_t inputs, int64_t now);
void BusSetTemperature(struct CouplerBus* bus, int32_t halfDegrees); /* 43 = 21.5 degC */
void BusSetWriteProtect(struct CouplerBus* bus, int on);
void BusSetSensorInterrupt(struct CouplerBus* bus, int wiredToInt);
/* The EEPROM's 256 bytes, to load from and save to its file. */
uint8_t* BusEepromMemory(struct CouplerBus* bus);

/* Decoded transfers, one line each ("S 50 W A 00 A Sr 50 R A FF N P\n"),
 * in a ring: copies what came after position *read into text (at most size
 * bytes, no terminating zero), moves *read on and returns the byte count.
 * A position from before the last power-up or overwritten since reads on from
 * the oldest text kept. */
uint32_t BusTakeLog(const struct CouplerBus* bus, uint32_t* read, char* text, uint32_t size);
/* One line describing the chips' state for the live view, at now; BusDescribe
 * takes the latest time any call brought. */
void BusDescribeAt(const struct CouplerBus* bus, int64_t now, char* text, uint32_t size);
void BusDescribe(const struct CouplerBus* bus, char* text, uint32_t size);

/* The lock both writers hold around every call above. */
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
BUS_STATIC_ASSERT(sizeof(struct CouplerBus) == BUS_RECORD_SIZE, "bus record layout");
BUS_STATIC_ASSERT(offsetof(struct CouplerBus, sclFell) == 80, "bus record layout");
BUS_STATIC_ASSERT(offsetof(struct CouplerBus, seen) == 104, "bus record layout");
BUS_STATIC_ASSERT(offsetof(struct CouplerBus, eeprom) == 136, "bus record layout");
BUS_STATIC_ASSERT(offsetof(struct CouplerBus, log) == 440, "bus record layout");
#undef BUS_STATIC_ASSERT

#endif
