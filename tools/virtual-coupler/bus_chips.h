/* The chips behind the bus model's decoder (bus_chips.c): the 24C EEPROM
 * family, the PCF8574 port and the LM75 sensor, each behind one table entry
 * that the bus (bus.c) calls as the decoder reports the transfer. A chip
 * reads the transfer's context (address byte, byte index) from the decoder
 * and keeps its own state in its part of the record. Internal to the bus
 * model; the public face is bus.h. */
#ifndef VIRTUAL_COUPLER_BUS_CHIPS_H
#define VIRTUAL_COUPLER_BUS_CHIPS_H

#include "bus.h"

#define BUS_EEPROM_ADDRESS 0x50

struct ChipModel {
    uint32_t bit;                                                        /* BUS_CHIP_* */
    int (*answers)(const struct CouplerBus* bus, uint32_t address7);   /* the address is its own */
    int (*select)(struct CouplerBus* bus, int read, int64_t now);        /* addressed: 1 acknowledges */
    int (*write)(struct CouplerBus* bus, uint32_t value, int64_t now);   /* a data byte: 1 acknowledges */
    uint32_t (*read)(struct CouplerBus* bus);                             /* the next byte it sends */
    void (*stop)(struct CouplerBus* bus, int clean, int64_t now);        /* it leaves the transfer */
};

/* The chip with that BUS_CHIP_* bit, or at that 7-bit address (switched on
 * or not); 0 when none. */
const struct ChipModel* ChipByBit(uint32_t bit);
const struct ChipModel* ChipAt(const struct CouplerBus* bus, uint32_t address7);
/* Every chip at its power-up state (the EEPROM's type and content kept), the
 * port's pins driven to inputs. */
void ChipsPowerUp(struct CouplerBus* bus, uint8_t inputs);
/* A new EEPROM of that type in the old one's place: erased, pointer 0,
 * ready, WP as it was. */
void ChipsNewEeprom(struct CouplerBus* bus, uint32_t type);
/* The chips' part of the live view's line, appended to text. */
void ChipsDescribe(const struct CouplerBus* bus, int64_t now, char* text, uint32_t size);
/* Appends one part of a description, two blanks after the previous one. */
void BusDescribePart(char* text, uint32_t size, const char* part);

#endif
