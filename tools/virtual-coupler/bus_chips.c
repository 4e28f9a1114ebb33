/* The chips behind the bus model's decoder (see bus_chips.h): what each
 * does with its address, the bytes written to it and the bytes it sends.
 * Plain C99 over the record alone. */
#include "bus_chips.h"

#include <stdio.h>
#include <string.h>

#define TICKS_PER_MS 10000
#define WRITE_CYCLE_TICKS (5 * TICKS_PER_MS) /* the 24C02's tWR, 5 ms at most */

#define EXPANDER_ADDRESS 0x20
#define SENSOR_ADDRESS 0x48

/* LM75 configuration bits */
#define SENSOR_SHUTDOWN 0x01  /* no conversions: the temperature register is frozen */
#define SENSOR_INTERRUPT 0x02 /* O.S. in interrupt mode (else comparator) */
#define SENSOR_POLARITY 0x04  /* O.S. active high */
#define SENSOR_QUEUE_SHIFT 3  /* bits 3-4: the fault queue */
#define SENSOR_CONFIG_BITS 0x1F

/* ---- the 24C EEPROM family ---- */

/* The makers' figures per type (Atmel AT24C01A-16, Microchip 24LC01B-512):
 * block bits are the device address's low bits that a chip of more than
 * 256 bytes with one word-address byte takes as the word address's high
 * bits (P0..P2); it answers at all the addresses they span. */
struct EepromModel {
    const char* name;
    uint32_t size;      /* bytes */
    uint32_t page;      /* page-buffer bytes */
    uint32_t wordBytes; /* word-address bytes, high first */
    uint32_t blockBits;
};

static const struct EepromModel EEPROMS[BUS_EEPROM_TYPE_COUNT] = {
    [BUS_EEPROM_24C02] = {"24C02", 256, 8, 1, 0},        [BUS_EEPROM_24C01] = {"24C01", 128, 8, 1, 0},
    [BUS_EEPROM_24C04] = {"24C04", 512, 16, 1, 1},       [BUS_EEPROM_24C08] = {"24C08", 1024, 16, 1, 2},
    [BUS_EEPROM_24C16] = {"24C16", 2048, 16, 1, 3},      [BUS_EEPROM_24C32] = {"24C32", 4096, 32, 2, 0},
    [BUS_EEPROM_24C64] = {"24C64", 8192, 32, 2, 0},      [BUS_EEPROM_24C128] = {"24C128", 16384, 64, 2, 0},
    [BUS_EEPROM_24C256] = {"24C256", 32768, 64, 2, 0},   [BUS_EEPROM_24C512] = {"24C512", 65536, 128, 2, 0},
};

static const struct EepromModel* Eeprom(const struct CouplerBus* bus)
{
    return &EEPROMS[bus->eeprom.type < BUS_EEPROM_TYPE_COUNT ? bus->eeprom.type : BUS_EEPROM_24C02];
}

static int EepromBusy(const struct CouplerBus* bus, int64_t now) { return now < bus->eeprom.busyUntil; }

/* The block the device address selects, as word-address bits 8 and up. */
static uint32_t EepromBlock(const struct CouplerBus* bus)
{
    return ((bus->decoder.address >> 1) & ((1u << Eeprom(bus)->blockBits) - 1)) << 8;
}

/* It does not acknowledge its address during the write cycle (a master
 * polls). A block-select chip's current-address read takes the block from
 * the device address and the rest from its counter. */
static int EepromSelect(struct CouplerBus* bus, int read, int64_t now)
{
    struct BusEeprom* chip = &bus->eeprom;
    if (EepromBusy(bus, now))
        return 0;
    memset(chip->mask, 0, sizeof chip->mask);
    chip->wordSeen = 0;
    if (read && Eeprom(bus)->blockBits)
        chip->pointer = EepromBlock(bus) | (chip->pointer & 0xFF);
    return 1;
}

/* The word address first (one byte, or two high first; a block-select chip
 * adds its block), then data into the page buffer: the pointer's offset in
 * the page counts and wraps within the page, later bytes overwriting earlier
 * ones. Makers whose WP refuses the data bytes NACK them. */
static int EepromWrite(struct CouplerBus* bus, uint32_t value, int64_t now)
{
    struct BusEeprom* chip = &bus->eeprom;
    const struct EepromModel* model = Eeprom(bus);
    (void)now;
    if (chip->wordSeen < model->wordBytes) {
        if (model->wordBytes == 2 && chip->wordSeen == 0)
            chip->pointer = (value << 8) & (model->size - 1);
        else if (model->wordBytes == 2)
            chip->pointer = (chip->pointer & 0xFF00) | (value & 0xFF);
        else
            chip->pointer = (EepromBlock(bus) | (value & 0xFF)) & (model->size - 1);
        ++chip->wordSeen;
        return 1;
    }
    if (chip->writeProtect == BUS_WP_REFUSE)
        return 0;
    uint32_t offset = chip->pointer & (model->page - 1);
    chip->page[offset] = (uint8_t)value;
    chip->mask[offset / 32] |= 1u << (offset % 32);
    chip->pointer = (chip->pointer & ~(model->page - 1)) | ((offset + 1) & (model->page - 1));
    return 1;
}

/* Sequential reads run over the whole array and roll over at its end. */
static uint32_t EepromRead(struct CouplerBus* bus)
{
    uint32_t value = bus->memory[bus->eeprom.pointer];
    bus->eeprom.pointer = (bus->eeprom.pointer + 1) & (Eeprom(bus)->size - 1);
    return value;
}

/* The page buffer goes to the array only at a STOP after whole bytes; with WP
 * high the chip starts no write cycle and is ready at once. */
static void EepromStop(struct CouplerBus* bus, int clean, int64_t now)
{
    struct BusEeprom* chip = &bus->eeprom;
    uint32_t page = Eeprom(bus)->page, any = chip->mask[0] | chip->mask[1] | chip->mask[2] | chip->mask[3];
    if (clean && !(bus->decoder.address & 1) && any && chip->writeProtect == BUS_WP_OFF) {
        uint32_t base = chip->pointer & ~(page - 1);
        for (uint32_t offset = 0; offset < page; ++offset)
            if (chip->mask[offset / 32] & (1u << (offset % 32)))
                bus->memory[base + offset] = chip->page[offset];
        chip->busyUntil = now + chip->cycleTicks;
    }
    memset(chip->mask, 0, sizeof chip->mask);
    chip->wordSeen = 0;
}

/* A block-select type answers at every address its block bits span. */
static int EepromAnswers(const struct CouplerBus* bus, uint32_t address7)
{
    return (address7 & ~((1u << Eeprom(bus)->blockBits) - 1)) == BUS_EEPROM_ADDRESS;
}

/* ---- the PCF8574 ---- */

/* Quasi-bidirectional pins: a latch 1 is a weak pull-up that the outside
 * world can pull down, a latch 0 drives low. */
static uint32_t PortPins(const struct CouplerBus* bus) { return bus->expander.latch & bus->expander.inputs; }

static int ExpanderSelect(struct CouplerBus* bus, int read, int64_t now)
{
    (void)bus, (void)read, (void)now;
    return 1;
}

/* Writing the port sets the latch and resets INT. */
static int ExpanderWrite(struct CouplerBus* bus, uint32_t value, int64_t now)
{
    (void)now;
    bus->expander.latch = value & 0xFF;
    bus->expander.lastPort = PortPins(bus);
    return 1;
}

/* Reading the port returns the pin levels and resets INT. */
static uint32_t ExpanderRead(struct CouplerBus* bus)
{
    bus->expander.lastPort = PortPins(bus);
    return bus->expander.lastPort;
}

/* ---- the LM75 ---- */

static int SensorPullsOsLow(const struct CouplerBus* bus)
{
    uint32_t activeHigh = (bus->sensor.config & SENSOR_POLARITY) != 0;
    return bus->sensor.osActive != activeHigh;
}

/* One conversion. O.S. changes once as many conversions in a row as the
 * fault queue asks (1, 2, 4, 6) have met the next event's condition: a
 * temperature above Tos, or below Thyst once O.S. went active. In comparator
 * mode O.S. follows those events; in interrupt mode each event makes O.S.
 * active, and only a read of a register makes it inactive. */
static void SensorConvert(struct CouplerBus* bus)
{
    static const uint32_t QUEUE[4] = {1, 2, 4, 6};
    struct BusSensor* chip = &bus->sensor;
    if (chip->config & SENSOR_SHUTDOWN)
        return;
    chip->temperature = chip->ambient;
    int met = chip->expectBelow ? chip->temperature < chip->hysteresis : chip->temperature > chip->overTemp;
    if (!met) {
        chip->faults = 0;
        return;
    }
    if (++chip->faults < QUEUE[(chip->config >> SENSOR_QUEUE_SHIFT) & 3])
        return;
    chip->faults = 0;
    chip->expectBelow = !chip->expectBelow;
    chip->osActive = (chip->config & SENSOR_INTERRUPT) ? 1 : chip->expectBelow;
}

/* Reserved bits 5-7 stay 0. A change of the O.S. mode starts it inactive;
 * shutdown in interrupt mode resets O.S.; leaving shutdown converts at once. */
static void SensorConfigure(struct BusSensor* chip, uint32_t value)
{
    uint32_t old = chip->config;
    chip->config = value & SENSOR_CONFIG_BITS;
    if ((old ^ chip->config) & SENSOR_INTERRUPT)
        chip->osActive = chip->expectBelow = chip->faults = 0;
    if ((chip->config & SENSOR_SHUTDOWN) && (chip->config & SENSOR_INTERRUPT))
        chip->osActive = 0;
}

static int SensorSelect(struct CouplerBus* bus, int read, int64_t now)
{
    (void)read, (void)now;
    bus->sensor.byteNext = 0;
    return 1;
}

/* The first byte written sets the pointer; then the configuration (one byte)
 * or a limit (MSB, then LSB); the temperature itself is read-only. */
static int SensorWrite(struct CouplerBus* bus, uint32_t value, int64_t now)
{
    struct BusSensor* chip = &bus->sensor;
    (void)now;
    if (bus->decoder.byteIndex == 1) {
        chip->pointer = value & 3;
        chip->byteNext = 0;
    } else if (chip->pointer == 1) {
        uint32_t wasShutDown = chip->config & SENSOR_SHUTDOWN;
        SensorConfigure(chip, value);
        if (wasShutDown && !(chip->config & SENSOR_SHUTDOWN))
            SensorConvert(bus);
    } else if (chip->pointer >= 2 && chip->byteNext == 0) {
        chip->regLatch = value;
        chip->byteNext = 1;
    } else if (chip->pointer >= 2) {
        int32_t half = (int32_t)((chip->regLatch << 1) | (value >> 7));
        if (half & 0x100)
            half -= 0x200;
        *(chip->pointer == 2 ? &chip->hysteresis : &chip->overTemp) = half;
        chip->byteNext = 0;
    }
    return 1;
}

/* A temperature register as sent: 9-bit two's complement in half degrees,
 * MSB first, the LSB's top bit holding the half. Any read resets O.S. in
 * interrupt mode. */
static uint32_t SensorRead(struct CouplerBus* bus)
{
    struct BusSensor* chip = &bus->sensor;
    if (chip->config & SENSOR_INTERRUPT)
        chip->osActive = 0;
    if (chip->pointer == 1)
        return chip->config;
    int32_t half = chip->pointer == 0 ? chip->temperature : chip->pointer == 2 ? chip->hysteresis : chip->overTemp;
    uint32_t value = chip->byteNext == 0 ? ((uint32_t)half >> 1) & 0xFF : ((uint32_t)half & 1) << 7;
    chip->byteNext ^= 1;
    return value;
}

static void NoStop(struct CouplerBus* bus, int clean, int64_t now) { (void)bus, (void)clean, (void)now; }

static int ExpanderAnswers(const struct CouplerBus* bus, uint32_t address7)
{
    (void)bus;
    return address7 == EXPANDER_ADDRESS;
}

static int SensorAnswers(const struct CouplerBus* bus, uint32_t address7)
{
    (void)bus;
    return address7 == SENSOR_ADDRESS;
}

/* ---- the chip table ---- */

static const struct ChipModel CHIPS[] = {
    {BUS_CHIP_EEPROM, EepromAnswers, EepromSelect, EepromWrite, EepromRead, EepromStop},
    {BUS_CHIP_EXPANDER, ExpanderAnswers, ExpanderSelect, ExpanderWrite, ExpanderRead, NoStop},
    {BUS_CHIP_SENSOR, SensorAnswers, SensorSelect, SensorWrite, SensorRead, NoStop},
};
#define CHIP_COUNT (sizeof CHIPS / sizeof CHIPS[0])

const struct ChipModel* ChipByBit(uint32_t bit)
{
    for (size_t i = 0; i < CHIP_COUNT; ++i)
        if (CHIPS[i].bit == bit)
            return &CHIPS[i];
    return 0;
}

const struct ChipModel* ChipAt(const struct CouplerBus* bus, uint32_t address7)
{
    for (size_t i = 0; i < CHIP_COUNT; ++i)
        if (CHIPS[i].answers(bus, address7))
            return &CHIPS[i];
    return 0;
}

/* ---- power-up, the live view, the interrupt ---- */

void ChipsPowerUp(struct CouplerBus* bus, uint8_t inputs)
{
    bus->eeprom.cycleTicks = WRITE_CYCLE_TICKS;
    bus->expander.latch = bus->expander.lastPort = 0xFF;
    bus->expander.inputs = inputs;
    bus->sensor.hysteresis = 150; /* 75 degC */
    bus->sensor.overTemp = 160;   /* 80 degC */
    bus->sensor.ambient = bus->sensor.temperature = 43; /* 21.5 degC */
}

void ChipsNewEeprom(struct CouplerBus* bus, uint32_t type)
{
    uint32_t writeProtect = bus->eeprom.writeProtect;
    memset(&bus->eeprom, 0, sizeof bus->eeprom);
    bus->eeprom.type = type;
    bus->eeprom.writeProtect = writeProtect;
    bus->eeprom.cycleTicks = WRITE_CYCLE_TICKS;
    memset(bus->memory, 0xFF, sizeof bus->memory);
}

int BusPullsIntLow(const struct CouplerBus* bus, int64_t now)
{
    (void)now;
    if ((bus->chips & BUS_CHIP_EXPANDER) && PortPins(bus) != bus->expander.lastPort)
        return 1;
    return (bus->chips & BUS_CHIP_SENSOR) && bus->sensor.osToInt && SensorPullsOsLow(bus);
}


void BusDescribePart(char* text, uint32_t size, const char* part)
{
    size_t used = strlen(text);
    if (*part && used + 3 < size)
        snprintf(text + used, size - used, "%s%s", used ? "  " : "", part);
}

void ChipsDescribe(const struct CouplerBus* bus, int64_t now, char* text, uint32_t size)
{
    static const char* const WP[] = {"", " WP", " WP refusing"};
    char part[112];
    if (bus->chips & BUS_CHIP_EEPROM) {
        const struct EepromModel* model = Eeprom(bus);
        snprintf(part, sizeof part, "EEPROM %s ptr %0*X page %0*X %s%s", model->name, model->size > 256 ? 4 : 2,
                 (unsigned)bus->eeprom.pointer, model->size > 256 ? 4 : 2,
                 (unsigned)(bus->eeprom.pointer & ~(model->page - 1)), EepromBusy(bus, now) ? "writing" : "ready",
                 WP[bus->eeprom.writeProtect <= BUS_WP_REFUSE ? bus->eeprom.writeProtect : 0]);
        BusDescribePart(text, size, part);
    }
    if (bus->chips & BUS_CHIP_EXPANDER) {
        snprintf(part, sizeof part, "port latch %02X inputs %02X INT %s", (unsigned)bus->expander.latch,
                 (unsigned)bus->expander.inputs, PortPins(bus) != bus->expander.lastPort ? "low" : "high");
        BusDescribePart(text, size, part);
    }
    if (bus->chips & BUS_CHIP_SENSOR) {
        int32_t t = bus->sensor.temperature;
        snprintf(part, sizeof part, "temp %s%d.%d C ptr %u config %02X O.S. %s%s", t < 0 ? "-" : "",
                 (int)((t < 0 ? -t : t) / 2), (t & 1) ? 5 : 0, (unsigned)bus->sensor.pointer,
                 (unsigned)bus->sensor.config, bus->sensor.osActive ? "active" : "off",
                 bus->sensor.osToInt ? " on INT" : "");
        BusDescribePart(text, size, part);
    }
    if (!bus->chips)
        BusDescribePart(text, size, "no chips");
}

/* ---- settings ---- */

void BusSetExpanderInputs(struct CouplerBus* bus, uint8_t inputs, int64_t now)
{
    bus->seen = now;
    bus->expander.inputs = inputs;
}

void BusSetTemperature(struct CouplerBus* bus, int32_t halfDegrees)
{
    if (halfDegrees < -256)
        halfDegrees = -256;
    if (halfDegrees > 255)
        halfDegrees = 255;
    bus->sensor.ambient = halfDegrees;
    SensorConvert(bus);
}

int BusTemperatureFromText(const char* text, int32_t* halfDegrees)
{
    /* Whole degrees, then at most one decimal that is 0 or 5. */
    const char* at = text;
    int negative = *at == '-';
    int32_t whole = 0, digits = 0, half = 0;
    at += negative;
    for (; *at >= '0' && *at <= '9' && digits < 4; ++at, ++digits)
        whole = whole * 10 + (*at - '0');
    if (!digits)
        return 0;
    if (*at == '.' && (at[1] == '0' || at[1] == '5')) {
        half = at[1] == '5';
        at += 2;
    }
    if (*at)
        return 0;
    int32_t value = (negative ? -1 : 1) * (whole * 2 + half);
    if (value < -256 || value > 255)
        return 0;
    *halfDegrees = value;
    return 1;
}

void BusSetWriteProtect(struct CouplerBus* bus, int on)
{
    bus->eeprom.writeProtect = on == 0 ? BUS_WP_OFF : on == BUS_WP_REFUSE ? BUS_WP_REFUSE : BUS_WP_ACK;
}

void BusSetSensorInterrupt(struct CouplerBus* bus, int wiredToInt) { bus->sensor.osToInt = wiredToInt != 0; }

uint8_t* BusEepromMemory(struct CouplerBus* bus) { return bus->memory; }

uint32_t BusEepromSize(const struct CouplerBus* bus) { return Eeprom(bus)->size; }

const char* BusEepromTypeName(uint32_t type) { return type < BUS_EEPROM_TYPE_COUNT ? EEPROMS[type].name : ""; }

int BusEepromTypeNamed(const char* name)
{
    for (int type = 0; type < BUS_EEPROM_TYPE_COUNT; ++type) {
        const char *a = EEPROMS[type].name, *b = name;
        while (*a && (*a == *b || (*a == 'C' && *b == 'c')))
            ++a, ++b;
        if (!*a && !*b)
            return type;
    }
    return -1;
}
