/* The I2C bus behind the virtual coupler (see bus.h): a decoder that sees
 * what every device on the bus sees, and three chips that take part in a
 * transfer through one SDA driver. Plain C99 over the record alone: no I/O,
 * no allocation, nothing outside the record. */
#include "bus.h"

#include <stdio.h>
#include <string.h>

#define TICKS_PER_MS 10000
#define WRITE_CYCLE_TICKS (5 * TICKS_PER_MS) /* the 24C02's tWR, 5 ms at most */
#define TIMEOUT_TICKS (30 * TICKS_PER_MS)    /* SMBus parts give up after 25..35 ms of SCL low */

#define EEPROM_ADDRESS 0x50
#define EXPANDER_ADDRESS 0x20
#define SENSOR_ADDRESS 0x48

#define SENSOR_CONFIG_POLARITY 0x04 /* O.S. active high */

/* ---- the log: one line per transfer, tokens separated by blanks ---- */

static void LogText(struct CouplerBus* bus, const char* text)
{
    for (; *text; ++text)
        bus->log[bus->logWrite++ % BUS_LOG_SIZE] = *text;
}

static void LogToken(struct CouplerBus* bus, const char* token)
{
    if (bus->logOpen)
        LogText(bus, " ");
    LogText(bus, token);
    bus->logOpen = 1;
}

static void LogEndLine(struct CouplerBus* bus)
{
    if (bus->logOpen)
        LogText(bus, "\n");
    bus->logOpen = 0;
}

static void LogByte(struct CouplerBus* bus, uint32_t value)
{
    static const char digits[] = "0123456789ABCDEF";
    char text[3] = {digits[(value >> 4) & 15], digits[value & 15], 0};
    LogToken(bus, text);
}

/* ---- the chips ---- */

static uint32_t ChipAt(uint32_t address7)
{
    switch (address7) {
    case EEPROM_ADDRESS:
        return BUS_CHIP_EEPROM;
    case EXPANDER_ADDRESS:
        return BUS_CHIP_EXPANDER;
    case SENSOR_ADDRESS:
        return BUS_CHIP_SENSOR;
    }
    return 0;
}

static int EepromBusy(const struct CouplerBus* bus, int64_t now) { return now < bus->busyUntil; }

/* Quasi-bidirectional pins: a latch 1 is a weak pull-up that the outside
 * world can pull down, a latch 0 drives low. */
static uint32_t PortPins(const struct CouplerBus* bus) { return bus->latch & bus->inputs; }

/* Comparator mode: O.S. becomes active when the temperature exceeds the
 * over-temperature limit and stays active until it falls below the
 * hysteresis limit. */
static void SensorCompare(struct CouplerBus* bus)
{
    if (bus->temperature > bus->overTemp)
        bus->osActive = 1;
    else if (bus->temperature < bus->hysteresis)
        bus->osActive = 0;
}

static int SensorPullsOsLow(const struct CouplerBus* bus)
{
    int activeHigh = (bus->config & SENSOR_CONFIG_POLARITY) != 0;
    return bus->osActive != (uint32_t)activeHigh;
}

/* A temperature register as sent: 9-bit two's complement in half degrees,
 * MSB first, the LSB's top bit holding the half. */
static uint32_t SensorReadByte(struct CouplerBus* bus)
{
    if (bus->sensorPointer == 1)
        return bus->config & 0xFF;
    int32_t half = bus->sensorPointer == 0 ? bus->temperature
                   : bus->sensorPointer == 2 ? bus->hysteresis
                                             : bus->overTemp;
    uint32_t value = bus->sensorByte == 0 ? ((uint32_t)half >> 1) & 0xFF : ((uint32_t)half & 1) << 7;
    bus->sensorByte ^= 1;
    return value;
}

static void SensorWriteByte(struct CouplerBus* bus, uint32_t value)
{
    if (bus->byteIndex == 1) { /* the first byte sets the pointer */
        bus->sensorPointer = value & 3;
        bus->sensorByte = 0;
        return;
    }
    if (bus->sensorPointer == 1) {
        bus->config = value;
    } else if (bus->sensorPointer >= 2) { /* the temperature itself is read-only */
        if (bus->sensorByte == 0) {
            bus->regLatch = value;
            bus->sensorByte = 1;
            return;
        }
        int32_t half = (int32_t)((bus->regLatch << 1) | (value >> 7));
        if (half & 0x100)
            half -= 0x200;
        if (bus->sensorPointer == 2)
            bus->hysteresis = half;
        else
            bus->overTemp = half;
        bus->sensorByte = 0;
    }
    SensorCompare(bus);
}

/* Word address first, then data into the page buffer: the low three bits of
 * the pointer count within the 8-byte page and wrap, later bytes overwrite
 * earlier ones. */
static void EepromWriteByte(struct CouplerBus* bus, uint32_t value)
{
    if (!bus->eepromWordSeen) {
        bus->eepromPointer = value & 0xFF;
        bus->eepromWordSeen = 1;
        return;
    }
    uint32_t offset = bus->eepromPointer & 7;
    bus->eepromPage[offset] = (uint8_t)value;
    bus->eepromMask |= 1u << offset;
    bus->eepromPointer = (bus->eepromPointer & 0xF8) | ((offset + 1) & 7);
}

/* The page buffer goes to the array at a STOP after whole bytes; with WP at
 * Vcc the chip has acknowledged everything but starts no write cycle and is
 * ready at once. */
static void EepromCommit(struct CouplerBus* bus, int64_t now)
{
    if (!bus->eepromMask || bus->writeProtect)
        return;
    uint32_t base = bus->eepromPointer & 0xF8;
    for (uint32_t offset = 0; offset < 8; ++offset)
        if (bus->eepromMask & (1u << offset))
            bus->eeprom[base + offset] = bus->eepromPage[offset];
    bus->busyUntil = now + bus->cycleTicks;
}

/* The byte the addressed chip sends next; reading the port releases INT. */
static uint32_t NextByte(struct CouplerBus* bus)
{
    uint32_t value = 0xFF;
    if (bus->active == BUS_CHIP_EEPROM) {
        value = bus->eeprom[bus->eepromPointer];
        bus->eepromPointer = (bus->eepromPointer + 1) & 0xFF; /* wraps over the whole array */
    } else if (bus->active == BUS_CHIP_EXPANDER) {
        value = PortPins(bus);
        bus->lastPort = value;
    } else if (bus->active == BUS_CHIP_SENSOR) {
        value = SensorReadByte(bus);
    }
    return value;
}

/* A data byte the master wrote to the addressed chip; writing the port
 * releases INT. Every chip acknowledges it. */
static void TakeByte(struct CouplerBus* bus, uint32_t value)
{
    if (bus->active == BUS_CHIP_EEPROM) {
        EepromWriteByte(bus, value);
    } else if (bus->active == BUS_CHIP_EXPANDER) {
        bus->latch = value;
        bus->lastPort = PortPins(bus);
    } else if (bus->active == BUS_CHIP_SENSOR) {
        SensorWriteByte(bus, value);
    }
}

/* Every chip leaves the transfer: SDA released, a page write committed only
 * when the transfer ended cleanly. */
static void DropTransfer(struct CouplerBus* bus, int clean, int64_t now)
{
    if (bus->active == BUS_CHIP_EEPROM && !(bus->address & 1) && clean)
        EepromCommit(bus, now);
    bus->eepromMask = 0;
    bus->eepromWordSeen = 0;
    bus->active = 0;
    bus->sending = 0;
    bus->drive = 1;
}

/* The address byte is complete (SCL fell after its eighth bit): the chip at
 * that address pulls SDA low for the acknowledge, unless it is switched off,
 * in its write cycle, or the bus acknowledges nothing. */
static void Address(struct CouplerBus* bus, int64_t now)
{
    bus->address = bus->shift & 0xFF;
    uint32_t chip = ChipAt(bus->address >> 1);
    if (!(chip & bus->chips) || bus->fault == BUS_FAULT_NO_ACK ||
        (chip == BUS_CHIP_EEPROM && EepromBusy(bus, now))) {
        bus->active = 0;
        return;
    }
    bus->active = chip;
    bus->sending = bus->address & 1;
    bus->sensorByte = 0;
    bus->eepromMask = 0;
    bus->eepromWordSeen = 0;
    bus->drive = 0;
}

/* ---- the decoder ---- */

static int TimedOut(const struct CouplerBus* bus, int64_t now)
{
    return bus->fault == BUS_FAULT_TIMEOUT && bus->active && !bus->scl && now - bus->sclFell > TIMEOUT_TICKS;
}

int BusHoldsSdaLow(const struct CouplerBus* bus, int64_t now)
{
    if (bus->fault == BUS_FAULT_NO_PULLUP)
        return 1;
    return bus->drive == 0 && !TimedOut(bus, now);
}

static uint32_t Level(const struct CouplerBus* bus, int64_t now) { return bus->sda && !BusHoldsSdaLow(bus, now); }

/* A START or STOP while SCL is high right after a rise: that rise was no
 * data bit. Returns the bits the interrupted byte had (0: it ended cleanly). */
static uint32_t BitsBeforeCondition(struct CouplerBus* bus)
{
    if (bus->risenHigh && bus->bit > 0)
        --bus->bit;
    bus->risenHigh = 0;
    return bus->bit;
}

static void Start(struct CouplerBus* bus, int64_t now)
{
    if (bus->inTransfer) {
        if (BitsBeforeCondition(bus))
            LogToken(bus, "?");
        LogToken(bus, "Sr");
    } else {
        LogEndLine(bus);
        LogToken(bus, "S");
    }
    DropTransfer(bus, 0, now);
    bus->inTransfer = 1;
    bus->bit = 0;
    bus->byteIndex = 0;
    bus->shift = 0;
}

static void Stop(struct CouplerBus* bus, int64_t now)
{
    if (!bus->inTransfer)
        return;
    uint32_t bits = BitsBeforeCondition(bus);
    if (bits)
        LogToken(bus, "?");
    LogToken(bus, "P");
    LogEndLine(bus);
    DropTransfer(bus, bits == 0, now);
    bus->inTransfer = 0;
    bus->bit = 0;
}

/* SCL rose: everybody samples SDA. Bits 1..8 shift in, bit 9 is the
 * acknowledge (low: ACK). A NACK from the master ends the chip's sending. */
static void Rise(struct CouplerBus* bus)
{
    bus->risenHigh = 0;
    if (!bus->inTransfer || bus->bit >= 9)
        return;
    ++bus->bit;
    bus->risenHigh = 1;
    if (bus->bit <= 8) {
        bus->shift = ((bus->shift << 1) | bus->level) & 0xFF;
        if (bus->bit == 8) {
            LogByte(bus, bus->byteIndex == 0 ? bus->shift >> 1 : bus->shift);
            if (bus->byteIndex == 0)
                LogToken(bus, (bus->shift & 1) ? "R" : "W");
        }
        return;
    }
    LogToken(bus, bus->level ? "N" : "A");
    if (bus->byteIndex > 0 && bus->sending && bus->level)
        bus->sending = 0;
}

/* SCL fell: the chip in the transfer changes its SDA now, and only now. */
static void Fall(struct CouplerBus* bus, int64_t now)
{
    bus->sclFell = now;
    bus->risenHigh = 0;
    if (!bus->inTransfer)
        return;
    if (bus->bit == 8) {
        if (bus->byteIndex == 0) {
            Address(bus, now);
        } else if (bus->active && !(bus->address & 1)) {
            TakeByte(bus, bus->shift);
            bus->drive = 0;
        } else {
            bus->drive = 1; /* the master's acknowledge */
        }
    } else if (bus->bit == 9) {
        bus->drive = 1;
        bus->bit = 0;
        bus->shift = 0;
        ++bus->byteIndex;
        if (bus->active && bus->sending) {
            bus->txByte = NextByte(bus);
            bus->drive = (bus->txByte >> 7) & 1;
        }
    } else if (bus->bit > 0 && bus->active && bus->sending) {
        bus->drive = (bus->txByte >> (7 - bus->bit)) & 1;
    }
}

/* The SDA change is taken while SCL is low when both lines changed in one
 * call (SDA first when SCL rises, last when it falls), so that a master
 * switching both at once, as an open or a close does, makes no START or
 * STOP. */
static void SdaChange(struct CouplerBus* bus, uint32_t sda, int64_t now)
{
    if (sda == bus->sda)
        return;
    bus->sda = sda;
    uint32_t level = Level(bus, now);
    if (bus->scl && level != bus->level) {
        if (level)
            Stop(bus, now);
        else
            Start(bus, now);
    }
    bus->level = Level(bus, now);
}

void BusLines(struct CouplerBus* bus, int scl, int sda, int64_t now)
{
    uint32_t newScl = scl != 0, newSda = sda != 0;
    bus->seen = now;
    if (TimedOut(bus, now)) {
        LogToken(bus, "T");
        DropTransfer(bus, 0, now);
    }
    if (newScl)
        SdaChange(bus, newSda, now);
    if (newScl != bus->scl) {
        bus->scl = newScl;
        bus->level = Level(bus, now);
        if (newScl)
            Rise(bus);
        else
            Fall(bus, now);
        bus->level = Level(bus, now);
    }
    SdaChange(bus, newSda, now);
}

int BusPullsIntLow(const struct CouplerBus* bus, int64_t now)
{
    (void)now;
    if ((bus->chips & BUS_CHIP_EXPANDER) && PortPins(bus) != bus->lastPort)
        return 1;
    return (bus->chips & BUS_CHIP_SENSOR) && bus->osToInt && SensorPullsOsLow(bus);
}

/* ---- settings ---- */

void BusPowerUp(struct CouplerBus* bus, uint32_t chips, int scl, int sda)
{
    uint8_t eeprom[sizeof bus->eeprom];
    memcpy(eeprom, bus->eeprom, sizeof eeprom);
    uint32_t lock = bus->lock, logWrite = bus->logWrite;
    memset(bus, 0, sizeof *bus);
    bus->lock = lock;
    memcpy(bus->eeprom, eeprom, sizeof eeprom);
    bus->logWrite = bus->logStart = logWrite;
    bus->chips = chips & BUS_CHIPS_ALL;
    /* The master's lines as they are: a power-up makes no START or STOP. */
    bus->scl = scl != 0;
    bus->sda = bus->level = sda != 0;
    bus->drive = 1;
    bus->cycleTicks = WRITE_CYCLE_TICKS;
    bus->latch = bus->inputs = bus->lastPort = 0xFF;
    bus->hysteresis = 150; /* 75 degC */
    bus->overTemp = 160;   /* 80 degC */
    bus->temperature = 43; /* 21.5 degC */
}

/* Any fault first ends the transfer on the bus. The stuck slave is the
 * EEPROM left in the middle of a read, sending a 0x00 byte from its first
 * bit: the normal state machine frees it after the master's clocks and a
 * STOP. */
void BusSetFault(struct CouplerBus* bus, uint32_t fault, int64_t now)
{
    bus->seen = now;
    DropTransfer(bus, 0, now);
    LogEndLine(bus);
    bus->inTransfer = 0;
    bus->bit = 0;
    bus->risenHigh = 0;
    bus->fault = fault < BUS_FAULT_COUNT ? fault : BUS_FAULT_NONE;
    if (bus->fault == BUS_FAULT_STUCK_SLAVE && (bus->chips & BUS_CHIP_EEPROM)) {
        bus->inTransfer = 1;
        bus->byteIndex = 1;
        bus->shift = 0;
        bus->address = (EEPROM_ADDRESS << 1) | 1;
        bus->active = BUS_CHIP_EEPROM;
        bus->sending = 1;
        bus->txByte = 0x00;
        bus->drive = 0;
    }
    bus->level = Level(bus, now);
}

void BusSetExpanderInputs(struct CouplerBus* bus, uint8_t inputs, int64_t now)
{
    bus->seen = now;
    bus->inputs = inputs;
}

void BusSetTemperature(struct CouplerBus* bus, int32_t halfDegrees)
{
    if (halfDegrees < -256)
        halfDegrees = -256;
    if (halfDegrees > 255)
        halfDegrees = 255;
    bus->temperature = halfDegrees;
    SensorCompare(bus);
}

void BusSetWriteProtect(struct CouplerBus* bus, int on) { bus->writeProtect = on != 0; }

void BusSetSensorInterrupt(struct CouplerBus* bus, int wiredToInt) { bus->osToInt = wiredToInt != 0; }

uint8_t* BusEepromMemory(struct CouplerBus* bus) { return bus->eeprom; }

/* ---- reading it out ---- */

uint32_t BusTakeLog(const struct CouplerBus* bus, uint32_t* read, char* text, uint32_t size)
{
    uint32_t end = bus->logWrite, from = *read;
    /* a reader from before the power-up, or ahead of a record written anew */
    if ((int32_t)(from - bus->logStart) < 0 || (int32_t)(end - from) < 0)
        from = bus->logStart;
    if (end - from > BUS_LOG_SIZE) /* overwritten meanwhile */
        from = end - BUS_LOG_SIZE;
    uint32_t count = end - from < size ? end - from : size;
    for (uint32_t i = 0; i < count; ++i)
        text[i] = bus->log[(from + i) % BUS_LOG_SIZE];
    *read = from + count;
    return count;
}

static const char* const FAULT_NAMES[BUS_FAULT_COUNT] = {"", "fault stuck-slave", "fault no-ack", "fault no-pullup",
                                                         "fault scl-timeout"};

/* Appends one part of the description, two blanks after the previous one. */
static void Part(char* text, uint32_t size, const char* part)
{
    size_t used = strlen(text);
    if (*part && used + 3 < size)
        snprintf(text + used, size - used, "%s%s", used ? "  " : "", part);
}

void BusDescribeAt(const struct CouplerBus* bus, int64_t now, char* text, uint32_t size)
{
    char part[96];
    if (!size)
        return;
    text[0] = 0;
    if (bus->chips & BUS_CHIP_EEPROM) {
        snprintf(part, sizeof part, "EEPROM ptr %02X page %02X %s%s", (unsigned)bus->eepromPointer,
                 (unsigned)(bus->eepromPointer & 0xF8), EepromBusy(bus, now) ? "writing" : "ready",
                 bus->writeProtect ? " WP" : "");
        Part(text, size, part);
    }
    if (bus->chips & BUS_CHIP_EXPANDER) {
        snprintf(part, sizeof part, "port latch %02X inputs %02X INT %s", (unsigned)bus->latch,
                 (unsigned)bus->inputs, PortPins(bus) != bus->lastPort ? "low" : "high");
        Part(text, size, part);
    }
    if (bus->chips & BUS_CHIP_SENSOR) {
        int32_t t = bus->temperature;
        snprintf(part, sizeof part, "temp %s%d.%d C ptr %u O.S. %s%s", t < 0 ? "-" : "", (int)((t < 0 ? -t : t) / 2),
                 (t & 1) ? 5 : 0, (unsigned)bus->sensorPointer, bus->osActive ? "active" : "off",
                 bus->osToInt ? " on INT" : "");
        Part(text, size, part);
    }
    if (!bus->chips)
        Part(text, size, "no chips");
    Part(text, size, FAULT_NAMES[bus->fault < BUS_FAULT_COUNT ? bus->fault : 0]);
}

void BusDescribe(const struct CouplerBus* bus, char* text, uint32_t size)
{
    BusDescribeAt(bus, bus->seen, text, size);
}

/* ---- the lock ---- */

/* A spin lock: both holders only step the model, for microseconds. */
void BusLock(struct CouplerBus* bus)
{
    while (__atomic_exchange_n(&bus->lock, 1u, __ATOMIC_ACQUIRE))
        while (__atomic_load_n(&bus->lock, __ATOMIC_RELAXED)) {
#if defined(__i386__) || defined(__x86_64__)
            __builtin_ia32_pause();
#endif
        }
}

void BusUnlock(struct CouplerBus* bus) { __atomic_store_n(&bus->lock, 0u, __ATOMIC_RELEASE); }
