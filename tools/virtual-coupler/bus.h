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
    uint32_t lock; /* 0 free, 1 held (BusLock) */
    uint32_t pad0;
    uint8_t body[BUS_RECORD_SIZE - 8];
};

/* Power-up: every chip switched on in chips at its power-up state (EEPROM
 * content kept), decoder idle, no fault, log emptied. */
void BusPowerUp(struct CouplerBus* bus, uint32_t chips);
/* The master's lines after a change (scl = RTS, sda = DTR), at now. */
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
 * bytes), moves *read on and returns the byte count. */
uint32_t BusTakeLog(const struct CouplerBus* bus, uint32_t* read, char* text, uint32_t size);
/* One line describing the chips' state for the live view. */
void BusDescribe(const struct CouplerBus* bus, char* text, uint32_t size);

/* The lock both writers hold around every call above. */
void BusLock(struct CouplerBus* bus);
void BusUnlock(struct CouplerBus* bus);

#ifdef __cplusplus
static_assert(sizeof(struct CouplerBus) == BUS_RECORD_SIZE, "bus record layout");
#else
_Static_assert(sizeof(struct CouplerBus) == BUS_RECORD_SIZE, "bus record layout");
#endif

#endif
